#pragma once

#include <QList>
#include <QString>
#include <QStringView>

// Hand-edited text files come with CR LF, LF or CR line ends; each of them
// ends a line. A last line without a line end still counts.
QList<QStringView> splitLines(QStringView text);
