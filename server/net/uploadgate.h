#pragma once

#include "server/roster/assignmentdeadline.h"

#include <QDateTime>
#include <QString>
#include <optional>

// What may turn a well-formed put line away before anything is stored,
// beyond its name: the cut-off of the assignment, and an earlier version of
// the file that could not be kept.
struct PutRefusal
{
    QString forStudent;     // the reason after "499 "
    QString detail;         // for the log
    bool journaled = false; // a refusal the lecture's records keep
};

std::optional<PutRefusal> refusalBeforeUpload(const AssignmentDeadline &deadline,
                                              const QDateTime &now, const QString &folder,
                                              const QString &fileName, int keptVersions);
