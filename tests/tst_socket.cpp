#include "common/cp932.h"
#include "platform/socket.h"
#include "support/scriptedserver.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>
#include <vector>

namespace {

const QString kLocal = QStringLiteral("127.0.0.1");

// A listener on a free port that accepts every request into a new Socket,
// and a client connected to it.
struct Pair
{
    Socket listener;
    std::vector<QPointer<Socket>> accepted;
    Socket client;
    Socket *peer = nullptr;

    Pair()
    {
        listener.setLocalPort(0);
        QObject::connect(&listener, &Socket::connectionRequest, &listener, [this](qintptr id) {
            auto *socket = new Socket(&listener);
            if (socket->accept(id))
                accepted.push_back(socket);
            else
                delete socket;
        });
    }
    QString port() const { return QString::number(listener.localPort()); }

    bool open(const QString &host = kLocal)
    {
        QSignalSpy connected(&client, &Socket::connected);
        if (!listener.listen() || !client.connectToHost(host, port()) || !connected.wait(5000) ||
            !QTest::qWaitFor([&] { return !accepted.empty(); }, 5000))
            return false;
        peer = accepted.front();
        return true;
    }
};

// Everything the socket receives, as it is announced.
void collect(Socket *socket, QByteArray *sink)
{
    QObject::connect(socket, &Socket::received, socket,
                     [sink](const QByteArray &bytes) { *sink += bytes; });
}

} // namespace

class TestSocket : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void acceptAndPeerAddress_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("ipv4 on dual stack") << kLocal;
        QTest::newRow("ipv6") << QStringLiteral("::1");
    }
    void acceptAndPeerAddress()
    {
        QFETCH(QString, host);
        if (host.contains(':') && !QTcpServer().listen(QHostAddress::LocalHostIPv6))
            QSKIP("no IPv6 loopback here");
        Pair p;
        QVERIFY(p.open(host));
        QCOMPARE(p.listener.state(), Socket::StateListening);
        QVERIFY(p.listener.localPort() != 0);
        QCOMPARE(p.client.state(), Socket::StateConnected);
        QCOMPARE(p.peer->state(), Socket::StateConnected);
        QCOMPARE(p.peer->remoteHostIP(), host);
        QCOMPARE(p.client.remoteHostIP(), host);
        QCOMPARE(p.client.remotePort(), p.listener.localPort());
    }

    void listenOnTakenPortFails()
    {
        Pair first;
        QVERIFY(first.listener.listen());
        Socket second;
        second.setLocalPort(first.listener.localPort());
        QVERIFY(!second.listen());
        QCOMPARE(second.errorNumber(), 10048);
        QVERIFY(!second.errorString().isEmpty());
        QCOMPARE(second.state(), Socket::StateClosed);
    }

    void connectFailureIsAnEvent_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("number");
        QTest::newRow("refused") << kLocal << 10061;
        QTest::newRow("no host name") << QString() << 11001;
    }
    void connectFailureIsAnEvent()
    {
        QFETCH(QString, host);
        QFETCH(int, number);
        Socket probe; // its port is free again once it closes
        QVERIFY(probe.listen());
        const QString port = QString::number(probe.localPort());
        probe.close();

        Socket client;
        QSignalSpy error(&client, &Socket::error);
        QVERIFY(client.connectToHost(host, port));
        QCOMPARE(client.state(), Socket::StateConnecting);
        QVERIFY(error.wait(10000));
        QCOMPARE(error.first().at(0).toInt(), number);
        QVERIFY(!error.first().at(1).toString().isEmpty());
        QCOMPARE(client.state(), Socket::StateError);
    }

    void connectRefusedAtOnce()
    {
        Pair p;
        QVERIFY(p.listener.listen());
        QSignalSpy error(&p.client, &Socket::error);
        for (const char *port : {"", " ", "0", "65536", "99999999999", "+80", "-1", "8o", "1 2"}) {
            QVERIFY2(!p.client.connectToHost(kLocal, QString::fromLatin1(port)), port);
            QVERIFY(p.client.errorNumber() != 0);
            QCOMPARE(p.client.state(), Socket::StateClosed);
        }

        // Blanks around the number are fine; a pending connect is left alone...
        QSignalSpy connected(&p.client, &Socket::connected);
        QVERIFY(p.client.connectToHost(kLocal, ' ' + p.port() + ' '));
        QVERIFY(!p.client.connectToHost(kLocal, p.port()));
        QVERIFY(connected.wait(5000));
        QTRY_COMPARE(p.accepted.size(), size_t(1));

        // ...and so is an open one.
        QVERIFY(!p.client.connectToHost(kLocal, p.port()));
        QVERIFY(p.client.errorNumber() != 0);
        QCOMPARE(p.client.state(), Socket::StateConnected);
        QByteArray received;
        collect(p.accepted.front(), &received);
        p.client.sendData(QByteArray("still here"));
        QTRY_COMPARE(received, QByteArray("still here"));
        QCOMPARE(connected.size(), 1);
        QCOMPARE(error.size(), 0);
    }

    void sendsArriveInOrderTextAsCp932()
    {
        Pair p;
        QVERIFY(p.open());
        QByteArray received, expected;
        collect(p.peer, &received);
        QSignalSpy complete(&p.client, &Socket::sendComplete);
        const int sends = 3000;
        for (int i = 0; i < sends; ++i) {
            const QByteArray line = "line " + QByteArray::number(i) + '\n';
            expected += line;
            p.client.sendData(line);
            if (i == sends / 2)
                p.client.sendData(QByteArray()); // still owes its sendComplete()
        }
        QTRY_COMPARE(received.size(), expected.size());
        QVERIFY(received == expected);
        QTRY_COMPARE(complete.size(), sends + 1);

        const QString text = QStringLiteral("出席：山田～①ｱ");
        const QByteArray wire = QByteArray::fromHex("8f6f90c881468e52936381608740b1");
        received.clear();
        p.client.sendData(text);
        QTRY_COMPARE(received, wire);
        QString atClient;
        connect(&p.client, &Socket::received, this,
                [&](const QByteArray &bytes) { atClient += cp932::decode(bytes); });
        p.peer->sendData(wire);
        QTRY_COMPARE(atClient, text);
    }

    void largeSendIsStreamedWithProgress()
    {
        Pair p;
        QVERIFY(p.open());
        QByteArray big(64 * 1024 * 1024, Qt::Uninitialized);
        char *bytes = big.data();
        for (qsizetype i = 0; i < big.size(); ++i)
            bytes[i] = char((i * 131) ^ (i >> 13));
        QByteArray received;
        collect(p.peer, &received);
        std::vector<std::pair<qint64, qint64>> events; // (sent, remaining); (0, -1): complete
        connect(&p.client, &Socket::sendProgress, this,
                [&](qint64 sent, qint64 remaining) { events.emplace_back(sent, remaining); });
        connect(&p.client, &Socket::sendComplete, this, [&] { events.emplace_back(0, -1); });

        p.client.sendData(big);
        p.client.sendData(QByteArray("tail"));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), big.size() + 4, 30000);
        QVERIFY(received.startsWith(big) && received.endsWith("tail"));
        QTRY_COMPARE(events.back().second, qint64(-1));

        // The big block steps down to 0 and completes; then the tail does.
        qint64 lastRemaining = big.size();
        size_t i = 0;
        for (; i < events.size() && events[i].second >= 0; ++i) {
            QCOMPARE(events[i].first + events[i].second, qint64(big.size()));
            QVERIFY(events[i].second < lastRemaining);
            lastRemaining = events[i].second;
        }
        QCOMPARE(lastRemaining, qint64(0));
        QVERIFY(i > 2);
        QCOMPARE(events.size(), i + 3);
        QCOMPARE(events[i + 1], std::make_pair(qint64(4), qint64(0)));
    }

    void arrivalDuringNestedLoopIsAnnounced()
    {
        Pair p;
        QVERIFY(p.open());
        QList<QByteArray> log;
        connect(p.peer, &Socket::closed, this, [&] { log << "(closed)"; });
        connect(p.peer, &Socket::received, this, [&](const QByteArray &bytes) {
            log << bytes;
            if (log.size() == 1) {
                // More data and the peer's close, while this handler still runs.
                p.client.sendData(QByteArray("second"));
                p.client.close();
                QTRY_COMPARE(p.peer->state(), Socket::StateClosing);
                QCoreApplication::processEvents(); // a pass with both events due
                QVERIFY(p.peer->bytesAvailable() > 0);
            }
        });
        p.client.sendData(QByteArray("first"));
        QTRY_COMPARE(log.size(), 3);
        QCOMPARE(log, (QList<QByteArray>{"first", "second", "(closed)"}));
    }

    void eachArrivalIsAnnouncedOnceWithItsBytes()
    {
        Pair p;
        QVERIFY(p.open());
        QSignalSpy arrival(p.peer, &Socket::received);
        p.client.sendData(QByteArray("a"));
        QVERIFY(arrival.wait(5000));
        p.client.sendData(QByteArray("bc"));
        QTRY_COMPARE(arrival.size(), 2);
        QCOMPARE(arrival.at(0).at(0).toByteArray(), QByteArray("a"));
        QCOMPARE(arrival.at(1).at(0).toByteArray(), QByteArray("bc"));

        // A round trip the other way gives a re-announcing loop time to show.
        QByteArray back;
        collect(&p.client, &back);
        p.peer->sendData(QByteArray("ping"));
        QTRY_COMPARE(back, QByteArray("ping"));
        QCOMPARE(arrival.size(), 2);
        QCOMPARE(p.peer->bytesAvailable(), 0);
    }

    void peerCloseFollowsTheData()
    {
        Pair p;
        QVERIFY(p.open());
        QStringList log;
        QByteArray words;
        connect(p.peer, &Socket::received, this, [&](const QByteArray &bytes) {
            log << "data";
            words += bytes;
        });
        connect(p.peer, &Socket::closed, this, [&] { log << "closed"; });
        QSignalSpy clientClosed(&p.client, &Socket::closed);

        p.client.sendData(QByteArray("last words"));
        p.client.close(); // right after the send: the words still go out
        QCOMPARE(p.client.state(), Socket::StateClosed);
        QTRY_COMPARE(log, (QStringList{"data", "closed"}));
        QCOMPARE(p.peer->state(), Socket::StateClosing);
        QCOMPARE(words, QByteArray("last words"));
        p.peer->sendData(QByteArray("nobody listens"));
        p.peer->close();
        QCOMPARE(p.peer->state(), Socket::StateClosed);
        QCOMPARE(clientClosed.size(), 0);
    }

    void resetByThePeerIsAnError_data()
    {
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("sending");
        QTest::newRow("connecting side") << false << false;
        QTest::newRow("connecting side, while sending") << false << true;
        QTest::newRow("accepted side") << true << false;
    }
    void resetByThePeerIsAnError()
    {
        QFETCH(bool, accepted);
        QFETCH(bool, sending);
        // A plain Qt socket on the far end, so that it can reset.
        QTcpServer plainServer;
        QTcpSocket plainClient;
        Pair p;
        Socket *ours = nullptr;
        QTcpSocket *far = nullptr;
        if (accepted) {
            QVERIFY(p.listener.listen());
            plainClient.connectToHost(kLocal, p.listener.localPort());
            QVERIFY(plainClient.waitForConnected(5000));
            QTRY_COMPARE(p.accepted.size(), size_t(1));
            ours = p.accepted.front();
            far = &plainClient;
        } else {
            QVERIFY(plainServer.listen(QHostAddress::LocalHost));
            QVERIFY(p.client.connectToHost(kLocal, QString::number(plainServer.serverPort())));
            QTRY_COMPARE(p.client.state(), Socket::StateConnected);
            QTRY_VERIFY(plainServer.hasPendingConnections());
            far = plainServer.nextPendingConnection();
            ours = &p.client;
        }
        QSignalSpy error(ours, &Socket::error);
        QSignalSpy closed(ours, &Socket::closed);
        QByteArray atOurs;
        collect(ours, &atOurs);
        if (sending)
            ours->sendData(QByteArray(32 * 1024 * 1024, 'x'));
        else
            far->write("last words");
        QTRY_VERIFY(sending ? far->bytesAvailable() > 0 : !atOurs.isEmpty());
        resetConnection(*far);
        QTRY_COMPARE(error.size(), 1);
        QCOMPARE(error.first().at(0).toInt(), 10054);
        QVERIFY(!error.first().at(1).toString().isEmpty());
        QCOMPARE(ours->state(), Socket::StateError);
        QCOMPARE(closed.size(), 0);
    }

    void handlerMayDeleteItsSocket_data()
    {
        QTest::addColumn<bool>("direct");
        QTest::newRow("deleteLater") << false;
        QTest::newRow("delete") << true;
    }
    void handlerMayDeleteItsSocket()
    {
        QFETCH(bool, direct);
        Pair p;
        QVERIFY(p.open());
        QPointer<Socket> peer = p.peer;
        auto *client = new Socket;
        QPointer<Socket> watched = client;
        QVERIFY(client->connectToHost(kLocal, p.port()));
        QTRY_COMPARE(p.accepted.size(), size_t(2));
        QPointer<Socket> clientPeer = p.accepted.back();

        // The peer deletes itself on data; the client it talked to, when the
        // connection ends (a reset, as the peer leaves data unread).
        connect(clientPeer, &Socket::received, clientPeer, [&] {
            clientPeer->close();
            if (direct)
                delete clientPeer.data();
            else
                clientPeer->deleteLater();
        });
        connect(client, &Socket::closed, client, [client] { delete client; });
        connect(client, &Socket::error, client, [client] { delete client; });
        QTRY_COMPARE(client->state(), Socket::StateConnected);
        for (int i = 0; i < 50; ++i)
            client->sendData(QByteArray(1000, 'x'));
        QTRY_VERIFY(!clientPeer);
        QTRY_VERIFY(!watched);
        QVERIFY(peer); // the other conversation is untouched
    }

    void unwantedRequestIsClosed()
    {
        // The handler neither accepts nor survives its own request.
        auto *listener = new Socket;
        QPointer<Socket> watched = listener;
        QVERIFY(listener->listen());
        qintptr offered = -1;
        connect(listener, &Socket::connectionRequest, listener, [&](qintptr id) {
            offered = id;
            delete listener;
        });
        Socket client;
        QSignalSpy closed(&client, &Socket::closed);
        QVERIFY(client.connectToHost(kLocal, QString::number(listener->localPort())));
        QVERIFY(closed.wait(5000));
        QVERIFY(!watched);
        Socket late;
        QVERIFY(!late.accept(offered));
        QCOMPARE(late.state(), Socket::StateClosed);
    }

    void nestedLoopInConnectionRequest()
    {
        Socket listener, first, second;
        QVERIFY(listener.listen());
        const QString port = QString::number(listener.localPort());
        std::vector<std::unique_ptr<Socket>> accepted;
        int requests = 0;
        connect(&listener, &Socket::connectionRequest, this, [&](qintptr id) {
            if (++requests == 1) {
                QVERIFY(second.connectToHost(kLocal, port));
                QTRY_COMPARE(second.state(), Socket::StateConnected);
            }
            accepted.push_back(std::make_unique<Socket>());
            QVERIFY(accepted.back()->accept(id));
        });
        QVERIFY(first.connectToHost(kLocal, port));
        QTRY_COMPARE(accepted.size(), size_t(2));

        QByteArray one, two;
        collect(accepted[0].get(), &one);
        collect(accepted[1].get(), &two);
        first.sendData(QByteArray("1"));
        second.sendData(QByteArray("2"));
        QTRY_COMPARE(one.size() + two.size(), 2);
        QVERIFY((one == "1" && two == "2") || (one == "2" && two == "1"));
    }

    void closedSocketIsInert()
    {
        Socket socket;
        QSignalSpy complete(&socket, &Socket::sendComplete);
        QSignalSpy arrival(&socket, &Socket::received);
        socket.sendData(QByteArray("dropped"));
        QCOMPARE(socket.bytesAvailable(), 0);
        socket.close();
        socket.close();
        QCOMPARE(socket.state(), Socket::StateClosed);
        QCoreApplication::processEvents(); // the pass in which a queued announcement would come
        QCOMPARE(complete.size(), 0);
        QCOMPARE(arrival.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSocket)
#include "tst_socket.moc"
