#include "client/clientstartup.h"
#include "common/clock.h"
#include "support/studentfixture.h"

#include <QCoreApplication>

// The student program's core without a window: a plain QCoreApplication,
// no window system, and StudentClient alone keeping the connection from
// the first attempt to the close.
class TestClientCore : public QObject, protected StudentFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(9, 5, 7)); });
        QCOMPARE(QCoreApplication::instance()->metaObject()->className(), "QCoreApplication");
    }
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // Start, attendance, the server's close noticed by the core's own watch,
    // reconnection and the close on exit, with no timer of the test's.
    void theCoreKeepsTheConnectionsWholeLife()
    {
        QTemporaryDir folder;
        writeBytes(folder.filePath("var.cfg"),
                   cp932Lines({"serveraddress=127.0.0.1", "port=" + m_server->port()}));
        const Result<ClientSettings> settings =
            prepareClient(QStringLiteral("taro"), folder.path());
        QVERIFY(settings);
        m_client = std::make_unique<StudentClient>(settings->userName, settings->serverAddress,
                                                   settings->serverPort, *m_messages, *m_dialogs);
        QVERIFY(m_client->start());
        QVERIFY(m_server->waitForPeer());
        expectButtons(Connected);
        m_client->SYUKKETUBTN_Click();
        QVERIFY(m_server->waitForInput("user taro\r\n"));
        m_server->reply("101 - syusseki totta ^^");
        m_server->reply("800 講義,先生");
        expectButtons(Confirmed);
        QCOMPARE(m_client->statusText(), QStringLiteral("出席済み (09:05:07)"));
        QTRY_COMPARE(m_client->kougimei(), QStringLiteral("講義"));

        m_server->peer().disconnectFromHost();
        expectButtons(Disconnected);
        QCOMPARE(m_client->kougimei(), QString());
        QCOMPARE(m_messages->shown.size(), 1); // the 101 box only

        reconnects();
        m_client->closeForExit();
        QCOMPARE(m_client->socket().state(), Socket::StateClosed);
        QTRY_COMPARE(m_server->peer().state(), QAbstractSocket::UnconnectedState);
        QVERIFY(m_server->input().isEmpty());
        QCOMPARE(m_messages->shown.size(), 1);
    }

    // A port refused at once ends the program with the reason and nothing
    // watched.
    void aRefusedStartSaysTheProgramEnds()
    {
        m_client =
            std::make_unique<StudentClient>("taro", "127.0.0.1", "70000", *m_messages, *m_dialogs);
        const Result<> started = m_client->start();
        QVERIFY(!started);
        QVERIFY2(started.error().contains("70000"), qPrintable(started.error()));
        QVERIFY(started.error().endsWith(QStringLiteral("\r\nプログラムを終了します")));
        QCOMPARE(m_client->state(), Conversation::State::Closed);
        QCOMPARE(m_client->socket().state(), Socket::StateClosed);
        QVERIFY(m_messages->shown.isEmpty()); // the caller tells the student
    }
};

QTEST_GUILESS_MAIN(TestClientCore)
#include "tst_clientcore.moc"
