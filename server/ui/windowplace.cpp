#include "server/ui/windowplace.h"

#include <QMainWindow>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QSysInfo>

namespace {

QString machineGroup()
{
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("local") : host;
}

} // namespace

QString WindowPlace::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/window.ini");
}

bool WindowPlace::restore(QMainWindow &window, QSplitter &splitter)
{
    QSettings settings(path(), QSettings::IniFormat);
    settings.beginGroup(machineGroup());
    const QByteArray geometry = settings.value(QStringLiteral("geometry")).toByteArray();
    if (geometry.isEmpty() || !window.restoreGeometry(geometry))
        return false;
    splitter.restoreState(settings.value(QStringLiteral("splitter")).toByteArray());
    return true;
}

void WindowPlace::save(const QMainWindow &window, const QSplitter &splitter)
{
    // QSettings replaces the file as a whole, so a crash leaves the old one.
    QSettings settings(path(), QSettings::IniFormat);
    settings.beginGroup(machineGroup());
    settings.setValue(QStringLiteral("geometry"), window.saveGeometry());
    settings.setValue(QStringLiteral("splitter"), splitter.saveState());
}
