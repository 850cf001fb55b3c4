#include "client/clientstartup.h"
#include "client/handoutfetch.h"
#include "client/handoutfile.h"
#include "client/ui/mainform.h"
#include "common/cp932.h"
#include "support/classroom.h"
#include "support/studentfixture.h"

#include <QCryptographicHash>
#include <QPushButton>
#include <QStandardPaths>
#include <QThreadPool>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

int modeOf(const QString &path)
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777)
                                                                    : -1;
}

const QByteArray HelloHash = sha256("hello").toLatin1();

QByteArray lines(const QByteArray &line, int count)
{
    return line.repeated(count);
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
    // What a folder holds, the record of saved handouts aside.
    QStringList entriesOf(const QString &folder)
    {
        QStringList entries =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        entries.removeOne(QString::fromLatin1(HandoutRecord::FileName));
        return entries;
    }
    void served(const QByteArray &get, const QByteArray &reply)
    {
        QVERIFY(m_server->waitForInput(get));
        m_server->input().clear();
        m_server->send(reply);
    }
    // One more press of 配布物 that lists `files` (name, contents) and
    // serves each file asked for; the message it ends with.
    QString fetchAgain(const QList<std::pair<QByteArray, QByteArray>> &files,
                       const QList<QByteArray> &asked)
    {
        const qsizetype shown = m_messages->shown.size();
        m_client->btnHandouts_Click();
        if (!m_server->waitForInput("list\r\n"))
            return QStringLiteral("no list line");
        m_server->input().clear();
        QByteArray listing = "401 " + QByteArray::number(files.size()) + "\r\n";
        for (const auto &[name, bytes] : files)
            listing += name + "," + QByteArray::number(bytes.size()) + "," +
                       sha256(bytes).toLatin1() + "\r\n";
        m_server->send(listing);
        for (const auto &[name, bytes] : files) {
            if (asked.contains(name))
                served("get " + name + "\r\n",
                       "402 " + QByteArray::number(bytes.size()) + "\r\n" + bytes);
        }
        if (!QTest::qWaitFor([&] { return m_messages->shown.size() > shown; }, 5000))
            return QStringLiteral("no message");
        return m_messages->shown.last();
    }
    // Handouts to `target`, the desktop's trash (if `trash`) beside it.
    void clientWithData(const QTemporaryDir &home, bool trash)
    {
        QVERIFY(QDir(home.path()).mkpath(trash ? "data/Trash" : "data"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath("data")));
        handoutClient(home.filePath("haifu"));
        m_server->reply("401 0");
        QTRY_COMPARE(m_messages->shown.size(), 1);
        m_messages->shown.clear();
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
        m_server->reply("401 3");
        m_server->reply("101 a.txt,5," + sha256("hello")); // an entry, not a reply
        m_server->reply("b.txt,5," + sha256("hellO"));
        m_server->reply("c.txt,3," + sha256("abc"));
        served("get 101 a.txt\r\n", "402 5\r\nhello");
        served("get b.txt\r\n", "402 5\r\nhello");
        served("get c.txt\r\n", cp932::encode(u"499 配布物を読み込めません｡\r\n"));
        QTRY_COMPARE(m_messages->shown.size(), 1);
        QCOMPARE(m_messages->shown.last(),
                 "保存しました: 101 a.txt\r\n保存できませんでした: b.txt "
                 "(受信中に先生の側で変更されました｡もう一度 配布物 を押してください), "
                 "c.txt (配布物を読み込めません｡)\r\n保存先: " +
                     QDir::toNativeSeparators(target.path()));
        QCOMPARE(entriesOf(target.path()), QStringList{"101 a.txt"});
        QCOMPARE(readBytes(target.filePath("101 a.txt")), QByteArray("hello"));
        QCOMPARE(modeOf(target.filePath("101 a.txt")), 0644);
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
        // After 302 the receipt is asked for (this server never answers it).
        QVERIFY(m_server->waitForInput("put taro.txt,3\r\nabchash taro.txt\r\n"));
        QTRY_VERIFY(m_client->handoutsEnabled());
        QCOMPARE(m_server->input(), QByteArray("put taro.txt,3\r\nabchash taro.txt\r\n"));
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
                "保存できませんでした: ../evil.txt (この名前では保存できません), "
                ".bashrc (この名前では保存できません), not an entry (一覧の行が正しくありません)"),
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

    // A newer version replaces a file the student did not change, the old
    // one going to the desktop's trash; one the student changed stays and
    // the new one is saved beside, that copy being replaced in turn.
    void updatedHandoutsReplaceWhatTheStudentDidNotChange()
    {
        QTemporaryDir home;
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", dataHome); });
        clientWithData(home, true);
        const QString folder = home.filePath("haifu");
        const QString trash = home.filePath("data/Trash");
        QCOMPARE(fetchAgain({{"a.txt", "a1"}, {"b.txt", "b1"}}, {"a.txt", "b.txt"}),
                 "保存しました: a.txt, b.txt\r\n保存先: " + QDir::toNativeSeparators(folder));
        writeBytes(folder + "/b.txt", "my notes");
        QCOMPARE(fetchAgain({{"a.txt", "a22"}, {"b.txt", "b22"}}, {"a.txt", "b.txt"}),
                 "保存しました: b (2).txt\r\n新しい版に置き換えました: a.txt (前の版はごみ箱へ)\r\n"
                 "保存先: " +
                     QDir::toNativeSeparators(folder));
        QCOMPARE(readBytes(folder + "/a.txt"), QByteArray("a22"));
        QCOMPARE(readBytes(folder + "/b.txt"), QByteArray("my notes"));
        QCOMPARE(readBytes(folder + "/b (2).txt"), QByteArray("b22"));
        QCOMPARE(readBytes(trash + "/files/a.txt"), QByteArray("a1"));
        const QByteArray info = readBytes(trash + "/info/a.txt.trashinfo");
        QVERIFY2(info.startsWith("[Trash Info]\nPath=" +
                                 QFile::encodeName(folder + "/a.txt").toPercentEncoding("/") +
                                 "\nDeletionDate=20"),
                 info.constData());
        // The third version: no "(3)", and a second old a.txt in the trash.
        QCOMPARE(
            fetchAgain({{"a.txt", "a333"}, {"b.txt", "b333"}}, {"a.txt", "b.txt"}),
            "新しい版に置き換えました: a.txt (前の版はごみ箱へ), b (2).txt (前の版はごみ箱へ)\r\n"
            "保存先: " +
                QDir::toNativeSeparators(folder));
        QCOMPARE(entriesOf(folder), (QStringList{"a.txt", "b (2).txt", "b.txt"}));
        QVERIFY(QFileInfo::exists(folder + "/.tavrelle-handouts.txt"));
        QCOMPARE(readBytes(folder + "/b (2).txt"), QByteArray("b333"));
        QCOMPARE(entriesOf(trash + "/files"), (QStringList{"a (2).txt", "a.txt", "b (2).txt"}));
        QCOMPARE(readBytes(trash + "/files/a (2).txt"), QByteArray("a22"));
        QVERIFY(QFileInfo::exists(trash + "/info/a (2).txt.trashinfo"));
        // Nothing new: nothing asked for.
        QVERIFY(fetchAgain({{"a.txt", "a333"}, {"b.txt", "b333"}}, {})
                    .startsWith("既にあります: a.txt, b.txt\r\n"));
    }

    // Without a trash the old version goes to ".old"; a record the student
    // could have made huge, or a link, is not read: the files count as theirs.
    void withoutATrashOldVersionsGoToOld()
    {
        QTemporaryDir home;
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", dataHome); });
        clientWithData(home, false);
        const QString folder = home.filePath("haifu");
        QVERIFY(fetchAgain({{"a.txt", "a1"}, {"b.txt", "b1"}}, {"a.txt", "b.txt"})
                    .startsWith("保存しました: a.txt, b.txt\r\n"));
        QVERIFY(fetchAgain({{"a.txt", "a22"}}, {"a.txt"})
                    .startsWith("新しい版に置き換えました: a.txt (前の版は .old へ)\r\n"));
        QCOMPARE(readBytes(folder + "/.old/a.txt"), QByteArray("a1"));
        QVERIFY(fetchAgain({{"a.txt", "a333"}}, {"a.txt"})
                    .startsWith("新しい版に置き換えました: a.txt (前の版は .old へ)\r\n"));
        QCOMPARE(readBytes(folder + "/.old/a (2).txt"), QByteArray("a22"));
        QVERIFY(!QFileInfo::exists(home.filePath("data/Trash")));

        const QString record = folder + "/.tavrelle-handouts.txt";
        QVERIFY(readBytes(record).contains("\r\nb.txt,2," + sha256("b1").toLatin1() + "\r\n"));
        QFile big(record);
        QVERIFY(big.open(QIODevice::Append) && big.resize(HandoutRecord::MaxBytes + 1));
        big.close();
        QVERIFY(
            fetchAgain({{"b.txt", "b22"}}, {"b.txt"}).startsWith("保存しました: b (2).txt\r\n"));
        QVERIFY(QFile::remove(record));
        QVERIFY(QFile::link(home.filePath("elsewhere"), record));
        writeBytes(home.filePath("elsewhere"), "a.txt,4," + sha256("a333").toLatin1() + "\r\n");
        QVERIFY(fetchAgain({{"a.txt", "a4"}}, {"a.txt"}).startsWith("保存しました: a (2).txt\r\n"));
        QCOMPARE(readBytes(folder + "/a.txt"), QByteArray("a333"));
        QVERIFY(QFileInfo(record).isFile() && !QFileInfo(record).isSymLink());
        QCOMPARE(readBytes(home.filePath("elsewhere")),
                 "a.txt,4," + sha256("a333").toLatin1() + "\r\n");
    }

    // Each saved file is in the record before the next is asked for: a
    // program killed in the middle of a fetch still replaces it next time.
    void theRecordKeepsUpWithEveryFileSaved()
    {
        QTemporaryDir home;
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", dataHome); });
        clientWithData(home, false);
        const QString record = home.filePath("haifu") + "/.tavrelle-handouts.txt";
        m_client->btnHandouts_Click();
        QVERIFY(m_server->waitForInput("list\r\n"));
        m_server->input().clear();
        m_server->send("401 2\r\na.txt,2," + sha256("a1").toLatin1() + "\r\nb.txt,2," +
                       sha256("b1").toLatin1() + "\r\n");
        served("get a.txt\r\n", "402 2\r\na1");
        QVERIFY(m_server->waitForInput("get b.txt\r\n"));
        QVERIFY(readBytes(record).contains("\r\na.txt,2," + sha256("a1").toLatin1() + "\r\n"));
        QVERIFY(m_messages->shown.isEmpty()); // the fetch goes on
    }

    // A handout that changes on the lecturer's machine while it comes (in
    // place, or replaced by another file) ends only that file, with a word
    // to the student; the rest come, and 配布物 brings the new one at once.
    void handoutChangedOnTheServerEndsOnlyThatFile_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("replaced") << false;
        QTest::newRow("in place") << true;
    }
    void handoutChangedOnTheServerEndsOnlyThatFile()
    {
        QFETCH(bool, inPlace);
        Classroom room({"taro,山田　太郎"});
        const QString big = room.haifu + "/big.bin";
        const QByteArray fresh = pattern(32 * 1024 * 1024, 12);
        room.handout("big.bin", pattern(32 * 1024 * 1024, 11));
        room.handout("small.txt", "small");
        QTemporaryDir target;
        StudentClient client("taro", "127.0.0.1", QString::number(room.port()), *m_messages,
                             *m_dialogs);
        client.setHandoutFolder(target.path());
        QVERIFY(client.connectToServer().ok());
        QTRY_VERIFY(client.handoutsEnabled());
        // Changed as the first bytes arrive: most of the file is still to come.
        bool changed = false;
        connect(&client.socket(), &Socket::received, this, [&] {
            if (changed || !client.statusText().startsWith(QStringLiteral("配布物を受信中: big")))
                return;
            changed = true;
            if (inPlace) {
                QFile file(big);
                QVERIFY(file.open(QIODevice::ReadWrite));
                QCOMPARE(file.write(fresh), fresh.size());
            } else {
                writeBytes(room.haifu + "/.new", fresh);
                QVERIFY(QFile::rename(big, room.haifu + "/.old") &&
                        QFile::rename(room.haifu + "/.new", big));
            }
        });
        client.btnHandouts_Click();
        QTRY_COMPARE_WITH_TIMEOUT(m_messages->shown.size(), 1, 20000);
        QVERIFY(changed);
        QCOMPARE(m_messages->shown.last(),
                 "保存しました: small.txt\r\n保存できませんでした: big.bin "
                 "(受信中に先生の側で変更されました｡もう一度 配布物 を押してください)\r\n保存先: " +
                     QDir::toNativeSeparators(target.path()));
        QCOMPARE(entriesOf(target.path()), QStringList{"small.txt"});
        QVERIFY(room.log.text().contains(
            "配布物 big.bin の送信を打ち切りました: 送信中に配布物が変わりました"));
        QVERIFY(!room.log.text().contains("配布完了 big.bin"));
        QCOMPARE(client.socket().state(), Socket::StateConnected);
        QVERIFY(client.handoutsEnabled());
        client.btnHandouts_Click();
        QTRY_COMPARE_WITH_TIMEOUT(m_messages->shown.size(), 2, 20000);
        QVERIFY2(m_messages->shown.last().startsWith(
                     "保存しました: big.bin\r\n既にあります: small.txt\r\n"),
                 qPrintable(m_messages->shown.last()));
        QVERIFY(readBytes(target.filePath("big.bin")) == fresh);
    }

    void handoutFolderAndNumberedNames()
    {
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(handoutFolderFor({}, "情報処理演習Ⅰ"), documents + "/情報処理演習Ⅰ");
        QCOMPARE(handoutFolderFor({}, "C言語/応用:第2回"), documents + "/C言語_応用_第2回");
        QCOMPARE(handoutFolderFor({}, ".."), documents + "/配布物");
        QCOMPARE(handoutFolderFor("/srv/haifu", "講義"), QStringLiteral("/srv/haifu"));
        // Cut to what a file system holds, never in the middle of a character.
        QCOMPARE(handoutFolderName(QString(90, u'漢')), QString(85, u'漢'));
        const QString faces = handoutFolderName(QString::fromUtf8("😀").repeated(70));
        QCOMPARE(faces, QString::fromUtf8("😀").repeated(63));
        QCOMPARE(handoutFolderName(QString(300, u'a') + "  b"), QString(255, u'a'));
        // The home folder's own entries, whatever documents is.
        QCOMPARE(handoutFolderName("Desktop"), QStringLiteral("_Desktop"));
        QCOMPARE(handoutFolderName("デスクトップ"), QStringLiteral("_デスクトップ"));
        QCOMPARE(handoutFolderName("documents"), QStringLiteral("_documents"));
        QCOMPARE(handoutFolderName(".ssh"), QStringLiteral("_.ssh"));
        QCOMPARE(handoutFolderName(".config/autostart"), QStringLiteral("_.config_autostart"));
        QCOMPARE(handoutFolderName("Desktop2"), QStringLiteral("Desktop2"));
        QTemporaryDir config;
        writeBytes(config.filePath("user-dirs.dirs"), "XDG_MUSIC_DIR=\"$HOME/おんがく\"\n");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const auto restore = qScopeGuard([] { qunsetenv("XDG_CONFIG_HOME"); });
        QCOMPARE(handoutFolderName("おんがく"), QStringLiteral("_おんがく"));
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

    // A server that lists or sends more than it announced, or lists a name
    // twice, ends the connection before anything is written; the student is
    // told it sent something wrong. A check of large files stops at once
    // when the connection ends or the window closes.
    void hostileServersAreBounded_data()
    {
        QTest::addColumn<QByteArray>("listing");
        QTest::addColumn<QByteArray>("transfer"); // the answer to the get line, if one is sent
        QTest::addColumn<QString>("then");        // "reconnect" or "close" once the check runs
        QTest::addColumn<QString>("told");        // empty: nothing at all
        QTest::addColumn<bool>("ends");

        const QByteArray one = "401 1\r\na.txt,5," + HelloHash + "\r\n";
        const QByteArray longName(70000, 'n');
        QTest::newRow("endless listing")
            << "401 2147483647\r\n" + lines("a.txt,5," + HelloHash + "\r\n", 100) << QByteArray()
            << QString() << "(配布物の一覧が10000件を超えています)" << true;
        QTest::newRow("one entry too many")
            << QByteArray("401 10001\r\n") << QByteArray() << QString()
            << "(配布物の一覧が10000件を超えています)" << true;
        QTest::newRow("long line")
            << "401 1\r\n" + longName + ",5," + HelloHash + "\r\n"
            << QByteArray() << QString() << "(65536バイトを超える行がありました)" << true;
        QTest::newRow("long line without end")
            << "401 1\r\n" + longName << QByteArray() << QString()
            << "(65536バイトを超える行がありました)" << true;
        QTest::newRow("many bad lines")
            << "401 10000\r\n" + lines("bad\r\n", 10000) << QByteArray() << QString()
            << "保存できませんでした: " +
                   QStringList(10, "bad (一覧の行が正しくありません)").join(", ") + " ほか9990件"
            << false;
        QTest::newRow("402 larger than listed")
            << one << "402 600000000\r\n" + QByteArray(1 << 20, 'x') << QString()
            << "(a.txt の大きさ 600000000 バイトが一覧の 5 バイトと違います)" << true;
        QTest::newRow("402 smaller than listed")
            << one << QByteArray("402 4\r\nhell") << QString()
            << "(a.txt の大きさ 4 バイトが一覧の 5 バイトと違います)" << true;
        QTest::newRow("name twice")
            << "401 2\r\na.txt,5," + HelloHash + "\r\na.txt,5," + HelloHash + "\r\n"
            << QByteArray() << QString() << "(a.txt が一覧に2度あります)" << true;
        QTest::newRow("case twins")
            << "401 2\r\nReport.txt,5," + HelloHash + "\r\nreport.TXT,5," + HelloHash + "\r\n"
            << QByteArray() << QString() << "(report.TXT が一覧に2度あります)" << true;
        const QByteArray big = "401 1\r\nbig.bin,2147483647," + HelloHash + "\r\n";
        QTest::newRow("reconnect during a check")
            << big << QByteArray() << "reconnect"
            << "保存できませんでした: big.bin (確認中に接続が切れました)" << true;
        QTest::newRow("close during a check")
            << big << QByteArray() << "close" << QString() << true;
    }
    void hostileServersAreBounded()
    {
        QFETCH(QByteArray, listing);
        QFETCH(QByteArray, transfer);
        QFETCH(QString, then);
        QFETCH(QString, told);
        QFETCH(bool, ends);
        QTemporaryDir target;
        QStringList there;
        if (!then.isEmpty()) {
            // A file of the listed size to hash, without taking the space.
            QFile big(target.filePath("big.bin"));
            QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(wire::MaxUploadSize));
            there << "big.bin";
        }
        handoutClient(target.path());
        m_server->send(listing);
        if (!transfer.isEmpty())
            served("get a.txt\r\n", transfer);
        if (!then.isEmpty()) {
            QTRY_COMPARE(m_client->statusText(), QStringLiteral("配布物を確認中"));
            if (then == "reconnect")
                m_client->btnReConnect_Click();
            else
                m_client->closeForExit();
            QVERIFY(QThreadPool::globalInstance()->waitForDone(1000));
        }
        if (told.isEmpty()) {
            QTRY_COMPARE(m_client->socket().state(), Socket::StateClosed);
            QCOMPARE(m_messages->shown, QStringList());
        } else {
            QTRY_COMPARE(m_messages->shown.size(), 1);
            QVERIFY2(m_messages->shown.last().contains(told), qPrintable(m_messages->shown.last()));
            QCOMPARE(m_messages->shown.last().startsWith(
                         "サーバから正しくないデータが届いたため､接続を切りました｡\r\n"),
                     ends && then.isEmpty());
            QVERIFY(m_messages->shown.last().count(u'\n') <= 6); // a box a person can read
        }
        if (ends && then.isEmpty()) {
            QVERIFY(m_messages->shown.last().contains("再接続ボタンを押してください｡"));
            expectButtons(Disconnected);
        }
        if (!ends)
            QVERIFY(m_client->handoutsEnabled());
        QCOMPARE(entriesOf(target.path()), there); // not a byte of a refused transfer
        QCOMPARE(m_server->input(), QByteArray()); // nothing asked after a refusal
    }

    // Between the check and the naming another user swaps the folder for a
    // link and plants a link at the handout's name: the file still lands in
    // the folder that was opened, under a free name, and nothing the links
    // point to changes.
    void savingGoesThroughTheOpenedFolder()
    {
        QTemporaryDir root;
        const QString folder = root.filePath("haifu");
        const QString moved = root.filePath("moved");
        const QString secret = root.filePath("secret/id_rsa");
        QVERIFY(QDir(root.path()).mkpath("secret"));
        writeBytes(secret, "private");
        QCOMPARE(::chmod(QFile::encodeName(secret).constData(), 0600), 0);
        handoutClient(folder);
        IncomingHandout::beforeNaming = [&] {
            QVERIFY(QDir().rename(folder, moved));
            QVERIFY(QFile::link(root.filePath("secret"), folder));
            QVERIFY(QFile::link(secret, moved + "/a.txt"));
        };
        const auto unhook = qScopeGuard([] { IncomingHandout::beforeNaming = nullptr; });
        m_server->reply("401 1");
        m_server->reply("a.txt,5," + sha256("hello"));
        served("get a.txt\r\n", "402 5\r\nhello");
        QTRY_COMPARE(m_messages->shown.size(), 1);
        QVERIFY2(m_messages->shown.last().startsWith("保存しました: a (2).txt\r\n"),
                 qPrintable(m_messages->shown.last()));
        QCOMPARE(entriesOf(moved), QStringList({"a (2).txt", "a.txt"}));
        QCOMPARE(readBytes(moved + "/a (2).txt"), QByteArray("hello"));
        QCOMPARE(modeOf(moved + "/a (2).txt"), 0644);
        QCOMPARE(readBytes(secret), QByteArray("private"));
        QCOMPARE(modeOf(secret), 0600);
        QCOMPARE(entriesOf(root.filePath("secret")), QStringList{"id_rsa"});
    }

    // A link or a pipe under a handout's name is neither followed nor read:
    // the check goes on, and the handout gets the next free name.
    void checkOpensNoLinkOrPipe()
    {
        QTemporaryDir target;
        QTemporaryDir elsewhere;
        writeBytes(elsewhere.filePath("hello"), "hello");
        QVERIFY(QFile::link(elsewhere.filePath("hello"), target.filePath("a.txt")));
        QCOMPARE(::mkfifo(QFile::encodeName(target.filePath("b.txt")).constData(), 0600), 0);
        handoutClient(target.path());
        m_server->reply("401 2");
        m_server->reply("a.txt,5," + sha256("hello"));
        m_server->reply("b.txt,5," + sha256("hello"));
        served("get a.txt\r\n", "402 5\r\nhello");
        served("get b.txt\r\n", "402 5\r\nhello");
        QTRY_COMPARE(m_messages->shown.size(), 1);
        QVERIFY2(m_messages->shown.last().startsWith("保存しました: a (2).txt, b (2).txt\r\n"),
                 qPrintable(m_messages->shown.last()));
        // A folder that is a link is not taken either.
        const QString link = elsewhere.filePath("link");
        QVERIFY(QFile::link(target.path(), link));
        m_client->setHandoutFolder(link);
        m_client->btnHandouts_Click();
        QTRY_COMPARE(m_messages->shown.size(), 2);
        QVERIFY(m_messages->shown.last().startsWith("配布物の保存先 "));
        QVERIFY(m_client->handoutsEnabled());
    }

    // Long texts from the server are cut for the window and every message,
    // and a message names at most ten files.
    void longTextsAreCut()
    {
        QTemporaryDir target;
        connectedClient();
        m_server->reply("800 " + QString(30000, u'講') + ",先生");
        QTRY_COMPARE(m_client->kougimei(), QString(200, u'講'));
        m_client->setHandoutFolder(target.path());
        m_client->btnHandouts_Click();
        QVERIFY(m_server->waitForInput("list\r\n"));
        m_server->reply("499 " + QString(5000, u'理'));
        QTRY_COMPARE(m_messages->shown.size(), 1);
        QVERIFY(m_messages->shown.last().contains(QString(200, u'理') + "\r\n"));
        QVERIFY(!m_messages->shown.last().contains(QString(201, u'理')));
    }

    // Closing the window while large files are checked asks nothing, tells
    // nothing and leaves no work behind that would keep the program running.
    void closingTheWindowDuringACheckEndsAtOnce()
    {
        QTemporaryDir folder;
        QFile big(folder.filePath("big.bin"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(wire::MaxUploadSize));
        writeBytes(folder.filePath("var.cfg"),
                   cp932Lines({"serveraddress=127.0.0.1", "port=" + m_server->port(),
                               "haifusaki=" + folder.path()}));
        MainForm form(m_messages.get(), m_dialogs.get());
        QVERIFY(form.Form_Load(QStringLiteral("taro"), folder.path()));
        QVERIFY(m_server->waitForPeer());
        m_server->reply("800 講義,先生");
        auto *handouts = form.findChild<QPushButton *>("btnHaifu");
        QTRY_VERIFY(handouts->isEnabled());
        handouts->click();
        QVERIFY(m_server->waitForInput("list\r\n"));
        m_server->send("401 1\r\nbig.bin,2147483647," + HelloHash + "\r\n");
        QTRY_COMPARE(form.client()->statusText(), QStringLiteral("配布物を確認中"));
        QElapsedTimer closing;
        closing.start();
        QVERIFY(form.close());
        QVERIFY(QThreadPool::globalInstance()->waitForDone(1000));
        QVERIFY(closing.elapsed() < 1000);
        QCOMPARE(m_messages->asked, QStringList());
        QCOMPARE(m_messages->shown, QStringList());
        QTRY_COMPARE(m_server->peer().state(), QAbstractSocket::UnconnectedState);
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
