#include "server/app/classrules.h"

#include "common/clock.h"
#include "common/wire.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/records/lecturejournal.h"

#include <QFileInfo>

ClassRules::ClassRules(const Lecture &lecture, AttendanceBook &book, LectureJournal &journal,
                       QObject *parent)
    : ClassDesk(parent), m_lecture(lecture), m_book(book), m_journal(journal)
{
    connect(&m_book, &AttendanceBook::logEntry, this, &ClassDesk::logEntry);
    connect(&m_lecture, &Lecture::kadaidirChanged, this,
            [this](const QString &path) { Q_EMIT folderChanged(Folder::Assignments, path); });
    connect(&m_lecture, &Lecture::haifudirChanged, this,
            [this](const QString &path) { Q_EMIT folderChanged(Folder::Handouts, path); });
    connect(&m_lecture, &Lecture::henkyakudirChanged, this,
            [this](const QString &path) { Q_EMIT folderChanged(Folder::Returns, path); });
}

QString ClassRules::lectureLine() const
{
    return wire::lectureLine(m_lecture.kougimei(), m_lecture.tantousya());
}

QString ClassRules::folder(Folder which) const
{
    switch (which) {
    case Folder::Assignments:
        return m_lecture.kadaidir();
    case Folder::Handouts:
        return m_lecture.haifudir();
    case Folder::Returns:
        break;
    }
    return m_lecture.henkyakudir();
}

ClassDesk::Attended ClassRules::attend(const QString &userId, const QString &address,
                                       bool roomForRecord)
{
    const QString time = RosterGrid::timeStamp(Clock::now().time());
    const AttendanceBook::Claim claim = m_book.claim(userId, address, time);
    switch (claim.attendance) {
    case AttendanceBook::Attendance::Taken:
        m_journal.recordMark(claim.row, userId, time, address);
        return {true, wire::AttendanceTaken};
    case AttendanceBook::Attendance::Already:
        if (claim.furtherAddress)
            m_journal.recordClaimAgain(claim.row, userId, address, time);
        return {true, wire::AttendanceAlready};
    case AttendanceBook::Attendance::Unknown:
        break;
    }
    // Not yet on the roster (registration not settled): kept, so that the
    // ledger counts the day once the roster holds the ID.
    if (roomForRecord && m_journal.recordOffRoster(userId, address, time)) {
        m_book.noteOffRoster(userId, address, time);
        return {false, wire::BadUserId, true};
    }
    return {false, wire::BadUserId};
}

ClassDesk::PutDecision ClassRules::decidePut(const QString &userId, const wire::PutRequest &request,
                                             int keptVersions)
{
    const QString &fileName = request.fileName;
    PutDecision decision{ownershipRefusal(m_book, userId, fileName), m_lecture.kadaidir(),
                         m_lecture.kougimei(), m_lecture.deadlineOf(userId)};
    if (decision.refusal)
        return decision;
    // A folder of that name would only refuse the finished file.
    if (QFileInfo(decision.folder + u'/' + fileName).isDir()) {
        decision.refusal = PutRefusal{QStringLiteral("同じ名前のフォルダがあるため保存できません｡"),
                                      QStringLiteral("同じ名前のフォルダがあります")};
        return decision;
    }
    decision.refusal = refusalBeforeUpload({decision.deadline, m_lecture.accepted(),
                                            decision.folder, fileName, request.size, keptVersions},
                                           Clock::now());
    return decision;
}

void ClassRules::refuse(const QString &userId, const QString &fileName, const QString &reason)
{
    const QString time = RosterGrid::timeStamp(Clock::now().time());
    m_book.recordRefusal(userId, fileName, reason, time);
    m_journal.recordRefusal(userId, fileName, reason, time);
}

ClassDesk::Receipt ClassRules::receive(const Upload &upload)
{
    AttendanceBook::Submission submission;
    submission.userId = upload.userId;
    submission.fileName = upload.fileName;
    submission.size = upload.size;
    submission.sha256 = upload.sha256;
    // The date, the lateness and the time of day of the receipt: one instant.
    submission.completedAt = Clock::now();
    submission.lateSeconds = deadlineFor(upload.userId, upload.folder, upload.deadline)
                                 .lateSeconds(submission.completedAt);
    submission.versions = upload.versions;
    submission.folder = upload.folder;
    if (upload.lecture != m_lecture.kougimei())
        submission.earlierLecture = upload.lecture;
    m_book.recordSubmission(submission);
    m_receipts.insert(upload.fileName,
                      {upload.userId,
                       {upload.size, upload.sha256,
                        submission.completedAt.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"))}});
    m_journal.recordSubmission(submission, RosterGrid::timeStamp(submission.completedAt.time()));
    return {submission.lateSeconds, submission.earlierLecture.has_value(), wire::ReceiveComplete};
}

QString ClassRules::receiptReply(const QString &userId, const QString &fileName) const
{
    if (userId.isEmpty())
        return wire::refusalLine(QStringLiteral("出席を登録してから問い合わせてください｡"));
    const auto kept = m_receipts.constFind(fileName);
    if (ownershipRefusal(m_book, userId, fileName) ||
        (kept != m_receipts.cend() && kept->userId != userId))
        return wire::refusalLine(QStringLiteral("あなたのファイルではありません｡"));
    if (kept == m_receipts.cend())
        return wire::refusalLine(QStringLiteral("そのファイルは受け取っていません｡"));
    return wire::receiptLine(kept->receipt);
}

AssignmentDeadline ClassRules::deadlineFor(const QString &userId, const QString &folder,
                                           const AssignmentDeadline &atPut) const
{
    return folder == m_lecture.kadaidir() ? m_lecture.deadlineOf(userId) : atPut;
}

void ClassRules::deliver(const QString &who, const QString &fileName, const QByteArray &sha256)
{
    m_journal.recordHandout(who, fileName, sha256, RosterGrid::timeStamp(Clock::now().time()));
}

QString ClassRules::returnOwner(const QString &fileName) const
{
    return m_book.ownerOf(fileName, u"._");
}

void ClassRules::deliverReturn(const QString &userId, const QString &fileName,
                               const QByteArray &sha256)
{
    m_journal.recordReturn(userId, fileName, sha256, RosterGrid::timeStamp(Clock::now().time()));
}
