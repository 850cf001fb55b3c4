#pragma once

#include "common/result.h"

#include <QString>

// What the student program checks before it sends a login name or a file,
// so that nothing is sent that the server would misread or store wrongly.
// Every refusal names the cause and what to do.

// The login name checked for a user line; a failure says why it cannot go.
Result<> checkAttendanceName(const QString &userName);

// A file the student chose, ready to be announced.
struct ChosenFile
{
    QString path;
    QString announcedName; // login name + the file's extension
    qint64 size = 0;
};

// The file at `path` checked for an upload under `userName`.
Result<ChosenFile> checkChosenFile(const QString &path, const QString &userName);
