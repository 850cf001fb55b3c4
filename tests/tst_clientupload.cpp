#include "client/ui/mainform.h"
#include "support/studentfixture.h"

// A submission is done only when the server says so: the student program
// against servers that answer out of turn, never confirm, stop reading or
// refuse, and a student who gives up or closes the window.
class TestClientUpload : public QObject, protected StudentFixture
{
    Q_OBJECT

    // The server takes no more bytes: its buffers and ours fill up.
    void stopReading(QTcpSocket &peer)
    {
        QObject::disconnect(&peer, &QTcpSocket::readyRead, nullptr, nullptr);
        peer.setReadBufferSize(64 * 1024);
    }
    // An upload of 32 MiB that the server stops taking at once.
    void stalledUpload()
    {
        confirmedClient();
        m_client->socket().setKernelSendBuffer(64 * 1024);
        announce(QByteArray(32 * 1024 * 1024, 'x'));
        stopReading(m_server->peer());
        m_server->reply("301 - image mode ok");
        QTRY_VERIFY(m_client->statusText().startsWith(QStringLiteral("送信中: ")));
    }

private Q_SLOTS:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // 301 and 302 joined: the 302 comes while the file's bytes are queued.
    // Believing it once stored a corrupt file; now nothing is believed and
    // no line follows the bytes.
    void repliesOutOfTurnEndTheConnection()
    {
        confirmedClient();
        const QByteArray bytes(4 * 1024 * 1024, 'b');
        announce(bytes);
        m_server->send("301 - image mode ok\r\n302 jyusin kanryo\r\n");
        expectNotHandedIn(QStringLiteral("思いがけない返事｢302 jyusin kanryo｣"));
        QTRY_COMPARE(m_server->peer().state(), QAbstractSocket::UnconnectedState);
        QVERIFY(bytes.startsWith(m_server->input()));
        QVERIFY(!m_messages->shown.contains(QStringLiteral("送信完了しました")));
        const qsizetype dialogs = m_dialogs->filters.size();
        m_client->btnSendData_Click();
        QCOMPARE(m_dialogs->filters.size(), dialogs); // 課題 does nothing now

        // 302 straight after the put line, before any byte.
        m_client->btnReConnect_Click();
        QVERIFY(m_server->waitForPeer(2));
        expectButtons(Connected);
        m_client->SYUKKETUBTN_Click();
        QVERIFY(m_server->waitForInput("user taro\r\n"));
        m_server->reply("101 - syusseki totta ^^");
        expectButtons(Attended);
        m_server->input().clear();
        announce("abc");
        m_server->reply("302 jyusin kanryo");
        expectNotHandedIn(QStringLiteral("思いがけない返事"));
    }

    void noConfirmationWithinTheLimit()
    {
        confirmedClient();
        m_client->setTimeLimits({30000, 30000, 300});
        const QByteArray bytes(1000, 'c');
        announce(bytes);
        m_server->reply("301 - image mode ok");
        QVERIFY(m_server->waitForInput(bytes));
        QTRY_COMPARE(m_client->statusText(), QStringLiteral("サーバの確認待ち"));
        expectNotHandedIn(QStringLiteral("送り終えてから60秒たっても"));
        QTRY_COMPARE(m_server->peer().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(m_messages->shown.size(), 2); // the 101 box, then this one
    }

    void aStalledUploadEnds()
    {
        m_server = std::make_unique<ScriptedServer>();
        stalledUpload();
        m_client->setTimeLimits({30000, 300, 60000});
        expectNotHandedIn(QStringLiteral("30秒の間データを受け取らなかった"));
    }

    void reconnectCancelsAnUploadAfterAQuestion()
    {
        stalledUpload();
        m_messages->nextAnswers << false;
        m_client->btnReConnect_Click();
        QCOMPARE(m_messages->asked.size(), 1);
        QVERIFY(m_messages->asked[0].contains(QStringLiteral("取りやめ")));
        QCOMPARE(m_client->state(), Conversation::State::Sending);
        QCOMPARE(m_client->buttons(), Uploading);
        m_client->btnReConnect_Click(); // はい
        QCOMPARE(m_messages->asked.size(), 2);
        QVERIFY(m_server->waitForPeer(2));
        expectButtons(Connected);
        QCOMPARE(m_client->statusText(), NotHandedIn);
        QCOMPARE(m_messages->shown.size(), 1); // the question said it all
    }

    void aRefusalIsShownWithItsReason()
    {
        confirmedClient();
        announce("abc");
        m_server->reply(QStringLiteral("499 同じ名前のフォルダがあります"));
        QTRY_COMPARE(m_messages->shown.size(), 2);
        QCOMPARE(m_messages->shown.last(),
                 QStringLiteral("サーバが課題の受け取りを断りました｡\r\n"
                                "理由: 同じ名前のフォルダがあります\r\n提出は済んでいません｡"));
        expectButtons(Confirmed);
        QCOMPARE(m_client->statusText(), NotHandedIn);
        // The connection goes on, and no byte of the file was sent.
        expectNothingSent();
    }

    void theServerClosingWhileTheDialogIsOpenIsExplained()
    {
        confirmedClient();
        m_timer.start(500);
        bool closedMeanwhile = false;
        m_dialogs->whileOpen = [&] {
            m_server->peer().disconnectFromHost();
            closedMeanwhile =
                QTest::qWaitFor([this] { return m_client->buttons() == Disconnected; }, 5000);
        };
        m_dialogs->nextAnswers << file("report.txt", "work");
        m_client->btnSendData_Click();
        QVERIFY(closedMeanwhile);
        QCOMPARE(m_messages->shown.last(),
                 QStringLiteral("ファイルを選んでいる間にサーバとの接続が切れました｡\r\n"
                                "再接続してから送り直してください｡"));
        QCOMPARE(m_client->buttons(), Disconnected);
        QVERIFY(m_server->input().isEmpty());
    }

    void aLoginNameShiftJisCannotWriteIsNotSent()
    {
        m_client = std::make_unique<StudentClient>(QStringLiteral("josé"), "127.0.0.1",
                                                   m_server->port(), *m_messages, *m_dialogs);
        QVERIFY(m_client->connectToServer().ok());
        QVERIFY(m_server->waitForPeer());
        expectButtons(Connected);
        m_client->SYUKKETUBTN_Click();
        QCOMPARE(m_messages->shown.size(), 1);
        QVERIFY(m_messages->shown[0].startsWith(QStringLiteral("ログイン名｢josé｣")));
        QCOMPARE(m_client->buttons(), Connected);
        // Everything sent before the close arrives before it.
        m_client.reset();
        QTRY_COMPARE(m_server->peer().state(), QAbstractSocket::UnconnectedState);
        QVERIFY(m_server->input().isEmpty());
    }

    void closingTheWindowMidUploadAsksFirst()
    {
        QTemporaryDir folder;
        writeBytes(folder.filePath("var.cfg"),
                   cp932Lines({"serveraddress=127.0.0.1", "port=" + m_server->port()}));
        {
            MainForm idle(m_messages.get(), m_dialogs.get());
            QVERIFY(idle.Form_Load(QStringLiteral("taro"), folder.path()));
            QVERIFY(m_server->waitForPeer());
            QTRY_COMPARE(idle.client()->state(), Conversation::State::Connected);
            QVERIFY(idle.close()); // nothing under way: no question
            QVERIFY(m_messages->asked.isEmpty());
        }
        MainForm form(m_messages.get(), m_dialogs.get());
        QVERIFY(form.Form_Load(QStringLiteral("taro"), folder.path()));
        StudentClient &second = *form.client();
        QVERIFY(m_server->waitForPeer(2));
        QTRY_COMPARE(second.state(), Conversation::State::Connected);
        second.SYUKKETUBTN_Click();
        QVERIFY(m_server->waitForInput("user taro\r\n"));
        m_server->reply("101 - syusseki totta ^^");
        QTRY_COMPARE(second.state(), Conversation::State::Ready);
        m_dialogs->nextAnswers << file("report.bin", "abc");
        second.btnSendData_Click();
        QCOMPARE(second.state(), Conversation::State::Requesting);
        m_messages->nextAnswers << false;
        QVERIFY(!form.close());
        QCOMPARE(m_messages->asked.size(), 1);
        QVERIFY(m_messages->asked[0].contains(QStringLiteral("提出は済みません")));
        QCOMPARE(second.socket().state(), Socket::StateConnected);
        QVERIFY(form.close()); // はい
        QTRY_COMPARE(m_server->peer().state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_MAIN(TestClientUpload)
#include "tst_clientupload.moc"
