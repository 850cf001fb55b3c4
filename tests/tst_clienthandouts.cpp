#include "client/clientstartup.h"
#include "client/handoutfetch.h"
#include "client/handoutfile.h"
#include "common/cp932.h"
#include "support/studentfixture.h"

#include <QCryptographicHash>
#include <QStandardPaths>

namespace {

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace

// Handouts in the student program: the fetch against a scripted server that
// lists, sends, refuses and lies, and how it shares the connection with
// attendance and submissions.
class TestClientHandouts : public QObject, protected StudentFixture
{
    Q_OBJECT

    // A client whose lecture line has come, its handouts going to `folder`.
    void handoutClient(const QString &folder)
    {
        connectedClient();
        QVERIFY(!m_client->handoutsEnabled());
        m_server->reply("800 講義,先生");
        QTRY_VERIFY(m_client->handoutsEnabled());
        m_client->setHandoutFolder(folder);
        m_client->btnHandouts_Click();
        QVERIFY(!m_client->handoutsEnabled());
        QVERIFY(m_server->waitForInput("list\r\n"));
        m_server->input().clear();
    }
    QStringList entriesOf(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    void served(const QByteArray &get, const QByteArray &reply)
    {
        QVERIFY(m_server->waitForInput(get));
        m_server->input().clear();
        m_server->send(reply);
    }

private Q_SLOTS:
    void init() { setUp(); }
    void cleanup() { tearDown(); }

    // Every file is checked against its listing before it is put in place;
    // a refusal and a failed check name the file and the reason.
    void handoutsAreCheckedBeforeTheyAreSaved()
    {
        QTemporaryDir target;
        handoutClient(target.path());
        m_server->reply("401 4");
        m_server->reply("101 a.txt,5," + sha256("hello")); // an entry, not a reply
        m_server->reply("b.txt,5," + sha256("hellO"));
        m_server->reply("c.txt,3," + sha256("abc"));
        m_server->reply("d.txt,3," + sha256("abc"));
        served("get 101 a.txt\r\n", "402 5\r\nhello");
        served("get b.txt\r\n", "402 5\r\nhello");
        served("get c.txt\r\n", cp932::encode(u"499 配布物を読み込めません｡\r\n"));
        served("get d.txt\r\n", "402 4\r\nabcd");
        QTRY_COMPARE(m_messages->shown.size(), 1);
        QCOMPARE(
            m_messages->shown.last(),
            "保存しました: 101 a.txt\r\n保存できませんでした: b.txt (SHA-256が一覧と違います), "
            "c.txt (配布物を読み込めません｡), d.txt (大きさが一覧と違います)\r\n保存先: " +
                QDir::toNativeSeparators(target.path()));
        QCOMPARE(entriesOf(target.path()), QStringList{"101 a.txt"});
        QCOMPARE(readBytes(target.filePath("101 a.txt")), QByteArray("hello"));
        QCOMPARE(m_client->buttons(), Lectured); // attendance untouched
        QVERIFY(m_client->handoutsEnabled());
        QCOMPARE(m_client->statusText(), QString());
        // The connection goes on in text mode.
        m_client->SYUKKETUBTN_Click();
        QVERIFY(m_server->waitForInput("user taro\r\n"));
    }

    // An upload and a fetch never overlap: a get line sent between a put
    // line and its file would be stored as part of the file.
    void uploadAndHandoutFetchWaitForEachOther()
    {
        QTemporaryDir target;
        confirmedClient();
        m_client->setHandoutFolder(target.path());
        QVERIFY(m_client->handoutsEnabled());
        m_client->btnHandouts_Click();
        QVERIFY(m_server->waitForInput("list\r\n"));
        m_server->input().clear();
        m_dialogs->nextAnswers << file("report.txt", "abc");
        m_client->btnSendData_Click(); // does nothing while fetching
        m_server->reply("401 0");
        QTRY_COMPARE(m_messages->shown.size(), 2); // attendance, then the handouts
        QCOMPARE(m_server->input(), QByteArray());
        QVERIFY(m_client->handoutsEnabled());
        m_client->btnSendData_Click();
        QVERIFY(m_server->waitForInput("put taro.txt,3\r\n"));
        QVERIFY(!m_client->handoutsEnabled());
        m_client->btnHandouts_Click();
        m_server->reply("301 - image mode ok");
        QVERIFY(m_server->waitForInput("put taro.txt,3\r\nabc"));
        m_server->reply("302 jyusin kanryo");
        QTRY_VERIFY(m_client->handoutsEnabled());
        QCOMPARE(m_server->input(), QByteArray("put taro.txt,3\r\nabc"));
    }

    void handoutNamesThatWouldLeaveTheFolderAreNotAskedFor()
    {
        QTemporaryDir target;
        handoutClient(target.path());
        m_server->reply("401 3");
        m_server->reply("../evil.txt,1," + sha256("x"));
        m_server->reply(".bashrc,1," + sha256("x"));
        m_server->reply("not an entry");
        QTRY_COMPARE(m_messages->shown.size(), 1);
        QVERIFY2(
            m_messages->shown.last().startsWith(
                "保存できませんでした: not an entry (一覧の行が正しくありません), "
                "../evil.txt (この名前では保存できません), .bashrc (この名前では保存できません)"),
            qPrintable(m_messages->shown.last()));
        QCOMPARE(m_server->input(), QByteArray());
        QVERIFY(entriesOf(target.path()).isEmpty());
        // A refused listing says why.
        m_client->btnHandouts_Click();
        QVERIFY(m_server->waitForInput("list\r\n"));
        m_server->reply("499 配布物のフォルダを読み込めません｡");
        QTRY_COMPARE(m_messages->shown.size(), 2);
        QVERIFY(m_messages->shown.last().startsWith(
            "配布物の一覧を受け取れませんでした: 配布物のフォルダを読み込めません｡\r\n"));
    }

    void connectionLostMidHandoutLeavesNoPartialFile()
    {
        QTemporaryDir target;
        handoutClient(target.path());
        m_timer.start(500);
        m_server->reply("401 1");
        m_server->reply("a.bin,10," + sha256("0123456789"));
        served("get a.bin\r\n", "402 10\r\n01234");
        QTRY_COMPARE(m_client->statusText(), QStringLiteral("配布物を受信中: a.bin 50%"));
        // Nothing shows under the handout's name before it is checked.
        QVERIFY(!QFileInfo::exists(target.filePath("a.bin")));
        m_server->peer().close();
        QTRY_COMPARE(m_messages->shown.size(), 1);
        QVERIFY(m_messages->shown.last().startsWith(
            "保存できませんでした: a.bin (受信中に接続が切れました)"));
        QVERIFY(entriesOf(target.path()).isEmpty());
        QVERIFY(!m_client->handoutsEnabled());
        expectButtons(Disconnected);
    }

    void handoutFolderAndNumberedNames()
    {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(handoutFolderFor({}, "情報処理演習Ⅰ"), documents + "/情報処理演習Ⅰ");
        QCOMPARE(handoutFolderFor({}, "C言語/応用:第2回"), documents + "/C言語_応用_第2回");
        QCOMPARE(handoutFolderFor({}, ".."), documents + "/配布物");
        QCOMPARE(handoutFolderFor("/srv/haifu", "講義"), QStringLiteral("/srv/haifu"));
        QCOMPARE(numberedName("report.pdf", 2), QStringLiteral("report (2).pdf"));
        QCOMPARE(numberedName("archive.tar.gz", 3), QStringLiteral("archive.tar (3).gz"));
        QCOMPARE(numberedName("README", 2), QStringLiteral("README (2)"));
        QCOMPARE(numberedName("a.txt", 1), QStringLiteral("a.txt"));
        QTemporaryDir folder;
        writeBytes(folder.filePath("var.cfg"),
                   cp932Lines({"serveraddress=127.0.0.1", "port=1", "haifusaki=/srv/配布物"}));
        QCOMPARE(prepareClient(QStringLiteral("taro"), folder.path())->handoutFolder,
                 QStringLiteral("/srv/配布物"));
    }

    // While a fetch is under way only 再接続 works, and a reply counts only
    // where the fetch expects it: 401 after list, 402 and 499 after get.
    // One out of turn ends the connection; no file is left behind.
    void repliesOutOfTurnDuringAFetchEndTheConnection()
    {
        QTemporaryDir target;
        handoutClient(target.path());
        expectButtons(Uploading); // 出欠, 課題 and 配布物 off, 再接続 on
        m_client->SYUKKETUBTN_Click();
        m_dialogs->nextAnswers << file("report.txt", "abc");
        m_client->btnSendData_Click();
        m_client->btnHandouts_Click();
        m_server->reply("402 5");                  // a file's size where the list was asked for
        QTRY_COMPARE(m_messages->shown.size(), 2); // the fetch's end, then why
        QVERIFY2(m_messages->shown.last().contains(QStringLiteral("思いがけない返事｢402 5｣")),
                 qPrintable(m_messages->shown.last()));
        expectButtons(Disconnected);
        QCOMPARE(m_server->input(), QByteArray()); // nothing sent meanwhile
        QVERIFY(entriesOf(target.path()).isEmpty());
        QCOMPARE(m_dialogs->filters.size(), 0);

        // A listing after the get line is out of turn as well.
        reconnects();
        m_server->input().clear();
        m_server->reply("800 講義,先生");
        QTRY_VERIFY(m_client->handoutsEnabled());
        m_client->btnHandouts_Click();
        QVERIFY(m_server->waitForInput("list\r\n"));
        m_server->reply("401 1");
        m_server->reply("a.txt,5," + sha256("hello"));
        served("list\r\nget a.txt\r\n", "401 1\r\nhello");
        QTRY_COMPARE(m_messages->shown.size(), 4);
        QVERIFY(m_messages->shown.last().contains(QStringLiteral("｢401 1｣")));
        QVERIFY(entriesOf(target.path()).isEmpty());
    }

    // 再接続 ends a fetch that stalls; the files saved so far stay.
    void reconnectEndsAStalledFetch()
    {
        QTemporaryDir target;
        handoutClient(target.path());
        m_server->reply("401 2");
        m_server->reply("a.txt,5," + sha256("hello"));
        m_server->reply("b.txt,5," + sha256("world"));
        served("get a.txt\r\n", "402 5\r\nhello");
        served("get b.txt\r\n", "402 5\r\nwor"); // and no more
        QTRY_COMPARE(m_client->statusText(), QStringLiteral("配布物を受信中: b.txt 60%"));
        QCOMPARE(m_client->buttons(), Uploading);
        m_client->btnReConnect_Click();
        QVERIFY(m_server->waitForPeer(2));
        QCOMPARE(m_messages->shown.size(), 1);
        QVERIFY2(
            m_messages->shown.last().startsWith(
                "保存しました: a.txt\r\n保存できませんでした: b.txt (受信中に接続が切れました)"),
            qPrintable(m_messages->shown.last()));
        QCOMPARE(entriesOf(target.path()), QStringList{"a.txt"});
        expectButtons(Connected); // a new connection waits for its lecture line
    }
};

QTEST_MAIN(TestClientHandouts)
#include "tst_clienthandouts.moc"
