#pragma once

#include "common/filehash.h"

#include <QString>

class HandoutFolder;

// What became of an older handout that a newer version replaces.
enum class Retired {
    ToTrash,     // the desktop's trash, where its file manager can restore it
    ToOldFolder, // ".old" in the handout folder
    Changed,     // it is not the version checked any more: it stays
    Failed,      // neither place takes it: it stays
};

// Moves `name` out of the folder if it is still `version`: into the
// desktop's trash (the freedesktop one in the user's data folder, when it
// exists and is on the same file system), else into ".old" in the folder.
// A file the student changes meanwhile is put back.
Retired retireHandout(const HandoutFolder &folder, const QString &name,
                      const FileIdentity &version);
