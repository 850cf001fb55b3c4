#pragma once

#include "common/cp932.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

// A student program as the server sees it: writes go to the kernel at once,
// replies are collected while the test runs the event loop.
class TestClient
{
public:
    QTcpSocket socket;
    QByteArray received;

    // `from`: a loopback address such as 127.0.0.2 plays another machine.
    explicit TestClient(quint16 port, const QHostAddress &from = QHostAddress())
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        if (!from.isNull())
            socket.bind(from);
        socket.connectToHost(QHostAddress::LocalHost, port);
        socket.waitForConnected(5000);
    }
    bool isConnected() const { return socket.state() == QAbstractSocket::ConnectedState; }

    // Small writes: in the kernel before the server sees them.
    void sendNow(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.waitForBytesWritten(5000);
    }
    // Writes of any size, while the server reads them.
    bool send(const QByteArray &bytes)
    {
        socket.write(bytes);
        return QTest::qWaitFor([this] { return socket.bytesToWrite() == 0; }, 20000);
    }
    QStringList lines() const
    {
        QStringList result;
        const QString text = cp932::decode(received);
        for (const QString &line : text.split(QStringLiteral("\r\n")))
            result << line;
        result.removeLast(); // after the last CR LF: unfinished
        return result;
    }
    bool waitForLines(int count, int timeout = 5000)
    {
        return QTest::qWaitFor([&] { return lines().size() >= count; }, timeout);
    }
    // Sends requests and gives the `count` reply lines they bring (fewer if
    // they do not come).
    QStringList ask(const QByteArray &requests, int count)
    {
        const qsizetype before = lines().size();
        sendNow(requests);
        waitForLines(int(before) + count);
        return lines().mid(before);
    }
    QString ask(const QByteArray &request) { return ask(request, 1).value(0); }
    // Sends a get line and gives the bytes that follow a 402 line of their
    // own size, or the refusal line; empty when neither comes.
    QByteArray fetch(const QString &name, QString *reply = nullptr, int timeout = 20000)
    {
        received.clear();
        sendNow(cp932::encode(QStringLiteral("get ") + name) + "\r\n");
        qint64 size = -1;
        (void)QTest::qWaitFor(
            [&] {
                const qsizetype eol = received.indexOf("\r\n");
                if (eol < 0)
                    return false;
                if (!received.startsWith("402 "))
                    return true;
                size = received.mid(4, eol - 4).toLongLong();
                return received.size() >= eol + 2 + size;
            },
            timeout);
        const qsizetype eol = received.indexOf("\r\n");
        if (reply)
            *reply = cp932::decode(received.first(qMax<qsizetype>(eol, 0)));
        if (size < 0)
            return {};
        const QByteArray bytes = received.mid(eol + 2, size);
        received.remove(0, eol + 2 + bytes.size());
        return bytes;
    }
    bool waitForClose(int timeout = 5000)
    {
        return QTest::qWaitFor(
            [this] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeout);
    }
};
