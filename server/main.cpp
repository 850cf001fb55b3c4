#include "platform/translations.h"
#include "server/app/heaptuning.h"
#include "server/ui/frmmain.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    keepFreedMemoryForUploads();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrelle"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRELLE_VERSION));
    installJapaneseQtTexts(app);
    // Settings come from the folder the program was started in, whatever
    // folder the roster dialog visits.
    const QString settingsPath = QDir::current().absoluteFilePath(QStringLiteral("inivar.cfg"));
    FrmMain window;
    if (!window.Form_Load(settingsPath))
        return 1;
    window.show();
    return QApplication::exec();
}
