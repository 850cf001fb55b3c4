#pragma once

#include "common/result.h"

#include <QString>
#include <QStringView>
#include <optional>

// Looks up `key` in a name=value settings file (code page 932). The file is
// opened and closed at every call, so each lookup sees the file as it is now.
// Returns the value of the first key line whose name equals the key without
// regard to case, or an empty text when none does. Fails with the system's
// reason when the file cannot be read or is not a regular file (a FIFO
// would wait for ever, a device would never end).
Result<QString> readvar(const QString &key, const QString &fileName);

// A key line as lookupSetting() found it.
struct SettingLine
{
    QString value;
    int number = 0; // of the line in the file, counting from 1
};

// readvar() that also tells where the value stands, for messages that send
// the reader to the right line, and that reads at most `maxBytes`: a larger
// file is refused. Nothing when no key line matches.
Result<std::optional<SettingLine>> lookupSetting(const QString &key, const QString &fileName,
                                                 qint64 maxBytes);

// The leading number of a text, blanks ignored, rounded to an integer with
// halves going to the even neighbour; 0 when the text starts with no number.
// How both programs read a port from their settings.
qint64 leadingNumber(QStringView text);
