#include "server/records/journalsession.h"

#include "server/records/journalscanner.h"
#include "server/records/lecturejournal.h"

#include <QFileInfo>

namespace {

// Stops at the first line that carries a time.
class FirstTime : public JournalFold
{
public:
    bool take(const JournalEvent &event, qint64) override
    {
        if (event.kind != JournalKind::Lecture && event.seconds >= 0 && !event.time.isEmpty())
            m_seconds = event.seconds;
        return true;
    }
    bool minds(JournalKind) const override { return false; }
    bool done() const override { return m_seconds >= 0; }
    int seconds() const { return m_seconds; }

private:
    int m_seconds = -1;
};

// When the last of a session's files began: a file without a timed line
// goes with the one before it, and a file that began at an earlier time of
// day than the one before began after midnight.
QDateTime lastBegun(const QStringList &files, QDate day)
{
    QDateTime last;
    for (const QString &path : files) {
        QDateTime began = journalsession::begunAt(path, day);
        if (!began.isValid())
            continue;
        while (last.isValid() && began < last)
            began = began.addDays(1);
        last = began;
    }
    return last;
}

} // namespace

namespace journalsession {

QString fileFor(const QString &lectureName, QDate day, int number)
{
    const QString first = LectureJournal::pathFor(lectureName, day);
    return number <= 1 ? first : first.chopped(4) + QStringLiteral("_%1.txt").arg(number);
}

QStringList filesOf(const QString &lectureName, QDate day)
{
    QStringList files;
    for (int number = 1; number <= MaxFiles; ++number) {
        const QString path = fileFor(lectureName, day, number);
        if (!QFileInfo::exists(path))
            break;
        files << path;
    }
    return files;
}

QDateTime begunAt(const QString &path, QDate day)
{
    FirstTime first;
    JournalScanner scanner(0);
    if (!scanner.scanFile(path, first) || first.seconds() < 0)
        return {};
    return QDateTime(day, QTime::fromMSecsSinceStartOfDay(first.seconds() * 1000));
}

Choice journalToWrite(const QString &lectureName, const QDateTime &now)
{
    const QDate today = now.date();
    for (const QDate day : {today, today.addDays(-1)}) {
        const QStringList files = filesOf(lectureName, day);
        if (files.isEmpty())
            continue;
        const QDateTime began = lastBegun(files, day);
        const bool recent = began.isValid() && began <= now &&
                            began.secsTo(now) < qint64(LectureJournal::RecentHours) * 3600;
        // A journal that holds nothing yet simply goes on.
        if (recent || (!began.isValid() && day == today))
            return {files.last(), day};
        if (day == today)
            return {fileFor(lectureName, today, int(files.size()) + 1), today};
    }
    return {fileFor(lectureName, today, 1), today};
}

} // namespace journalsession
