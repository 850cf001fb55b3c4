#pragma once

#include "common/result.h"

#include <QString>

// Looks up `key` in a name=value settings file (code page 932). The file is
// opened and closed at every call, so each lookup sees the file as it is now.
// Returns the value of the first key line whose name equals the key without
// regard to case, or an empty text when none does. Fails with the system's
// reason when the file cannot be read.
Result<QString> readvar(const QString &key, const QString &fileName);
