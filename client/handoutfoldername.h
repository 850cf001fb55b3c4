#pragma once

#include <QString>

// The folder handouts land in: the settings' override, else the lecture's
// folder in the student's documents.
QString handoutFolderFor(const QString &override, const QString &lectureName);

// A lecture name as a folder name any file system takes: no characters
// that some refuse, at most NAME_MAX bytes in the host's encoding, and
// never the name of one of the home folder's own entries (documents may
// be the home folder itself), which get a "_" in front.
QString handoutFolderName(const QString &lectureName);
