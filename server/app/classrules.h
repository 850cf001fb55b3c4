#pragma once

#include "common/wire.h"
#include "server/net/classdesk.h"

#include <QDateTime>
#include <QHash>

class AttendanceBook;
class Lecture;
class LectureJournal;

// The class's rules for a student's requests, in one place: each asks the
// book, writes the journal and only then returns the reply, and each reads
// the clock once, so that a record's date and time of day are one instant.
class ClassRules : public ClassDesk
{
    Q_OBJECT
public:
    ClassRules(const Lecture &lecture, AttendanceBook &book, LectureJournal &journal,
               QObject *parent = nullptr);

    QString lectureLine() const override;
    QString folder(Folder which) const override;
    Attended attend(const QString &userId, const QString &address, bool roomForRecord) override;
    PutDecision decidePut(const QString &userId, const wire::PutRequest &request,
                          int keptVersions) override;
    void refuse(const QString &userId, const QString &fileName, const QString &reason) override;
    Receipt receive(const Upload &upload) override;
    QString receiptReply(const QString &userId, const QString &fileName) const override;
    AssignmentDeadline deadlineFor(const QString &userId, const QString &folder,
                                   const AssignmentDeadline &atPut) const override;
    void deliver(const QString &who, const QString &fileName, const QByteArray &sha256) override;
    QString returnOwner(const QString &fileName) const override;
    void deliverReturn(const QString &userId, const QString &fileName,
                       const QByteArray &sha256) override;

private:
    const Lecture &m_lecture;
    AttendanceBook &m_book;
    LectureJournal &m_journal;
    // The last receipt per stored file name, and whose it is.
    struct Kept
    {
        QString userId;
        wire::ReceiptInfo receipt;
    };
    QHash<QString, Kept> m_receipts;
};
