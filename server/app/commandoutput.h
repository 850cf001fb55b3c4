#pragma once

#include <QByteArray>
#include <QString>

// What the headless commands print and write.
namespace commandoutput {

// One line on stderr, in the host's encoding.
void tell(const QString &text);

// `bytes` to the file `path` through a temporary file, or to stdout when
// `path` is empty; a file that cannot be written is told on stderr.
bool writeOut(const QString &path, const QByteArray &bytes);

} // namespace commandoutput
