#include "platform/widgets/qtprocessstarter.h"

#include <QProcess>
#include <QStringList>

bool QtProcessStarter::startDetached(const QString &commandLine)
{
    const QStringList words = QProcess::splitCommand(commandLine);
    if (words.isEmpty())
        return false;
    // Qt reports a program that cannot be executed as a failed start.
    return QProcess::startDetached(words.first(), words.mid(1));
}
