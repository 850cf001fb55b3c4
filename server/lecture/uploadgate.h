#pragma once

#include "server/lecture/assignmentdeadline.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

class AttendanceBook;

// What may turn a well-formed put line away before anything is stored,
// beyond its name: the cut-off of the assignment, and an earlier version of
// the file that could not be kept.
struct PutRefusal
{
    QString forStudent;     // the reason after "499 "
    QString detail;         // for the log
    bool journaled = false; // a refusal the lecture's records keep
};

// A file belongs to the student who attended on the connection
// (`attendedId`, empty when nobody did): its name is that ID, or the ID, a
// "." and more, and no longer roster ID claims it (AttendanceBook::ownerOf).
std::optional<PutRefusal> ownershipRefusal(const AttendanceBook &book, const QString &attendedId,
                                           const QString &fileName);

// An upload that receives no byte for this long, or that is still
// incomplete this long after the cut-off, is ended: a stalled client must not
// hold its connection, nor hand in long after the cut-off.
namespace uploadlimits {
constexpr int IdleMs = 60 * 1000;
constexpr qint64 AfterCutoffSeconds = 10 * 60;
// The idle limit now; tests shorten it (0: IdleMs again).
int idleMs();
void setIdleMsForTests(int ms);
bool overdue(const AssignmentDeadline &deadline, const QDateTime &now);
// What the student and the log are told when an upload is ended.
PutRefusal stalledEnd();
PutRefusal overdueEnd();
} // namespace uploadlimits

// What the assignment takes, from the roster: kakutyousi, blank separated
// extensions with or without the dot in any case, and saidai, a size with
// an optional K, M or G (1024 each). Empty: any extension, any size.
struct AcceptedFiles
{
    QStringList suffixes; // ".c", lower case, in the roster's order
    qint64 maxBytes = 0;  // 0: no limit
    QString maxText;      // "10 MB", as the student is told

    bool operator==(const AcceptedFiles &other) const = default;
};
// Values that cannot be read are left out with a warning for the log.
struct AcceptedFilesReading
{
    AcceptedFiles accepted;
    QStringList warnings;
};
AcceptedFilesReading readAcceptedFiles(const QString &kakutyousi, const QString &saidai);
// A put line for another extension or a larger size, answered at once.
std::optional<PutRefusal> acceptanceRefusal(const AcceptedFiles &accepted, const QString &fileName,
                                            qint64 size);

// The checks of a put line after its owner: the cut-off, what the
// assignment accepts, and whether an earlier version can be kept.
struct PutCheck
{
    AssignmentDeadline deadline; // the student's own
    AcceptedFiles accepted;
    QString folder;
    QString fileName;
    qint64 size = 0;
    int keptVersions = 0;
};
std::optional<PutRefusal> refusalBeforeUpload(const PutCheck &put, const QDateTime &now);
