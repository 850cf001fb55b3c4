#pragma once

#include <QDate>
#include <QFile>
#include <QString>
#include <QStringList>
#include <map>

// Reads a lecture journal line by line, never the whole file at once, for
// the attendance marks it holds. Lines of kinds it does not know are passed
// over; a line of a known kind that is not well-formed (a torn last line, a
// time that is no time) is skipped and named in problems().
class JournalReader
{
public:
    struct Mark
    {
        QString userId;
        // After midnight of the day the journal is dated; a lecture that went
        // on past midnight gives times beyond 24 hours.
        int seconds = 0;
    };

    explicit JournalReader(const QString &path);

    // Opens the journal and reads its first line. False when it cannot be
    // read; error() says why.
    bool open();
    const QString &error() const { return m_error; }
    // The lecture of the first line "講義,<name>"; empty when there is none.
    const QString &lectureName() const { return m_lectureName; }

    // The next attendance mark in the order written; false at the end.
    bool nextMark(Mark &mark);
    const QStringList &problems() const { return m_problems; }

private:
    bool nextLine(QString &line);
    bool takeTime(const QString &text, int &seconds);
    void skip(const QString &why);

    QFile m_file;
    QString m_error;
    QString m_lectureName;
    QString m_pendingLine; // the first line when it is no header
    bool m_hasPending = false;
    int m_lineNumber = 0;
    int m_lastSeconds = -1;
    int m_dayOffset = 0;
    int m_skipped = 0;
    QStringList m_problems;
};

// The journals of one lecture in some folders, by the date they carry.
struct LectureJournals
{
    std::map<QDate, QStringList> byDate;
    QStringList problems;
};

// Finds the journals of `lectureName` dated from `from` to `to` in each of
// `folders`: the file names the server gives them, kept copies included.
// Files of other lectures, day logs and lock files are none of its business.
LectureJournals findLectureJournals(const QString &lectureName, const QStringList &folders,
                                    QDate from, QDate to);
