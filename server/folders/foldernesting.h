#pragma once

#include <QString>

// Whether two folders are the same folder or one lies inside the other,
// told by the identities (device and inode) of each folder and those above
// it: links, ".." and the spelling of a name cannot hide it. False when
// either cannot be found.
bool foldersNest(const QString &a, const QString &b);
