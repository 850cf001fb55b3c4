#pragma once

#include "common/cp932.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <sys/socket.h>
#include <vector>

// Ends the connection with a reset rather than a FIN, as a program that
// exits with unread data does.
inline void resetConnection(QTcpSocket &socket)
{
    const linger abortive{1, 0};
    QCOMPARE(::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive,
                          sizeof abortive),
             0);
    socket.abort();
}

// A lecturer's program whose every reply the test writes by hand.
class ScriptedServer
{
public:
    QTcpServer server;
    std::vector<QTcpSocket *> peers;
    std::vector<QByteArray> received;

    ScriptedServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *peer = server.nextPendingConnection()) {
                const size_t index = peers.size();
                peers.push_back(peer);
                received.emplace_back();
                QObject::connect(peer, &QTcpSocket::readyRead,
                                 [this, peer, index] { received[index] += peer->readAll(); });
            }
        });
    }
    QString port() const { return QString::number(server.serverPort()); }
    bool waitForPeer(size_t count = 1)
    {
        return QTest::qWaitFor([&] { return peers.size() >= count; }, 5000);
    }
    QTcpSocket &peer() { return *peers.back(); }
    QByteArray &input() { return received.back(); }
    void send(const QByteArray &bytes)
    {
        peer().write(bytes);
        peer().flush();
    }
    void reply(const QString &line) { send(cp932::encode(line) + "\r\n"); }
    bool waitForInput(const QByteArray &expected, int timeout = 5000)
    {
        return QTest::qWaitFor([&] { return input() == expected; }, timeout);
    }
};
