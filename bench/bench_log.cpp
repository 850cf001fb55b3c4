// The activity log over a long lecture: every entry goes in at the top of
// the text box. Prints the cost of one insertion (with the event pass that
// lays out and paints it) around the 100th, 1,000th, 10,000th and 100,000th
// entry, averaged over a window of entries. Then, in a process of its own,
// the lecturer's main window as `tavrelle` starts it takes 1,000,000 entries
// through the server's log (shown, kept for the day, older ones moved to
// disk): its resident memory above the start, and the time to hand the
// complete log to a save.
#include "bench/procmemory.h"
#include "server/app/heaptuning.h"
#include "server/app/lectureserver.h"
#include "server/ui/frmmain.h"
#include "server/ui/qttextlog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {

constexpr int Window = 50;

QString entry(int number)
{
    // The shapes the server writes: connection notes and received lines.
    switch (number % 3) {
    case 0:
        return QStringLiteral("192.168.0.%1から接続要求がありました｡\r\n").arg(number % 250);
    case 1:
        return QStringLiteral("%1portで接続しました｡\r\n").arg(40000 + number % 20000);
    default:
        return QStringLiteral("user s%1\r\n").arg(number, 6, 10, QLatin1Char('0'));
    }
}

class LogBench
{
public:
    LogBench()
    {
        m_log.resize(387, 73); // the size of the log in the main window
        m_log.show();
    }

    // Microseconds per entry around entry `mark`: the Window entries up to
    // it without, and the Window entries after it with the event pass that
    // follows each entry in the running program.
    std::pair<double, double> measureAround(int mark)
    {
        while (m_count < mark - Window - 1)
            m_log.insertAtTop(entry(++m_count));
        // The fill skipped the event passes a lecture has between entries;
        // the first entry after it pays a one-off catch-up, not timed.
        QCoreApplication::processEvents();
        m_log.insertAtTop(entry(++m_count));
        QCoreApplication::processEvents();
        return {timeInsertions(false), timeInsertions(true)};
    }

private:
    double timeInsertions(bool withEvents)
    {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < Window; ++i) {
            m_log.insertAtTop(entry(++m_count));
            if (withEvents)
                QCoreApplication::processEvents();
        }
        return double(timer.nsecsElapsed()) / Window / 1000.0;
    }

    QtTextLog m_log;
    int m_count = 0;
};

} // namespace

// Microseconds per entry and resident MiB above the start for `total`
// entries through the running server's log, an event pass every 100.
int measureServerLog(int total)
{
    QTemporaryDir data; // the day's log journal goes here
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    FrmMain window;
    window.show();
    QCoreApplication::processEvents();
    const qint64 startKiB = statusKiB("VmRSS:");
    TextLog &log = window.server().log();
    QElapsedTimer fill;
    fill.start();
    for (int number = 1; number <= total; ++number) {
        log.insertAtTop(entry(number));
        if (number % 100 == 0)
            QCoreApplication::processEvents();
    }
    QCoreApplication::processEvents();
    const double perEntry = double(fill.nsecsElapsed()) / 1000.0 / total;
    const qint64 aboveKiB = statusKiB("VmRSS:") - startKiB;
    qint64 bytes = 0;
    QElapsedTimer save;
    save.start();
    log.writeComplete([&bytes](const QByteArray &piece) {
        bytes += piece.size();
        return true;
    });
    std::printf("%d entries through the server's log: %.1f us each, resident memory %.1f MiB "
                "above the start (limit 50)\n",
                total, perEntry, double(aboveKiB) / 1024.0);
    std::printf("complete log for the save: %.1f MiB, newest first, in %.0f ms\n",
                double(bytes) / 1048576.0, double(save.nsecsElapsed()) / 1e6);
    return 0;
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 2 && qstrcmp(argv[1], "server") == 0) {
        keepFreedMemoryForUploads(); // as tavrelle's main() does
        QApplication app(argc, argv);
        return measureServerLog(1000000);
    }
    QApplication app(argc, argv);
    LogBench bench;
    std::printf("%10s %18s %22s\n", "entry", "insert (us)", "insert+events (us)");
    double first = 0;
    double last = 0;
    for (int mark : {100, 1000, 10000, 100000}) {
        const auto [insert, withEvents] = bench.measureAround(mark);
        std::printf("%10d %18.1f %22.1f\n", mark, insert, withEvents);
        (mark == 100 ? first : last) = withEvents;
    }
    std::printf("100,000th / 100th entry: %.2f\n", last / first);
    // A fresh process, so that the start is the program's start.
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedChannels);
    server.start(QCoreApplication::applicationFilePath(), {QStringLiteral("server")});
    server.waitForFinished(-1);
    return 0;
}
