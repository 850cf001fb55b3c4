#pragma once

#include <QString>
#include <optional>

// Looks up `key` in a name=value settings file (code page 932). The file is
// opened and closed at every call, so each lookup sees the file as it is now.
// Returns the value of the first key line whose name equals the key without
// regard to case, or an empty text when none does. Returns nothing when the
// file cannot be read; `error` then receives the system's reason.
std::optional<QString> readvar(const QString &key, const QString &fileName,
                               QString *error = nullptr);
