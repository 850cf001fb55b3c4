#pragma once

#include "common/result.h"
#include "server/term/classlist.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The header values of a roster file.
struct RosterHeader
{
    QString lecture;  // kougimei
    QString lecturer; // tantousya
    QString folder;   // kadaidir, a full path or empty
};

// What keeps the values out of a roster file the server reads back as they
// are: a missing lecture name or lecturer, a line break, a character code
// page 932 cannot write. One text each, header first, then one per student
// row naming its line and ID: an empty ID, an ID with "," or blanks, the
// same ID twice. Empty when the roster can be written.
QStringList rosterProblems(const RosterHeader &header, const QList<ListedStudent> &students);

// The roster file: code page 932, CR LF, kougimei, tantousya, kadaidir and
// the student block in the order given.
QByteArray rosterBytes(const RosterHeader &header, const QList<ListedStudent> &students);

// Writes the roster to `path` through a temporary file; refuses, writing
// nothing, while rosterProblems() finds any.
Result<> writeRoster(const QString &path, const RosterHeader &header,
                     const QList<ListedStudent> &students);
