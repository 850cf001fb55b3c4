#pragma once

#include "common/result.h"
#include "server/records/journalscanner.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

// Reads a lecture journal for the attendance marks it holds, as a stream.
// Lines of kinds it does not need are passed over; a line of a kind that
// keeps time (marks, receipts, claims) that is not well-formed (a torn last
// line, a time that is no time) is skipped and named in problems().
class JournalReader : private JournalFold
{
public:
    struct Mark
    {
        QString userId;
        // After midnight of the day the journal is dated; a lecture that went
        // on past midnight gives times beyond 24 hours.
        int seconds = 0;
    };

    // `lectureName`: the lecture the journal must be of.
    JournalReader(QString path, QString lectureName);
    // Reads on from where `earlier`, a journal of the same day written
    // before this one, ended: past midnight there, past midnight here.
    void continueAfter(const JournalReader &earlier)
    {
        m_lastSeconds = earlier.m_lastSeconds;
        m_dayOffset = earlier.m_dayOffset;
    }

    // Hands every attendance mark to `take` in the order written, unless the
    // first line "講義,<name>" names another lecture; fails when the journal
    // cannot be read (the system's reason).
    Result<> read(const std::function<void(const Mark &)> &take);
    // The lecture of the first line; empty when there is none.
    const QString &lectureName() const { return m_lectureName; }
    const QString &path() const { return m_path; }
    bool isOfLecture() const { return m_lectureName == m_expected; }
    const QStringList &problems() const { return m_problems; }

private:
    bool take(const JournalEvent &event, qint64 lineNumber) override;
    bool minds(JournalKind kind) const override;
    bool done() const override { return m_headerRead && !isOfLecture(); }
    int secondsOf(const JournalEvent &event);

    QString m_path;
    QString m_expected;
    QString m_lectureName;
    bool m_headerRead = false;
    const std::function<void(const Mark &)> *m_take = nullptr;
    int m_lastSeconds = -1;
    int m_dayOffset = 0;
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
