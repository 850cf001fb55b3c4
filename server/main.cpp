#include "platform/widgets/translations.h"
#include "server/app/importcommand.h"
#include "server/app/lectureserver.h"
#include "server/app/ledgercommand.h"
#include "server/app/processlimits.h"
#include "server/app/programhelp.h"
#include "server/app/seatscommand.h"
#include "server/app/submissionscommand.h"
#include "server/app/terminationsignals.h"
#include "server/ui/frmmain.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    // Commands without a window, decided before anything needs a display.
    // Each answers its own --help; --help without a command names them all.
    if (isSeatsCommand(argc, argv))
        return runSeatsCommand(argc, argv);
    if (isSubmissionsCommand(argc, argv))
        return runSubmissionsCommand(argc, argv);
    if (isImportCommand(argc, argv))
        return runImportCommand(argc, argv);
    if (isLedgerCommand(argc, argv))
        return runLedgerCommand(argc, argv);
    if (isProgramHelp(argc, argv))
        return runProgramHelp();
    prepareServerProcess();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrelle"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRELLE_VERSION));
    installJapaneseQtTexts(app);
    useJapaneseLocale();
    // Settings come from the folder the program was started in, whatever
    // folder the roster dialog visits.
    const QString settingsPath = QDir::current().absoluteFilePath(QStringLiteral("inivar.cfg"));
    FrmMain window;
    // A signal to end closes the window as the lecturer would, also from
    // inside the start-up dialog.
    TerminationSignals termination;
    window.server().endOn(termination);
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &window, [&window] {
        window.close();
        QCoreApplication::quit();
    });
    if (!window.Form_Load(settingsPath))
        return 1;
    if (termination.received())
        return 0;
    window.show();
    return QApplication::exec();
}
