#pragma once

#include "server/lecture/assignmentdeadline.h"

#include <QDateTime>
#include <QString>
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

std::optional<PutRefusal> refusalBeforeUpload(const AssignmentDeadline &deadline,
                                              const QDateTime &now, const QString &folder,
                                              const QString &fileName, int keptVersions);
