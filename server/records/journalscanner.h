#pragma once

#include "common/result.h"
#include "server/records/journalcodec.h"

#include <QList>
#include <QString>

class QIODevice;

// What a reader of the journal does with its lines.
class JournalFold
{
public:
    virtual ~JournalFold() = default;
    // A well-formed line's event (its views hold during the call only);
    // false when this reader cannot use it: the line counts as damage.
    virtual bool take(const JournalEvent &event, qint64 lineNumber) = 0;
    // Whether a line of `kind` that is not well formed is damage to this
    // reader; kinds it does not read are passed over.
    virtual bool minds(JournalKind kind) const = 0;
    // True when the rest of the journal does not matter to this reader.
    virtual bool done() const { return false; }
};

// Reads a journal in pieces and hands each line's event to a fold: the file
// is never held whole, a line longer than MaxLineBytes is damage and so is a
// last line without its end. Lines end at LF, a CR before it dropped. The
// count of damaged lines and their numbers (the first few) go on over
// several scans, as do the line numbers.
class JournalScanner
{
public:
    static constexpr qsizetype MaxLineBytes = 64 * 1024;

    struct BadLine
    {
        qint64 number = 0;
        QString why;
    };

    explicit JournalScanner(qsizetype namedBadLines) : m_named(namedBadLines) {}

    // From `from` to the end of the file, or until the fold is done; fails
    // when the file cannot be read.
    Result<> scanFile(const QString &path, JournalFold &fold, qint64 from = 0);
    // From the device's position to its end.
    Result<> scan(QIODevice &device, JournalFold &fold);

    // Where the last complete line ended: a later scan may start there.
    qint64 end() const { return m_end; }
    qint64 badLines() const { return m_badLines; }
    const QList<BadLine> &namedBadLines() const { return m_namedBadLines; }

private:
    void takeLine(QByteArrayView line, bool whole, JournalFold &fold);
    void bad(const QString &why);

    qsizetype m_named;
    qint64 m_lineNumber = 0;
    qint64 m_end = 0;
    qint64 m_badLines = 0;
    QList<BadLine> m_namedBadLines;
};
