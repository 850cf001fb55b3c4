#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QString>

// What the headless commands print and write.
namespace commandoutput {

// One line on stderr, in the host's encoding.
void tell(const QString &text);

// `bytes` to the file `path` through a temporary file, or to stdout when
// `path` is empty. Fails with the line to tell on stderr; a stdout that
// takes no more has none, since there is nothing to add to a broken pipe.
Result<> writeOut(const QString &path, const QByteArray &bytes);

// A command's exit status once `written` is through: 0, or 1 after telling
// why it failed.
int exitAfter(const Result<> &written);

} // namespace commandoutput
