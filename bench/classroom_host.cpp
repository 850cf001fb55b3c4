// The lecturer's program under load, for bench_classroom: the real main
// window (grid, activity log, sockets, uploads) started the way `tavrelle`
// starts, except that the start-up roster dialog is answered by this program.
//
//   bench_classroom_host FOLDER
//
// FOLDER holds roster.cfg. The host picks a free port, writes FOLDER/inivar.cfg
// with it, runs the window's start-up and prints "READY <port>". It then reads
// commands on stdin, one a line:
//   grid   prints "ROW <id>\t<attendance>\t<assignment>\t<address>" per
//          student, then "END"
//   log    prints "LOG <entries>"
//   clear  empties the activity log, as the lecturer can, and prints "CLEARED"
//   heap   prints "HEAP <bytes>": memory in use (allocated and not freed)
// and ends when stdin ends (so it never outlives the benchmark).
#include "bench/fixedfiledialogs.h"
#include "platform/clipboard.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/processstarter.h"
#include "server/app/lectureserver.h"
#include "server/app/processlimits.h"
#include "server/ui/frmmain.h"
#include "server/ui/qttextlog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QTcpServer>

#include <cstdio>
#include <malloc.h>
#include <unistd.h>

namespace {

// A message box during the benchmark means something went wrong: say so.
class LoudMessages : public MessageBox
{
public:
    void show(const QString &text) override
    {
        std::fprintf(stderr, "bench_classroom_host: message box: %s\n", qPrintable(text));
    }
};

class NoClipboard : public Clipboard
{
public:
    void setText(const QString &) override {}
};

class NoProcesses : public ProcessStarter
{
public:
    bool startDetached(const QString &) override { return false; }
};

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::Any, 0))
        return 0;
    return probe.serverPort();
}

void answer(FrmMain &window, const QByteArray &command)
{
    if (command == "grid") {
        const RosterGrid &grid = window.server().grid();
        for (int row = 1; row <= grid.studentRows(); ++row) {
            std::printf("ROW %s\t%s\t%s\t%s\n", qPrintable(grid.text(row, RosterGrid::UserId)),
                        qPrintable(grid.text(row, RosterGrid::Attendance)),
                        qPrintable(grid.text(row, RosterGrid::Assignment)),
                        qPrintable(grid.text(row, RosterGrid::Address)));
        }
        std::printf("END\n");
    } else if (command == "log") {
        const auto *log = window.findChild<QtTextLog *>(QStringLiteral("TxtOutput"));
        std::printf("LOG %d\n", log ? log->document()->blockCount() - 1 : -1);
    } else if (command == "clear") {
        if (auto *log = window.findChild<QtTextLog *>(QStringLiteral("TxtOutput")))
            log->clear();
        std::printf("CLEARED\n");
    } else if (command == "heap") {
        std::printf("HEAP %zu\n", mallinfo2().uordblks);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    prepareServerProcess(); // as tavrelle's main() does
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_classroom_host FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const quint16 port = freePort();
    QFile settings(folder.filePath(QStringLiteral("inivar.cfg")));
    if (port == 0 || !settings.open(QIODevice::WriteOnly) ||
        settings.write(QByteArray("port=") + QByteArray::number(port) + "\r\n") < 0)
        return 1;
    settings.close();

    FixedFileDialogs dialogs(folder.filePath(QStringLiteral("roster.cfg")));
    LoudMessages messages;
    NoClipboard clipboard;
    NoProcesses processes;
    FrmMain window(Desktop{dialogs, messages, clipboard, processes});
    if (!window.Form_Load(settings.fileName()))
        return 1;
    window.show();
    std::printf("READY %u\n", unsigned(port));
    std::fflush(stdout);

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, n);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1))
            answer(window, pending.left(end));
    });
    return QApplication::exec();
}
