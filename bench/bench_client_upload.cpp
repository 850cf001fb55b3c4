// Uploads a 1 GiB file from the student program to a sink on loopback and
// reports the process's peak memory growth while it runs, and the longest
// time the event loop (the student's window) went without a turn. The file
// is read while it is sent: growth must stay under 32 MiB.
// Before that, var.cfg pointing at /dev/zero and at a 1 GiB file: the
// start-up message must come within 1 s and memory grow by less than 1 MiB.
#include "bench/fixedfiledialogs.h"
#include "bench/procmemory.h"
#include "client/clientstartup.h"
#include "client/studentclient.h"
#include "common/cp932.h"
#include "common/wire.h"
#include "platform/dialogs.h"
#include "platform/socket.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

class CountingMessages : public MessageBox
{
public:
    QStringList shown;
    void show(const QString &text) override { shown << text; }
};

// Takes attendance, then the put line, answers 301, swallows the bytes and
// answers 302.
class Sink : public QObject
{
public:
    QTcpServer server;
    qint64 expected = -1;
    qint64 received = 0;
    wire::LineFramer framer;

    Sink()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *peer = server.nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, this, [this, peer] { read(peer); });
        });
    }
    static void reply(QTcpSocket *peer, const QString &text)
    {
        peer->write(cp932::encode(text + wire::Eol));
    }
    void read(QTcpSocket *peer)
    {
        if (expected < 0) {
            const QByteArray bytes = peer->readAll();
            QByteArrayView data(bytes);
            QByteArray line;
            while (expected < 0 && framer.take(data, line) == wire::LineFramer::Status::Line) {
                const wire::Request request = wire::parseRequest(line);
                if (request.command == wire::Command::User) {
                    reply(peer, wire::AttendanceTaken);
                } else if (request.command == wire::Command::Put && request.put) {
                    expected = request.put->size;
                    reply(peer, wire::ImageModeOk);
                }
            }
            received += expected < 0 ? 0 : data.size();
        } else {
            received += peer->skip(peer->bytesAvailable());
        }
        if (expected >= 0 && received == expected)
            reply(peer, wire::ReceiveComplete);
    }
};

// The start-up with a var.cfg that is no small settings file.
bool settingsFileIsRefusedAtOnce(const QString &label, const std::function<bool(QString)> &make)
{
    QTemporaryDir dir;
    if (!make(dir.filePath(QStringLiteral("var.cfg"))))
        qFatal("cannot prepare var.cfg (%s)", qPrintable(label));
    const QString before = QDir::currentPath();
    const qint64 baseline = statusKiB("VmRSS:");
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    const Result<ClientSettings> settings = prepareClient(QStringLiteral("taro"), dir.path());
    const qint64 ms = timer.elapsed();
    const qint64 growthKiB = statusKiB("VmHWM:") - baseline;
    QDir::setCurrent(before);
    const bool named = !settings && settings.error().contains(QStringLiteral("var.cfg"));
    std::printf("var.cfg %s: message after %lld ms, memory growth %lld KiB (limits 1000 ms, "
                "1024 KiB)%s\n",
                qPrintable(label), ms, growthKiB, named ? "" : ", but no message naming var.cfg");
    return named && ms < 1000 && growthKiB < 1024;
}

bool settingsFilesAreRefusedAtOnce()
{
    const bool device =
        settingsFileIsRefusedAtOnce(QStringLiteral("-> /dev/zero"), [](const QString &path) {
            return QFile::link(QStringLiteral("/dev/zero"), path);
        });
    const bool huge =
        settingsFileIsRefusedAtOnce(QStringLiteral("of 1 GiB"), [](const QString &path) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.resize(1024LL * 1024 * 1024);
        });
    return device && huge;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const bool settingsRefused = settingsFilesAreRefusedAtOnce();
    constexpr qint64 Size = 1024LL * 1024 * 1024;
    constexpr qint64 GrowthBudgetKiB = 32 * 1024;
    QTemporaryDir dir;
    const QString path = dir.filePath("report.bin");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(Size))
            qFatal("cannot create the file");
    }
    Sink sink;
    FixedFileDialogs dialogs(path);
    CountingMessages messages;
    StudentClient client(QStringLiteral("taro"), QStringLiteral("127.0.0.1"),
                         QString::number(sink.server.serverPort()), messages, dialogs);
    client.connectToServer().ok();
    while (!client.buttons().attendance)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    client.SYUKKETUBTN_Click(); // 課題 comes with the attendance
    while (!client.buttons().upload)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    messages.shown.clear();

    const qint64 baseline = statusKiB("VmRSS:");
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    // A window that is never starved takes a 10 ms tick every 10 ms or so.
    QElapsedTimer sinceTick;
    qint64 longestGapMs = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });
    sinceTick.start();
    tick.start(10);
    client.btnSendData_Click();
    while (messages.shown.isEmpty())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    tick.stop();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const qint64 peak = statusKiB("VmHWM:");
    if (sink.received != Size)
        qFatal("sink received %lld of %lld bytes", sink.received, Size);
    std::printf("uploaded %lld MiB in %.2f s (%.0f MiB/s)\n", Size >> 20, seconds,
                double(Size >> 20) / seconds);
    const qint64 growth = peak - baseline;
    std::printf("memory: baseline %lld MiB, peak %lld MiB, growth %.1f MiB (budget %lld MiB)\n",
                baseline >> 10, peak >> 10, double(growth) / 1024, GrowthBudgetKiB >> 10);
    std::printf("longest wait of the event loop: %lld ms\n", longestGapMs);
    if (messages.shown.first() != QStringLiteral("送信完了しました"))
        qFatal("the upload was not confirmed: %s", qPrintable(messages.shown.first()));
    return growth < GrowthBudgetKiB && settingsRefused ? 0 : 1;
}
