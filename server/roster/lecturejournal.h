#pragma once

#include "server/roster/attendancebook.h"
#include "server/roster/journalfile.h"

#include <QDate>
#include <QObject>
#include <QSet>
#include <QString>

class Lecture;
class MessageBox;
class TextLog;

// The lecture's records that must outlive the program: every attendance mark
// and every stored submission, appended to a text file per lecture and day
// before the student hears the answer. Opening the roster again the same day
// offers them back into the grid.
//
// A line is one event, code page 932, ended by CR LF:
//   講義,<lecture name>                              (first line of a file)
//   出席,<hh:mm:ss>,<grid row>,<user ID>,<address>
//   提出,<hh:mm:ss>,<user ID>,<file name>,<size>,<SHA-256 in hex>,<yyyy/MM/dd>,
//        <"締切後" + seconds + "秒" when late, else empty>,<versions kept>,<folder>
//   拒否,<hh:mm:ss>,<user ID>,<file name>,<reason>     (a put line refused)
//   再申告,<hh:mm:ss>,<grid row>,<user ID>,<address>  (present, claimed again
//                                                    from another address)
//   配布,<hh:mm:ss>,<user ID or address>,<file name>,<SHA-256 in hex>
//                                  (a handout delivered; the name may hold ",")
class LectureJournal : public QObject
{
    Q_OBJECT
public:
    LectureJournal(const Lecture &lecture, AttendanceBook &book, QObject *parent = nullptr);

    // The folder of the journals and the day logs, in the user's data folder.
    static QString folder();
    // The journal of `lectureName` on `day`: any name gets a file name of its
    // own, readable where the name allows it.
    static QString pathFor(const QString &lectureName, QDate day);

    void recordMark(int row, const QString &userId, const QString &time, const QString &address);
    void recordSubmission(const AttendanceBook::Submission &submission, const QString &time);
    void recordClaimAgain(int row, const QString &userId, const QString &address);
    void recordHandout(const QString &who, const QString &fileName, const QByteArray &sha256);
    void recordRefusal(const QString &userId, const QString &fileName, const QString &reason,
                       const QString &time);

    // After a roster load: when today's journal of the lecture exists, asks
    // whether to put its records back into the grid. Yes restores them and
    // continues that journal; no keeps it under another name and starts anew.
    void offerRestore(MessageBox &messages, TextLog &log);

Q_SIGNALS:
    // A journal cannot be written; sent once per file, the text ready to show.
    void failed(const QString &text);

private:
    void write(const QString &line);
    bool openToday();
    void restore(const QByteArray &journal, TextLog &log);
    void startAfresh(qint64 keptBytes, TextLog &log);
    void fileFailed(const QString &path, const QString &reason);

    const Lecture &m_lecture;
    AttendanceBook &m_book;
    JournalFile m_file;
    QDate m_day;         // of the open file
    QString m_openedFor; // the lecture name it was opened for
    QSet<QString> m_reported;
};
