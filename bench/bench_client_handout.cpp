// The student program fetching handouts from a scripted server on loopback:
// a 1 GiB handout (written as it arrives: growth under 32 MiB), an endless
// listing and an endless transfer (growth under 16 MiB, the message within
// 2 s), the longest listing taken (10,000 entries of 60 KiB names) and
// 100,000 malformed entry lines (the message within 1 s). Each run reports
// the process's peak memory growth, the time to the first message and the
// longest time the event loop (the student's window) went without a turn.
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

constexpr qint64 BigSize = 1024LL * 1024 * 1024;
constexpr qint64 Piece = 256 * 1024;

class CountingMessages : public MessageBox
{
public:
    QStringList shown;
    void show(const QString &text) override { shown << text; }
};

// What the server answers: to the list line, to the get line, and what it
// keeps sending after that answer for as long as the connection is open
// (up to `endlessLimit` bytes; empty: nothing).
struct Script
{
    const char *name;
    QByteArray listReply;
    QByteArray getReply;
    QByteArray endless;
    qint64 endlessLimit;
    qint64 budgetKiB;
    qint64 messageMs;     // 0: no limit
    const char *expected; // the message's start
};

// Greets, then plays `script`, a piece whenever the last one has gone.
class ScriptedServer : public QObject
{
public:
    QTcpServer server;
    const Script &script;
    qint64 sent = -1;

    explicit ScriptedServer(const Script &played) : script(played)
    {
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
        const QByteArray request = peer->readAll();
        const bool list = request.startsWith("list");
        if (!list && !request.startsWith("get"))
            return;
        peer->write(list ? script.listReply : script.getReply);
        if (list == script.getReply.isEmpty())
            sent = 0; // the endless part follows this answer
        feed(peer);
    }
    void feed(QTcpSocket *peer)
    {
        while (sent >= 0 && sent < script.endlessLimit && peer->bytesToWrite() <= Piece &&
               peer->state() == QAbstractSocket::ConnectedState) {
            peer->write(script.endless);
            sent += script.endless.size();
        }
    }
};

QByteArray sha256OfZeros(qint64 size)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QByteArray piece(Piece, '\0');
    for (qint64 done = 0; done < size; done += Piece)
        hash.addData(piece);
    return hash.result().toHex();
}

// Runs one script; false when a budget was missed.
bool run(const Script &script)
{
    QTemporaryDir dir;
    ScriptedServer server(script);
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
    const qint64 messageMs = timer.elapsed();
    tick.stop();
    longestGapMs = std::max(longestGapMs, sinceTick.elapsed());
    const qint64 growth = statusKiB("VmHWM:") - baseline;
    std::printf("%s: message after %lld ms, memory growth %.1f MiB (budget %lld MiB), "
                "longest wait of the event loop %lld ms, %lld MiB sent after the answer\n",
                script.name, messageMs, double(growth) / 1024, script.budgetKiB >> 10, longestGapMs,
                std::max<qint64>(server.sent, 0) >> 20);
    const QString &shown = messages.shown.first();
    const bool told = shown.startsWith(QString::fromUtf8(script.expected));
    if (!told)
        std::printf("  unexpected message: %s\n", qPrintable(shown.left(300)));
    return told && growth < script.budgetKiB && (!script.messageMs || messageMs < script.messageMs);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QByteArray zerosHash = sha256OfZeros(BigSize);
    const QByteArray sixHash =
        QCryptographicHash::hash("sixsix", QCryptographicHash::Sha256).toHex();
    const QByteArray longEntry = QByteArray(60 * 1024, 'n') + ",6," + sixHash + "\r\n";
    QByteArray badLine(88, 'x');
    badLine += "\r\n";
    const Script scripts[] = {
        {"1 GiB handout",
         "401 1\r\nbig.bin," + QByteArray::number(BigSize) + ',' + zerosHash + "\r\n",
         "402 " + QByteArray::number(BigSize) + "\r\n", QByteArray(Piece, '\0'), BigSize, 32 * 1024,
         0, "保存しました: big.bin"},
        {"endless listing",
         "401 2147483647\r\n",
         {},
         longEntry,
         8 * BigSize,
         16 * 1024,
         2000,
         "サーバから正しくないデータが届いたため"},
        {"endless transfer", "401 1\r\nsix.bin,6," + sixHash + "\r\n", "402 2147483647\r\n",
         QByteArray(Piece, 'x'), 8 * BigSize, 16 * 1024, 2000,
         "サーバから正しくないデータが届いたため"},
        // The longest listing that is not refused: for the figures only.
        {"10,000 entries of 60 KiB",
         "401 10000\r\n",
         {},
         longEntry,
         10000 * longEntry.size(),
         16 * 1024,
         0,
         "保存できませんでした: "},
        {"100,000 bad entry lines",
         "401 10000\r\n",
         {},
         badLine.repeated(1000),
         100000 * badLine.size(),
         16 * 1024,
         1000,
         "保存できませんでした: "},
    };
    bool met = true;
    for (const Script &script : scripts)
        met = run(script) && met;
    return met ? 0 : 1;
}
