#include "platform/widgets/qtclipboard.h"

#include <QClipboard>
#include <QGuiApplication>

void QtClipboard::setText(const QString &text)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    // Emptied first so that no other format of an earlier copy stays behind.
    clipboard->clear();
    clipboard->setText(text);
}
