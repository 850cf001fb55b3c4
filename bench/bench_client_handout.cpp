// Fetches a 1 GiB handout with the student program from a scripted server on
// loopback and reports the process's peak memory growth while it runs, and
// the longest time the event loop (the student's window) went without a
// turn. The file is written as it arrives: growth must stay under 32 MiB.
#include "bench/fixedfiledialogs.h"
#include "bench/procmemory.h"
#include "client/studentclient.h"
#include "common/cp932.h"
#include "common/wire.h"
#include "platform/dialogs.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace {

constexpr qint64 Size = 1024LL * 1024 * 1024;
constexpr qint64 GrowthBudgetKiB = 32 * 1024;
constexpr qint64 Piece = 256 * 1024;

class CountingMessages : public MessageBox
{
public:
    QStringList shown;
    void show(const QString &text) override { shown << text; }
};

// Greets, lists one handout of `Size` zero bytes and sends it on request,
// a piece whenever the last one has gone.
class HandoutServer : public QObject
{
public:
    QTcpServer server;
    QByteArray sha256;
    qint64 sent = -1;
    QByteArray piece = QByteArray(Piece, '\0');
    wire::LineFramer framer;

    HandoutServer()
    {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (qint64 done = 0; done < Size; done += Piece)
            hash.addData(piece);
        sha256 = hash.result().toHex();
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *peer = server.nextPendingConnection();
            write(peer,
                  {wire::Hello, wire::lectureLine(QStringLiteral("講義"), QStringLiteral("先生"))});
            connect(peer, &QTcpSocket::readyRead, this, [this, peer] { answer(peer); });
            connect(peer, &QTcpSocket::bytesWritten, this, [this, peer] { feed(peer); });
        });
    }
    static void write(QTcpSocket *peer, const QStringList &lines)
    {
        for (const QString &line : lines)
            peer->write(cp932::encode(line + wire::Eol));
    }
    void answer(QTcpSocket *peer)
    {
        const QByteArray bytes = peer->readAll();
        QByteArrayView data(bytes);
        QByteArray line;
        while (framer.take(data, line) == wire::LineFramer::Status::Line) {
            const wire::Command command = wire::parseRequest(line).command;
            if (command == wire::Command::List)
                write(peer, {wire::handoutListLine(1),
                             wire::handoutEntryLine({QStringLiteral("big.bin"), Size, sha256})});
            if (command == wire::Command::Get) {
                write(peer, {wire::handoutDataLine(Size)});
                sent = 0;
            }
        }
    }
    void feed(QTcpSocket *peer)
    {
        if (sent < 0 || sent >= Size || peer->bytesToWrite() > Piece)
            return;
        peer->write(piece);
        sent += Piece;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    HandoutServer server;
    FixedFileDialogs dialogs(QString{});
    CountingMessages messages;
    StudentClient client(QStringLiteral("taro"), QStringLiteral("127.0.0.1"),
                         QString::number(server.server.serverPort()), messages, dialogs);
    client.setHandoutFolder(dir.path());
    client.connectToServer().ok();
    while (!client.handoutsEnabled())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);

    const qint64 baseline = statusKiB("VmRSS:");
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    QElapsedTimer sinceTick;
    qint64 longestGapMs = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&] { longestGapMs = std::max(longestGapMs, sinceTick.restart()); });
    sinceTick.start();
    tick.start(10);
    client.btnHandouts_Click();
    while (messages.shown.isEmpty())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    tick.stop();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const qint64 growth = statusKiB("VmHWM:") - baseline;
    std::printf("fetched %lld MiB in %.2f s (%.0f MiB/s)\n", Size >> 20, seconds,
                double(Size >> 20) / seconds);
    std::printf("memory: baseline %lld MiB, growth %.1f MiB (budget %lld MiB)\n", baseline >> 10,
                double(growth) / 1024, GrowthBudgetKiB >> 10);
    std::printf("longest wait of the event loop: %lld ms\n", longestGapMs);
    if (!messages.shown.first().startsWith(QStringLiteral("保存しました: big.bin")) ||
        QFileInfo(dir.filePath("big.bin")).size() != Size)
        qFatal("the handout was not saved: %s", qPrintable(messages.shown.first()));
    return growth < GrowthBudgetKiB ? 0 : 1;
}
