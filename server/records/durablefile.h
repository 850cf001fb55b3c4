#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QString>

// Replaces `path` with `bytes` so that a crash or a power cut leaves either
// the old file or the new one, never a mix: the bytes go to a temporary
// file beside it, are forced to the disk, and the temporary file is renamed
// over the old one, the rename itself forced to the disk too.
Result<> replaceFileDurably(const QString &path, const QByteArray &bytes);
