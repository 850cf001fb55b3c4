#pragma once

#include "common/result.h"
#include "server/lecture/attendancebook.h"
#include "server/records/journalcodec.h"
#include "server/records/journalfile.h"
#include "server/records/journallock.h"
#include "server/records/journalsummary.h"

#include <QDate>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <optional>

class Lecture;
class MessageBox;
class TextLog;

// The lecture's records that must outlive the program: every attendance mark
// and every stored submission, appended to a text file per lecture before the
// student hears the answer. A lecture keeps one journal from its opening to
// its closing, past midnight too; the file is named after the day it began.
// Opening the roster again within 12 hours offers the records back into the
// grid. Only one running program writes a lecture's journal. A session is
// a lecture day (journalsession.h): a restart that does not take the records
// back goes on in another file of the same day.
//
// The lines are those of the journal's codec (journalcodec.h).
// A user ID the roster does not hold is written in a bounded form: its first
// 32 characters and its length.
class LectureJournal : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype ShownIdChars = 32;
    static constexpr int RecentHours = 12;
    // A flood of made-up IDs must not fill the journal.
    static constexpr qsizetype MaxOffRosterIds = 2000;

    LectureJournal(const Lecture &lecture, AttendanceBook &book, QObject *parent = nullptr);

    // The folder of the journals and the day logs, in the user's data folder.
    static QString folder();
    // The journal of `lectureName` begun on `day`: any name gets a file name
    // of its own, readable where the name allows it.
    static QString pathFor(const QString &lectureName, QDate day);
    // `userId` as a journal or a log may hold it: commas and control
    // characters replaced, and cut to ShownIdChars with its length noted.
    static QString boundedId(const QString &userId);

    void recordMark(int row, const QString &userId, const QString &time, const QString &address);
    void recordSubmission(const AttendanceBook::Submission &submission, const QString &time);
    void recordClaimAgain(int row, const QString &userId, const QString &address,
                          const QString &time);
    void recordHandout(const QString &who, const QString &fileName, const QByteArray &sha256,
                       const QString &time);
    void recordReturn(const QString &userId, const QString &fileName, const QByteArray &sha256,
                      const QString &time);
    void recordRefusal(const QString &userId, const QString &fileName, const QString &reason,
                       const QString &time);
    // An ID answered 501, once per lecture; false when it is not written
    // (already written, or too many such IDs).
    bool recordOffRoster(const QString &userId, const QString &address, const QString &time);

    // After a roster load: when a session of the lecture began within the
    // last 12 hours, asks whether to put its records back into the grid. Yes
    // restores them and continues that journal; no keeps it as it is and
    // starts a new file of the same session. A lecture another program has
    // open is left to it.
    void offerRestore(MessageBox &messages, TextLog &log);
    // The program is ending: an open question gets no answer from it.
    void endProgram() { m_ending = true; }

Q_SIGNALS:
    // A journal cannot be written; sent once until writing works again, the
    // text ready to show.
    void failed(const QString &text);

private:
    void write(const QByteArray &line);
    void recordDelivery(JournalKind kind, const QString &who, const QString &fileName,
                        const QByteArray &sha256, const QString &time);
    bool follow();
    void beginLecture();
    QString recordedId(const QString &userId) const;
    void writeToEarlierLecture(const QString &lecture, const QByteArray &line);
    void restore(const JournalSummary &records, TextLog &log);
    bool restoreOffRoster(const QString &userId, const JournalSummary::Mark &claim);
    void startAfresh(qint64 keptBytes, TextLog &log);
    bool report(const Result<> &outcome, const QString &path = QString());

    const Lecture &m_lecture;
    AttendanceBook &m_book;
    JournalFile m_file;
    JournalLock m_lock;
    std::optional<QString> m_openedFor; // the lecture the journal is of
    QString m_path;                     // its journal
    QDate m_sessionDay;                 // the lecture day it belongs to
    bool m_heldElsewhere = false;       // another program writes it
    bool m_ending = false;
    bool m_failing = false;
    QHash<QString, QString> m_earlier; // journals of earlier lectures of this run
    QSet<QString> m_offRoster;         // IDs written as 名簿外 for this lecture
};
