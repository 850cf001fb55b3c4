#pragma once

#include "common/wire.h"
#include "server/folders/handoutcatalog.h"
#include "server/lecture/assignmentdeadline.h"
#include "server/lecture/uploadgate.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

// What the conversation asks of the lecture: the sockets know the class only
// through this desk. Every answer that the records keep has been written to
// them by the time it is returned, so the reply can go out at once.
class ClassDesk : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    using Folder = HandoutCatalog::Folder;

    // The line that tells a greeted student which lecture this is.
    virtual QString lectureLine() const = 0;
    // The lecture's folder of that kind now (assignments, handouts, returns).
    virtual QString folder(Folder which) const = 0;

    struct Attended
    {
        bool accepted = false; // the roster took the ID: it may hand in files
        QString reply;
        bool recorded = false; // a record the client's budget pays for
    };
    // A "user" line from `address`; `roomForRecord`: the client's budget
    // still holds a record (an ID the roster does not hold costs one).
    virtual Attended attend(const QString &userId, const QString &address, bool roomForRecord) = 0;

    struct PutDecision
    {
        std::optional<PutRefusal> refusal;
        QString folder;              // the folder shown now: it receives the whole file
        QString lecture;             // the lecture open now: the receipt belongs to it
        AssignmentDeadline deadline; // the student's own
    };
    // A well-formed put line of the student who attended as `userId`.
    virtual PutDecision decidePut(const QString &userId, const wire::PutRequest &request,
                                  int keptVersions) = 0;
    // A put line turned away that the records keep (PutRefusal::journaled).
    virtual void refuse(const QString &userId, const QString &fileName, const QString &reason) = 0;

    struct Upload
    {
        QString userId;
        QString fileName;
        qint64 size = 0;
        QByteArray sha256;
        int versions = 1;
        QString folder = {};              // as decided for the put line
        QString lecture = {};             // as decided for the put line
        AssignmentDeadline deadline = {}; // as decided for the put line
    };
    struct Receipt
    {
        qint64 lateSeconds = 0;
        bool earlierLecture = false; // stored for a lecture no longer open
        QString reply;
    };
    // A file stored whole.
    virtual Receipt receive(const Upload &upload) = 0;
    // A "hash" line: the 403 line of the receipt kept for `fileName` when
    // it is the file of the student who attended as `userId`, else a 499
    // line. Answered from what receive() recorded: no file is read.
    virtual QString receiptReply(const QString &userId, const QString &fileName) const = 0;
    // The deadline `userId`'s upload into `folder` is held to now: a
    // deadline changed during the upload counts if the folder is still the
    // one shown.
    virtual AssignmentDeadline deadlineFor(const QString &userId, const QString &folder,
                                           const AssignmentDeadline &atPut) const = 0;
    // A handout sent whole to `who` (a user ID, or the address without one).
    virtual void deliver(const QString &who, const QString &fileName, const QByteArray &sha256) = 0;
    // The student a file of the returns folder is for: the longest roster ID
    // its name begins with, followed by "." or "_"; empty when nobody's.
    virtual QString returnOwner(const QString &fileName) const = 0;
    // A returned file sent whole to the student it is for.
    virtual void deliverReturn(const QString &userId, const QString &fileName,
                               const QByteArray &sha256) = 0;

Q_SIGNALS:
    void logEntry(const QString &entry);
    void folderChanged(ClassDesk::Folder which, const QString &path);
};
