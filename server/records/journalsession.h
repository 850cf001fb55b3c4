#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>

// Which journal file a lecture writes to. A session is a lecture day: its
// files are "<date>_<lecture>.txt" and, after restarts that did not take the
// records back, "<date>_<lecture>_<n>.txt" (n from 2), all of one date. A
// file began at the time of its first timed line; the records of the
// session's last file are offered back only within 12 hours of that,
// whatever was written since.
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
// The file to write at `now`: the last file of today's or yesterday's
// session if it began within 12 hours (its records may be offered back),
// else a new file of today's session.
Choice journalToWrite(const QString &lectureName, const QDateTime &now);

} // namespace journalsession
