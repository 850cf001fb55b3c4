// The activity log over a long lecture: every entry goes in at the top of
// the text box. Prints the cost of one insertion (with the event pass that
// lays out and paints it) around the 100th, 1,000th, 10,000th and 100,000th
// entry, averaged over a window of entries; then the resident memory above
// the start after 1,000,000 entries (the window keeps the newest 10,000, the
// rest go to disk) and the time to hand the complete log to a save.
#include "platform/qttextlog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
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

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
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

    // Fills the log up to `total` entries, with an event pass every 100.
    void fillTo(int total)
    {
        while (m_count < total) {
            m_log.insertAtTop(entry(++m_count));
            if (m_count % 100 == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
    }
    // Milliseconds to hand the complete log to a save; its size in bytes.
    std::pair<double, qint64> timeCompleteLog() const
    {
        qint64 bytes = 0;
        QElapsedTimer timer;
        timer.start();
        m_log.writeComplete([&bytes](const QByteArray &piece) {
            bytes += piece.size();
            return true;
        });
        return {double(timer.nsecsElapsed()) / 1e6, bytes};
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

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    LogBench bench;
    QCoreApplication::processEvents();
    const qint64 startKiB = residentKiB();
    std::printf("%10s %18s %22s\n", "entry", "insert (us)", "insert+events (us)");
    double first = 0;
    double last = 0;
    for (int mark : {100, 1000, 10000, 100000}) {
        const auto [insert, withEvents] = bench.measureAround(mark);
        std::printf("%10d %18.1f %22.1f\n", mark, insert, withEvents);
        (mark == 100 ? first : last) = withEvents;
    }
    std::printf("100,000th / 100th entry: %.2f\n", last / first);
    QElapsedTimer fill;
    fill.start();
    bench.fillTo(1000000);
    const double fillSeconds = double(fill.nsecsElapsed()) / 1e9;
    const qint64 aboveKiB = residentKiB() - startKiB;
    const auto [saveMs, bytes] = bench.timeCompleteLog();
    std::printf("1,000,000 entries: resident memory %.1f MiB above the start (limit 50), "
                "filled in %.0f s\n",
                double(aboveKiB) / 1024.0, fillSeconds);
    std::printf("complete log for the save: %.1f MiB in %.0f ms\n", double(bytes) / 1048576.0,
                saveMs);
    return 0;
}
