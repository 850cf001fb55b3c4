#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Which journal file a lecture writes to. A session is a lecture day: its
// files are "<date>_<lecture>.txt" and, after restarts that did not take the
// records back, "<date>_<lecture>_<n>.txt" (n from 2), all of one date. The
// session began at the time of the first timed line of its first file;
// records are offered back only within 12 hours of that, whatever was
// written since.
namespace journalsession {

constexpr int MaxFiles = 999;

// The session's files of `day` that exist, first to last.
QStringList filesOf(const QString &lectureName, QDate day);
// The file number `number` (1: the first) of the session of `day`.
QString fileFor(const QString &lectureName, QDate day, int number);
// When the journal at `path` dated `day` began; invalid without a timed line.
QDateTime begunAt(const QString &path, QDate day);

struct Choice
{
    QString path;
    QDate day; // of the session
};
// The file to write at `now`: the last one of a session begun within 12
// hours (its records may be offered back), else a new file of today's
// session, a continuation when today already has one.
Choice journalToWrite(const QString &lectureName, const QDateTime &now);

} // namespace journalsession
