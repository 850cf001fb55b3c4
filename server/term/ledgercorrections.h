#pragma once

#include "common/result.h"
#include "server/term/ledger.h"

#include <QDate>
#include <QHash>
#include <QString>
#include <map>
#include <optional>
#include <set>

// What the lecturer changed in the ledger by hand: a student's status at a
// session (公 for an excused absence, 出 or 欠), sessions held without the
// server, and dates dropped (a test run). Kept in a file of its own beside
// the journals, which are never rewritten; code page 932, CR LF:
//   講義,<lecture name>
//   訂正,<YYYY-MM-DD>,<出|欠|公>,<user ID>,<reason, may hold commas>
//   追加,<YYYY-MM-DD>
//   削除,<YYYY-MM-DD>
class LedgerCorrections
{
public:
    struct Cell
    {
        SessionStatus status = SessionStatus::Excused;
        QString reason;
        QString file = {}; // the corrections file it was read from
    };

    // The corrections file of a lecture, in the journal folder.
    static QString pathFor(const QString &lectureName);

    // Reads `path`; a missing file is no corrections. Lines that cannot be
    // read are named in problems().
    Result<> load(const QString &path, const QString &lectureName);
    // Adds the corrections of another machine's file at `path` (a missing
    // file adds none); where both say something of a cell or a date, the
    // file read later wins. Fails as load() does, changing nothing.
    Result<> merge(const QString &path, const QString &lectureName);
    // Every correction read from `path`, as "<file>: <date> <status> <ID>".
    QStringList describeFrom(const QString &path) const;
    // Writes all corrections to `path`, replacing it as one step.
    Result<> save(const QString &path, const QString &lectureName) const;

    std::optional<Cell> cell(QDate date, const QString &userId) const;
    void setCell(QDate date, const QString &userId, SessionStatus status, const QString &reason);
    void clearCell(QDate date, const QString &userId);

    const std::set<QDate> &addedSessions() const { return m_added; }
    const std::set<QDate> &droppedSessions() const { return m_dropped; }
    void addSession(QDate date);
    void dropSession(QDate date);

    const QStringList &problems() const { return m_problems; }

private:
    void readLine(const QString &line, int number);

    QString m_reading; // the file load() reads

    std::map<std::pair<QDate, QString>, Cell> m_cells;
    std::set<QDate> m_added;
    std::set<QDate> m_dropped;
    QStringList m_problems;
};
