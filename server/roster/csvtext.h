#pragma once

#include <QChar>
#include <QString>

// A field as RFC 4180 writes it: one holding the delimiter, a quote or a
// line end is quoted, its quotes doubled; any other stays as it is.
QString csvField(const QString &text, QChar delimiter = u',');
