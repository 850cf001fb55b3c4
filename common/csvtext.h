#pragma once

#include <QChar>
#include <QString>

// A field as RFC 4180 writes it: one holding the delimiter, a quote or a
// line end is quoted, its quotes doubled; any other stays as it is.
QString csvField(const QString &text, QChar delimiter = u',');

// A text cell (an ID, a name, a file name, a reason, a folder) as it must
// reach a spreadsheet: one that begins with "=", "+", "-", "@", TAB or CR
// would be taken for a formula there, so it gets a leading "'" and stays
// text. Numbers and marks are not text cells and are written as they are.
QString textCell(const QString &text);
