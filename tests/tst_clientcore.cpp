#include "client/clientstartup.h"
#include "client/receiptfile.h"
#include "common/clock.h"
#include "common/sha256.h"
#include "support/studentfixture.h"

#include <QCoreApplication>

namespace {

QByteArray sha256(QByteArrayView bytes)
{
    Sha256 hash;
    hash.add(bytes);
    return hash.hexResult();
}

} // namespace

// The student program's core without a window: a plain QCoreApplication,
// no window system, and StudentClient alone keeping the connection from
// the first attempt to the close.
class TestClientCore : public QObject, protected StudentFixture
{
    Q_OBJECT

    static QString hex(QByteArrayView bytes) { return QString::fromLatin1(sha256(bytes)); }
    // Hands in `bytes` as the file `name` up to the server's 302 and the
    // client's hash line, which the test answers.
    void upload(const QString &name, const QByteArray &bytes)
    {
        m_dialogs->nextAnswers << file(name, bytes);
        m_client->btnSendData_Click();
        QVERIFY(m_server->waitForInput("put taro.c," + QByteArray::number(bytes.size()) + "\r\n"));
        m_server->input().clear();
        m_server->reply("301 - image mode ok");
        QVERIFY(m_server->waitForInput(bytes));
        m_server->input().clear();
        m_server->reply("302 jyusin kanryo");
        QVERIFY(m_server->waitForInput("hash taro.c\r\n"));
        QCOMPARE(m_client->statusText(), QStringLiteral("提出完了 (09:05:07)"));
        m_server->input().clear();
    }

private Q_SLOTS:
    void initTestCase()
    {
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(9, 5, 7)); });
        QCOMPARE(QCoreApplication::instance()->metaObject()->className(), "QCoreApplication");
    }
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // Equal receipts: 控え一致, and one line per submission added to the
    // student's 提出控え.txt in code page 932 with CR LF.
    void aMatchingReceiptIsKeptInTheReceiptFile()
    {
        const QString handouts = m_dir.filePath(QStringLiteral("配布物"));
        const QString kept = handouts + u'/' + ReceiptFileName;
        confirmedClient();
        m_client->setHandoutFolder(handouts);
        const QByteArray first = pattern(700 * 1024 + 3, 5); // several pieces
        upload(QStringLiteral("レポート.c"), first);
        m_server->reply(QStringLiteral("403 716803,") + hex(first) +
                        QStringLiteral(",2026/12/09 09:05:08"));
        QTRY_COMPARE(m_client->statusText(), QStringLiteral("提出完了 (09:05:07) 控え一致"));
        QCOMPARE(m_messages->shown.last(), QStringLiteral("送信完了しました"));
        expectButtons(Confirmed);
        const QByteArray firstLine =
            cp932::encode(QStringLiteral("2026/12/09 09:05:08,講義,taro.c,レポート.c,716803,") +
                          hex(first) + QStringLiteral("\r\n"));
        QCOMPARE(readBytes(kept), firstLine);
        // The next goes below it. A name a spreadsheet would take for a
        // formula or split in two stays one text cell.
        upload(QStringLiteral("=1,2.c"), "x");
        m_server->reply(QStringLiteral("403 1,") + hex("x") +
                        QStringLiteral(",2026/12/09 09:06:00"));
        QTRY_VERIFY(m_client->statusText().endsWith(QStringLiteral("控え一致")));
        QCOMPARE(readBytes(kept), firstLine + "2026/12/09 09:06:00," + cp932::encode(u"講義") +
                                      ",taro.c,\"'=1,2.c\",1," + sha256("x") + "\r\n");
    }

    // A receipt that differs from what was sent says the work must go again;
    // any other answer, or none within the limit, claims nothing beyond 302.
    void otherReceiptsClaimNothing_data()
    {
        QTest::addColumn<QString>("answer"); // empty: none
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("shown");
        const QString plain = QStringLiteral("提出完了 (09:05:07)");
        const QString done = QStringLiteral("送信完了しました");
        const QString other = QStringLiteral("違っています");
        QTest::newRow("other hash")
            << QStringLiteral("403 3,") + hex("abd") + QStringLiteral(",2026/12/09 09:05:08")
            << QStringLiteral("提出は済んでいません") << other;
        QTest::newRow("other size")
            << QStringLiteral("403 4,") + hex("abc") + QStringLiteral(",2026/12/09 09:05:08")
            << QStringLiteral("提出は済んでいません") << other;
        QTest::newRow("no answer") << QString() << plain << done;
        QTest::newRow("older server's error") << "500 unknown command" << plain << done;
        QTest::newRow("refused") << QStringLiteral("499 あなたのファイルではありません｡") << plain
                                 << done;
        QTest::newRow("malformed 403") << QStringLiteral("403 3,") + hex("abc") << plain << done;
    }
    void otherReceiptsClaimNothing()
    {
        QFETCH(QString, answer);
        QFETCH(QString, status);
        QFETCH(QString, shown);
        confirmedClient();
        m_client->setHandoutFolder(m_dir.path());
        upload(QStringLiteral("report.c"), "abc");
        const qsizetype before = m_messages->shown.size();
        if (!answer.isEmpty())
            m_server->reply(answer);
        QTRY_COMPARE(m_messages->shown.size(), before + 1);
        QVERIFY2(m_messages->shown.last().contains(shown), qPrintable(m_messages->shown.last()));
        QCOMPARE(m_client->statusText(), status);
        // Still connected and ready: the work may be handed in again.
        expectButtons(Confirmed);
        QCOMPARE(m_client->socket().state(), Socket::StateConnected);
        QVERIFY(!QFileInfo::exists(m_dir.filePath(ReceiptFileName)));
        m_server->input().clear();
        expectNothingSent();
    }

    // A busy server's answer after the wait ends is passed over: the
    // connection stays, nothing shown changes, and the next upload's own
    // receipt is still taken as its own.
    void aReceiptAfterTheWaitIsPassedOver_data()
    {
        QTest::addColumn<QString>("late");
        QTest::newRow("403") << QStringLiteral("403 3,") + hex("abc") +
                                    QStringLiteral(",2026/12/09 09:05:08");
        QTest::newRow("499") << QStringLiteral("499 そのファイルは受け取っていません｡");
    }
    void aReceiptAfterTheWaitIsPassedOver()
    {
        QFETCH(QString, late);
        confirmedClient();
        m_client->setHandoutFolder(m_dir.path());
        const qsizetype before = m_messages->shown.size();
        upload(QStringLiteral("report.c"), "abc");
        QTRY_COMPARE(m_messages->shown.size(), before + 1); // the wait ended
        const QString plain = QStringLiteral("提出完了 (09:05:07)");
        QCOMPARE(m_client->statusText(), plain);
        m_server->reply(late);
        m_server->reply(QStringLiteral("800 後の講義,先生")); // read after the late answer
        QTRY_COMPARE(m_client->kougimei(), QStringLiteral("後の講義"));
        QCOMPARE(m_client->socket().state(), Socket::StateConnected);
        QCOMPARE(m_client->statusText(), plain);
        QCOMPARE(m_messages->shown.size(), before + 1);
        expectButtons(Confirmed);
        upload(QStringLiteral("report.c"), "xyz");
        m_server->reply(QStringLiteral("403 3,") + hex("xyz") +
                        QStringLiteral(",2026/12/09 09:06:00"));
        QTRY_COMPARE(m_client->statusText(), plain + QStringLiteral(" 控え一致"));
    }

    // The receipt file is only ever added to, never through a link.
    void theReceiptFileIsAppendedToAndNeverFollowed()
    {
        const ReceiptEntry entry{"2026/12/09 09:05:08", "講義", "taro.c", "a.c", 3, sha256("abc")};
        writeBytes(m_dir.filePath(ReceiptFileName), "earlier\r\n");
        QVERIFY(appendReceipt(m_dir.path(), entry));
        QCOMPARE(readBytes(m_dir.filePath(ReceiptFileName)),
                 "earlier\r\n" + cp932::encode(receiptFileLine(entry)) + "\r\n");
        QTemporaryDir linked;
        writeBytes(linked.filePath("elsewhere"), "theirs");
        QVERIFY(QFile::link(linked.filePath("elsewhere"), linked.filePath(ReceiptFileName)));
        QVERIFY(!appendReceipt(linked.path(), entry));
        QCOMPARE(readBytes(linked.filePath("elsewhere")), QByteArray("theirs"));
    }

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
