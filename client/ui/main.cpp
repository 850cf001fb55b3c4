#include "client/clientstartup.h"
#include "client/ui/mainform.h"
#include "platform/username.h"
#include "platform/widgets/translations.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavrelle-client"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRELLE_VERSION));
    installJapaneseQtTexts(app);
    useJapaneseLocale();
    MainForm window;
    if (!window.Form_Load(loggedInUserName(), clientFolder()))
        return 1;
    window.show();
    return QApplication::exec();
}
