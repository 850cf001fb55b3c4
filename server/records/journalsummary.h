#pragma once

#include "server/records/journalscanner.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

// What a lecture journal holds, read as a stream: the file is never held
// whole, and what is kept is bounded whatever the file's size. Per user ID:
// the first attendance, further addresses it was claimed from, the latest
// submission and the first claim of an ID off the roster, in the order the
// IDs first appear.
//
// Only complete, well-formed lines of attendance and receipts count, an
// attendance only from a dotted address and an ID of at most MaxIdBytes.
// Kinds that say nothing of either are passed over; broken lines of the
// kinds read are counted and their numbers kept for the lecturer.
class JournalSummary : private JournalFold
{
public:
    struct Mark
    {
        QByteArray time;
        QByteArray address;
    };
    // The latest submission: its time and how late it came.
    struct Stamp
    {
        QByteArray time;
        qint64 lateSeconds = 0;
    };
    // Beyond these, IDs and their events are only counted: no real roster
    // is that long, and a flooded journal must not fill the memory.
    static constexpr qsizetype MaxIds = 50000;
    static constexpr qsizetype MaxIdBytes = 256;
    static constexpr qsizetype NamedSkips = 5;

    // Reads `path` from byte `from` to its end; fails when it cannot be read.
    Result<> read(const QString &path, qint64 from = 0);

    // Where the last complete line ended: the next read starts there.
    qint64 end() const { return m_scanner.end(); }
    qsizetype presentCount() const { return m_markOrder.size(); }
    qsizetype submittedCount() const { return m_stampOrder.size(); }
    bool isEmpty() const { return m_markOrder.isEmpty() && m_stampOrder.isEmpty(); }

    // In the order the IDs first appear; IDs decoded from code page 932.
    const QList<QByteArray> &markOrder() const { return m_markOrder; }
    bool hasMark(const QByteArray &id) const { return m_marks.contains(id); }
    const Mark &mark(const QByteArray &id) const { return m_marks.find(id).value(); }
    const QList<QByteArray> &stampOrder() const { return m_stampOrder; }
    const Stamp &stamp(const QByteArray &id) const { return m_stamps.find(id).value(); }
    // IDs answered 501 (名簿外), with where and when they first claimed.
    const QList<QByteArray> &offRosterOrder() const { return m_offRosterOrder; }
    const Mark &offRoster(const QByteArray &id) const { return m_offRoster.find(id).value(); }
    const QList<std::pair<QByteArray, QByteArray>> &otherAddresses() const { return m_others; }

    qint64 skippedLines() const { return m_scanner.badLines(); }
    QList<qint64> namedSkips() const;
    qint64 idsLeftOut() const { return m_idsLeftOut; }

private:
    bool take(const JournalEvent &event, qint64 lineNumber) override;
    bool minds(JournalKind kind) const override;
    bool roomFor(const QByteArray &id);
    void takeMark(const JournalEvent &event);
    void takeClaim(const JournalEvent &event);
    void takeSubmission(const JournalEvent &event);
    void takeOffRoster(const JournalEvent &event);

    JournalScanner m_scanner{NamedSkips};
    QHash<QByteArray, Mark> m_marks;
    QList<QByteArray> m_markOrder;
    QHash<QByteArray, Stamp> m_stamps;
    QList<QByteArray> m_stampOrder;
    QSet<QByteArray> m_othersSeen; // ID and address joined by a comma
    QList<std::pair<QByteArray, QByteArray>> m_others;
    QHash<QByteArray, Mark> m_offRoster;
    QList<QByteArray> m_offRosterOrder;
    QSet<QByteArray> m_ids;
    qint64 m_idsLeftOut = 0;
};
