#include "common/clock.h"
#include "platform/socket.h"
#include "server/app/processlimits.h"
#include "server/app/terminationsignals.h"
#include "server/records/journalfile.h"
#include "server/ui/rostermodel.h"
#include "support/classroom.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <csignal>
#include <cstring>
#include <optional>
#include <sys/resource.h>

namespace {

const QString Hello = QStringLiteral("000 hello I am tavrelle server");
const QString Lecture800 = QStringLiteral("800 情報処理演習Ⅰ,中村　誠");
const QString Taken = QStringLiteral("101 - syusseki totta ^^");
const QString Already = QStringLiteral("102 - sudeni syusseki totteru ^^");
const QString Unknown = QStringLiteral("501 - bad-userID ^^");
const QString ImageMode = QStringLiteral("301 - image mode ok");
const QString Received = QStringLiteral("302 jyusin kanryo");

} // namespace

class TestServer : public QObject
{
    Q_OBJECT
    std::unique_ptr<Classroom> m_room;

    std::unique_ptr<TestClient> greeted() { return m_room->greeted(); }
    QStringList logLines() const { return m_room->logLines(); }
    QByteArray stored(const QString &name) const { return m_room->stored(name); }
    QStringList kadaiFiles() const
    {
        return QDir(m_room->kadai).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }
    bool logHas(const QString &text) const { return m_room->log.text().contains(text); }

private Q_SLOTS:
    void init()
    {
        m_room = std::make_unique<Classroom>(
            QStringList{"jiro,次郎", "hanako,花子", "taro,太郎", "Ken,健", "taro,二人目の太郎"});
    }
    void cleanup()
    {
        m_room.reset();
        Clock::setSource({});
    }

    void greetingCarriesTheLectureInCodePage932()
    {
        TestClient client(m_room->port());
        QVERIFY(client.waitForLines(2));
        QCOMPARE(client.received, QByteArray("000 hello I am tavrelle server\r\n800 ") +
                                      cp932::encode(u"情報処理演習Ⅰ,中村　誠") + "\r\n");
        // Numbers are handed out from 1; the log has the newest entry on top.
        QCOMPARE(m_room->server->connCount(), qint64(1));
        QCOMPARE(logLines().at(0),
                 QString::number(client.socket.localPort()) + "portで接続しました｡");
        QCOMPARE(logLines().at(1), QStringLiteral("127.0.0.1から接続要求がありました｡"));
        // Without a roster the lecture line is empty.
        m_room->lecture.setKougimei(QString());
        m_room->lecture.setTantousya(QString());
        QCOMPARE(greeted()->lines().value(1), QStringLiteral("800 ,"));
    }

    void attendanceIsTakenOnce()
    {
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\n"), Taken);
        QVERIFY(
            QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(m_room->grid.text(3, 2)).hasMatch());
        QCOMPARE(m_room->grid.text(3, 4), QStringLiteral("127.0.0.1"));
        QCOMPARE(m_room->grid.text(5, 2), QString()); // the second taro is never reached
        // The top of the log: the line as it came, then the port and address entries.
        QCOMPARE(logLines().mid(0, 3),
                 (QStringList{"user taro",
                              QString::number(client->socket.localPort()) + "portで接続しました｡",
                              "127.0.0.1から接続要求がありました｡"}));

        const QString firstTime = m_room->grid.text(3, 2);
        m_room->grid.setText(3, 4, "kept");
        QCOMPARE(greeted()->ask("user taro\r\n"), Already);
        QCOMPARE(m_room->grid.text(3, 2), firstTime);
        QCOMPARE(m_room->grid.text(3, 4), QStringLiteral("kept"));
        m_room->grid.setText(1, 2, "ab:cd:ef"); // time-shaped: present
        QCOMPARE(greeted()->ask("user jiro\r\n"), Already);
    }

    void userIdsAreExact_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("reply");
        QTest::newRow("other case") << QByteArray("user Taro\r\n") << Unknown;
        QTest::newRow("trailing blank") << QByteArray("user taro \r\n") << Unknown;
        QTest::newRow("unknown") << QByteArray("user nobody\r\n") << Unknown;
        QTest::newRow("capital ID found") << QByteArray("user Ken\r\n") << Taken;
        QTest::newRow("LF only") << QByteArray("user jiro\n") << Taken;
        QTest::newRow("total line") << QByteArray("user 計\r\n") << Unknown;
    }
    void userIdsAreExact()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, reply);
        QCOMPARE(greeted()->ask(cp932::encode(QString::fromUtf8(line))), reply);
    }

    void claimsForSomeoneElseAreFlagged()
    {
        // Switched off, nothing is flagged.
        for (const char *id : {"taro", "hanako"})
            QCOMPARE(m_room->greeted("127.0.0.2")->ask(QByteArray("user ") + id + "\r\n"), Taken);
        QCOMPARE(m_room->grid.addressFlag(2), QString());
        QVERIFY(!logHas(QStringLiteral("代返")));
        m_room->loadRoster({"jiro,次郎", "hanako,花子", "taro,太郎"});
        m_room->book.setProxyCheck(true);
        const auto attend = [&](const char *id, const QString &from) {
            return m_room->greeted(from)->ask(QByteArray("user ") + id + "\r\n");
        };
        // Two students from one machine: both rows flagged, replies as ever.
        QCOMPARE(attend("taro", "127.0.0.2"), Taken);
        QCOMPARE(m_room->grid.addressFlag(3), QString());
        QCOMPARE(attend("hanako", "127.0.0.2"), Taken);
        QCOMPARE(m_room->grid.addressFlag(2), QStringLiteral("同じアドレスから出席: taro"));
        QCOMPARE(m_room->grid.addressFlag(3), QStringLiteral("同じアドレスから出席: hanako"));
        QCOMPARE(logLines().at(0),
                 QStringLiteral(
                     "代返の疑い: hanako と taro が同じアドレス 127.0.0.2 から出席しました｡"));
        const RosterModel model(m_room->grid);
        const QModelIndex cell = model.index(1, RosterGrid::Address);
        QVERIFY(cell.data(RosterModel::AddressFlaggedRole).isValid());
        QCOMPARE(cell.data(Qt::ToolTipRole).toString(),
                 QStringLiteral("同じアドレスから出席: taro"));
        QVERIFY(
            !model.index(0, RosterGrid::Address).data(RosterModel::AddressFlaggedRole).isValid());
        // One student from a second machine.
        QCOMPARE(attend("taro", "127.0.0.3"), Already);
        QCOMPARE(m_room->grid.addressFlag(3),
                 QStringLiteral("同じアドレスから出席: hanako\n別のアドレスからも申告: 127.0.0.3"));
        QCOMPARE(logLines().at(0),
                 QStringLiteral("代返の疑い: taro は 127.0.0.2 から出席済みですが "
                                "127.0.0.3 からも出席を申告しました｡"));
        QCOMPARE(m_room->grid.text(3, RosterGrid::Address), QStringLiteral("127.0.0.2"));
        // The same machine again, and an unflagged student, change nothing.
        QCOMPARE(attend("jiro", "127.0.0.4"), Taken);
        QCOMPARE(attend("jiro", "127.0.0.4"), Already);
        QCOMPARE(m_room->grid.addressFlag(1), QString());
        // Reloading the roster clears the flags.
        m_room->loadRoster({"taro,太郎", "hanako,花子"});
        QCOMPARE(m_room->grid.addressFlag(1), QString());
        QCOMPARE(attend("taro", "127.0.0.2"), Taken);
        QCOMPARE(m_room->grid.addressFlag(1), QString());
    }

    void totalLineCountsPresentAndSubmitted()
    {
        const int total = 6; // five students, then the total line
        auto client = greeted();
        QCOMPARE(
            client->ask("user nobody\r\nuser Ken\r\nuser taro\r\nput taro.txt,1\r\nx", 5).size(),
            5);
        QCOMPARE(m_room->grid.text(total, RosterGrid::Attendance), QStringLiteral("2 人"));
        QCOMPARE(m_room->grid.text(total, RosterGrid::Assignment), QStringLiteral("1 人"));
        // A second upload by the same student counts once.
        QCOMPARE(client->ask("put taro.txt,1\r\ny", 2), (QStringList{ImageMode, Received}));
        QCOMPARE(m_room->grid.text(total, RosterGrid::Assignment), QStringLiteral("1 人"));
        m_room->loadRoster({"taro,太郎"});
        QCOMPARE(m_room->grid.text(2, RosterGrid::Attendance), QStringLiteral("0 人"));
    }

    void linesAreFramedAcrossArrivals()
    {
        auto client = greeted();
        // Two lines in one arrival are two commands.
        QCOMPARE(client->ask("user taro\r\nuser taro\r\n", 2), (QStringList{Taken, Already}));
        // A line split over arrivals is read once, when complete, and logged
        // as one entry.
        Connection *connection = m_room->server->connection(1);
        const QString logBefore = m_room->log.text();
        connection->receive("user han");
        connection->receive("ako\r");
        QCOMPARE(m_room->log.text(), logBefore);
        QCOMPARE(m_room->grid.text(2, RosterGrid::Attendance), QString());
        connection->receive("\n");
        QVERIFY(client->waitForLines(5));
        QCOMPARE(client->lines().at(4), Taken);
        QCOMPARE(m_room->log.text(), "user hanako\r\n" + logBefore);
        // Lines that are no command get no reply; the connection stays.
        QCOMPARE(client->ask("USER taro\r\nbyebye\r\nhello\r\nx\r\n\r\nuser jiro\r\n", 1),
                 QStringList{Taken});
        QVERIFY(client->isConnected());
    }

    void framingHoldsWhateverTheArrivals()
    {
        // A line at the limit is whole; one past it is dropped up to its end
        // and logged once; an unfinished last line waits.
        const QByteArray fits = 'x' + QByteArray(wire::MaxLineBytes - 1, 'y') + '\n';
        const QByteArray stream =
            "hello\r\n" + QByteArray(wire::MaxLineBytes * 3, 'z') + "tail\r\n" + fits + "last";
        for (const qsizetype step :
             {qsizetype(1), qsizetype(1000), qsizetype(65536), qsizetype(65537), stream.size()}) {
            auto client = greeted();
            Connection *connection = m_room->server->connection(m_room->server->connCount());
            const qsizetype before = logLines().size();
            for (qsizetype at = 0; at < stream.size(); at += step)
                connection->receive(stream.mid(at, step));
            const QStringList added = logLines().mid(0, logLines().size() - before);
            QCOMPARE(added.size(), 3);
            QCOMPARE(added.at(2), QStringLiteral("hello"));
            QVERIFY(added.at(1).endsWith(QStringLiteral("64KiBを超えたため破棄しました｡")));
            QCOMPARE(added.at(0), 'x' + QString(1023, u'y') + QStringLiteral("…(全65537バイト)"));
        }
    }

    void closingCommandsCloseSilently()
    {
        for (const char *line : {"bye\r\n", "quit\r\n"}) {
            auto client = greeted();
            const QString logBefore = m_room->log.text();
            client->sendNow(QByteArray(line) + "user taro\r\n");
            QVERIFY(client->waitForClose());
            QCOMPARE(client->lines().size(), 2);
            // Lines after the closing command are not read.
            QCOMPARE(m_room->log.text(), QString::fromLatin1(line) + logBefore);
            QVERIFY(!m_room->server->connection(m_room->server->connCount()));
        }
    }

    void peerCloseIsLoggedAndNumbersAreNotReused()
    {
        auto first = greeted();
        auto second = greeted();
        QCOMPARE(m_room->server->connCount(), qint64(2));
        first->socket.disconnectFromHost();
        QVERIFY(QTest::qWaitFor([&] { return !m_room->server->connection(1); }));
        QCOMPARE(logLines().at(0), QStringLiteral("接続番号:1 と切断しました｡"));
        auto third = greeted();
        QCOMPARE(m_room->server->connCount(), qint64(3));
        QVERIFY(m_room->server->connection(3));
        QVERIFY(m_room->server->connection(2));
    }

    void userLineMayComeBeforeTheGreetingEvenFromClientsThatVanish()
    {
        for (int i = 0; i < 20; ++i) {
            TestClient client(m_room->port());
            client.sendNow("user jiro\r\n");
            client.socket.abort();
        }
        // In the kernel before the server accepts: answered before the lecture line.
        TestClient client(m_room->port());
        client.sendNow("user taro\r\n");
        QVERIFY(client.waitForLines(3));
        QCOMPARE(client.lines(), (QStringList{Hello, Taken, Lecture800}));
    }

    void manyClientsAtOnceAreAllGreeted()
    {
        std::vector<std::unique_ptr<TestClient>> clients;
        for (int i = 0; i < 200; ++i)
            clients.push_back(std::make_unique<TestClient>(m_room->server->port()));
        for (auto &client : clients)
            QVERIFY(client->waitForLines(2, 20000));
        for (auto &client : clients)
            QCOMPARE(client->lines(), (QStringList{Hello, Lecture800}));
        QCOMPARE(m_room->server->connCount(), qint64(200));
    }

    void uploadIsStoredByteExactInAnyArrivals()
    {
        QByteArray recorded; // what the journal is given as the receipt
        connect(
            &m_room->book, &AttendanceBook::submitted, this,
            [&](const AttendanceBook::Submission &submission) { recorded = submission.sha256; });
        auto client = greeted();
        QCOMPARE(client->ask("user hanako\r\n"), Taken);
        const QByteArray file = pattern(300000, 1);
        QCOMPARE(client->ask("put hanako.doc,300000\r\n"), ImageMode);
        QCOMPARE(logLines().at(0), QStringLiteral("接続Index:1 イメージモード"));
        for (qsizetype offset = 0; offset < file.size(); offset += 7919) {
            client->sendNow(file.mid(offset, 7919));
            if (offset < 30000) // some arrivals really are small
                QVERIFY(QTest::qWaitFor([&] {
                    return m_room->partStored() == qMin<qint64>(offset + 7919, file.size());
                }));
        }
        QVERIFY(client->waitForLines(5));
        QCOMPARE(client->lines().at(4), Received);
        QCOMPARE(stored("hanako.doc"), file);
        QCOMPARE(logLines().at(1), QStringLiteral("接続:1 受信完了"));
        // The receipt: the start of the SHA-256 of what was stored.
        const QByteArray sha256 =
            QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex();
        QCOMPARE(logLines().at(0), "接続:1 SHA-256:" + QString::fromLatin1(sha256.first(16)));
        QCOMPARE(recorded, sha256);
        QVERIFY(RosterGrid::isTimeStamp(m_room->grid.text(2, 3)));
        QCOMPARE(kadaiFiles(), QStringList{"hanako.doc"});
        // Back in text mode: commands work again.
        QCOMPARE(client->ask("user hanako\r\n"), Already);
    }

    // "hash": the receipt kept when the connection's own file was stored,
    // not a new reading of the file; nothing about anybody else's.
    void hashAnswersOnlyForTheConnectionsOwnFile()
    {
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(9, 5, 7)); });
        const QString refused = QStringLiteral("499 あなたのファイルではありません｡");
        auto hanako = greeted();
        QCOMPARE(hanako->ask("hash hanako.doc\r\n"),
                 QStringLiteral("499 出席を登録してから問い合わせてください｡"));
        QCOMPARE(hanako->ask("user hanako\r\nput hanako.doc,3\r\nabc", 3),
                 (QStringList{Taken, ImageMode, Received}));
        const QString receipt =
            QStringLiteral("403 3,%1,2026/12/09 09:05:07")
                .arg(QLatin1StringView(
                    QCryptographicHash::hash("abc", QCryptographicHash::Sha256).toHex()));
        writeBytes(m_room->kadai + "/hanako.doc", "changed on the disk since");
        QCOMPARE(hanako->ask("hash hanako.doc\r\n"), receipt);
        QCOMPARE(hanako->ask("hash hanako.txt\r\n"),
                 QStringLiteral("499 そのファイルは受け取っていません｡"));
        QCOMPARE(hanako->ask("hash taro.doc\r\nhash nobody.doc\r\n", 2),
                 (QStringList{refused, refused}));
        auto taro = greeted();
        QCOMPARE(taro->ask("hash hanako.doc\r\nuser taro\r\nhash hanako.doc\r\n", 3),
                 (QStringList{QStringLiteral("499 出席を登録してから問い合わせてください｡"), Taken,
                              refused}));
        // An ID the roster turned away asks as nobody.
        QCOMPARE(
            taro->ask("user nobody\r\nhash hanako.doc\r\n", 2),
            (QStringList{Unknown, QStringLiteral("499 出席を登録してから問い合わせてください｡")}));
        // An empty file has its receipt too; another connection of the
        // same student is told it.
        QCOMPARE(greeted()->ask("user taro\r\nput taro.txt,0\r\n", 2),
                 (QStringList{Already, Received}));
        QCOMPARE(greeted()->ask("user taro\r\nhash taro.txt\r\n", 2).value(1),
                 QStringLiteral("403 0,%1,2026/12/09 09:05:07")
                     .arg(QLatin1StringView(
                         QCryptographicHash::hash("", QCryptographicHash::Sha256).toHex())));
    }

    void putLineDataAndNextCommandInOneArrival()
    {
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.txt,5\r\nhello\r\nuser taro\r\n", 4),
                 (QStringList{Taken, ImageMode, Received, Already}));
        QCOMPARE(stored("taro.txt"), QByteArray("hello"));
        // File bytes never reach the log; the text after them does.
        QVERIFY(!logHas("hello"));
        QVERIFY(m_room->log.text().startsWith(QStringLiteral("user taro\r\n\r\n接続:1 SHA-256:")));
    }

    void surplusBytesAreReadAsText()
    {
        auto client = greeted();
        QCOMPARE(client->ask("user jiro\r\nput jiro.bin,1000\r\n", 2),
                 (QStringList{Taken, ImageMode}));
        QCOMPARE(client->ask(QByteArray(1000, 'x') + "user jiro\r\n", 2),
                 (QStringList{Received, Already}));
        QCOMPARE(stored("jiro.bin"), QByteArray(1000, 'x'));
    }

    void emptyFileCompletesAtOnce()
    {
        writeBytes(m_room->kadai + "/taro.txt", "old");
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.txt,0\r\nuser taro\r\n", 3),
                 (QStringList{Taken, Received, Already}));
        QVERIFY(QFileInfo::exists(m_room->kadai + "/taro.txt"));
        QCOMPARE(stored("taro.txt"), QByteArray());
        QVERIFY(RosterGrid::isTimeStamp(m_room->grid.text(3, 3)));
    }

    void reuploadReplacesAndRestampsOnlyWhenComplete()
    {
        writeBytes(m_room->kadai + "/taro.doc", "an earlier, longer submission");
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.doc,4\r\nab", 2),
                 (QStringList{Taken, ImageMode}));
        QVERIFY(QTest::qWaitFor([&] { return m_room->partStored() == 2; }));
        // Until the upload is complete the earlier submission stands.
        QCOMPARE(stored("taro.doc"), QByteArray("an earlier, longer submission"));
        QCOMPARE(client->ask("cd"), Received);
        QCOMPARE(stored("taro.doc"), QByteArray("abcd"));
        m_room->grid.setText(3, 3, "old");
        QCOMPARE(client->ask("put taro.doc,1\r\nz", 2), (QStringList{ImageMode, Received}));
        QVERIFY(RosterGrid::isTimeStamp(m_room->grid.text(3, 3)));
    }

    void folderIsFixedWhenThePutLineIsAccepted()
    {
        const QString other = m_room->dir.filePath("other");
        QDir().mkpath(other);
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.txt,4\r\nab", 2),
                 (QStringList{Taken, ImageMode}));
        QVERIFY(QTest::qWaitFor([&] { return m_room->partStored() == 2; }));
        m_room->lecture.setKadaidir(other);
        QCOMPARE(client->ask("cd"), Received);
        QCOMPARE(stored("taro.txt"), QByteArray("abcd"));
        QVERIFY(QDir(other).isEmpty());
    }

    void twoConnectionsSameNameLastCompleteWins()
    {
        auto first = greeted();
        auto second = greeted();
        // One student on two machines.
        first->sendNow("user taro\r\nput taro.txt,3\r\nAA");
        QVERIFY(first->waitForLines(4));
        second->sendNow("user taro\r\nput taro.txt,3\r\nBB");
        QVERIFY(second->waitForLines(4));
        QVERIFY(QTest::qWaitFor([&] {
            const QStringList parts = m_room->kadaiEntries().filter(wire::TemporaryPrefix);
            return parts.size() == 2 && QFileInfo(m_room->kadai + "/" + parts[0]).size() == 2 &&
                   QFileInfo(m_room->kadai + "/" + parts[1]).size() == 2;
        }));
        QCOMPARE(second->ask("B"), Received);
        QCOMPARE(stored("taro.txt"), QByteArray("BBB"));
        QCOMPARE(first->ask("A"), Received);
        QCOMPARE(stored("taro.txt"), QByteArray("AAA"));
        QCOMPARE(kadaiFiles(), QStringList{"taro.txt"});
    }

    void putLinesAreRefusedBeforeAnyFileByte_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("folder"); // the assignment folder, where it is not `kadai`
        QTest::addColumn<QString>("reason"); // told to the student with 499
        const QString badName = QStringLiteral("このファイル名では保存できません｡");
        const QString badForm = QStringLiteral("putコマンドの形式が正しくありません｡");
        for (const char *line : {"put ../escape.txt,3", "put /tmp/abs.txt,3", "put a/b.txt,3",
                                 "put ..,3", "put .,3", "put c:x,3", "put a\\b,3", "put a\tb,3"})
            QTest::newRow(line) << QByteArray(line) << "kadai" << badName;
        for (const char *line :
             {"put noc", "put x.txt,abc", "put x.txt,-3", "put x.txt,2147483648", "put x.txt,"})
            QTest::newRow(line) << QByteArray(line) << "kadai" << badForm;
        // Longer than a file name may be in the host's encoding (255 bytes).
        QTest::newRow("256 bytes") << "put " + QByteArray(256, 'a') + ",3"
                                   << "kadai" << badName;
        QTest::newRow("86 x 山") << "put " + cp932::encode(QString(86, u'山')) + ",3"
                                 << "kadai" << badName;
        // No usable target: the reason is logged too.
        QTest::newRow("no folder") << QByteArray("put taro.doc,3") << ""
                                   << QStringLiteral("課題提出先が設定されていません｡");
        QTest::newRow("missing folder") << QByteArray("put taro.doc,3") << "/nonexistent/kadai"
                                        << QStringLiteral("課題ファイルを保存できません｡");
        QTest::newRow("a folder of the file's name")
            << QByteArray("put taro.doc,3") << "taro.doc"
            << QStringLiteral("同じ名前のフォルダがあるため保存できません｡");
        // A file belongs to the student who attended on the connection (taro).
        const QString others = QStringLiteral("ほかの学生のファイルは提出できません｡");
        QTest::newRow("another student's") << QByteArray("put hanako.doc,3") << "kadai" << others;
        QTest::newRow("a longer ID's") << QByteArray("put taro.x.doc,3") << "kadai" << others;
        QTest::newRow("nobody's name")
            << QByteArray("put report.doc,3") << "kadai"
            << QStringLiteral("ファイル名はユーザIDと｢.｣で始めてください｡");
        QTest::newRow("the ID with another case")
            << QByteArray("put TARO.doc,3") << "kadai"
            << QStringLiteral("ファイル名はユーザIDと｢.｣で始めてください｡");
    }
    void putLinesAreRefusedBeforeAnyFileByte()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, folder);
        QFETCH(QString, reason);
        // An ID that another one begins with, up to a ".".
        m_room->loadRoster({"jiro,次郎", "hanako,花子", "taro,太郎", "taro.x,点のあるID"});
        if (folder == u"taro.doc")
            QDir().mkpath(m_room->kadai + "/taro.doc");
        else if (folder != u"kadai")
            m_room->lecture.setKadaidir(folder);
        const QStringList before =
            QDir(m_room->dir.path()).entryList(QDir::AllEntries | QDir::Hidden);
        // Refused at once with the reason, no 301, and the connection goes
        // on in text mode.
        QCOMPARE(greeted()->ask("user taro\r\n" + line + "\r\nabc\r\nuser jiro\r\n", 3),
                 (QStringList{Taken, "499 " + reason, Taken}));
        QCOMPARE(wire::replyOf(QString("499 " + reason)), wire::Reply::Refused);
        QCOMPARE(wire::refusalReason(wire::refusalLine(reason)), reason);
        QVERIFY(kadaiFiles().isEmpty());
        QCOMPARE(QDir(m_room->dir.path()).entryList(QDir::AllEntries | QDir::Hidden), before);
        QVERIFY(!QFileInfo::exists("/tmp/abs.txt"));
        // A control character shows as a mark.
        const QString shown = cp932::decode(line).replace(u'\t', QStringLiteral("<09>"));
        QVERIFY(logHas("接続番号:1 受け付けられないputコマンドです: " + shown +
                       (folder == u"kadai" ? "" : " (")));
    }

    // What the assignment accepts is said at the put line: nothing is
    // stored, the log tells why, and the connection goes on.
    void putLinesForOtherTypesOrLargerFilesAreRefusedAtOnce()
    {
        const QString roster = m_room->dir.filePath("accepting.cfg");
        writeBytes(roster, cp932Lines({"kougimei=情報処理演習Ⅰ", "tantousya=中村　誠",
                                       "kadaidir=" + m_room->kadai, "kakutyousi=c .H TXT",
                                       "saidai=10M", "<start data>", "taro,太郎", "<end data>"}));
        m_room->openRoster(roster);
        const QString types = QStringLiteral("499 受け付ける形式は .c .h .txt です｡");
        const QString size = QStringLiteral("499 10 MB までです｡");
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.exe,3\r\nput taro.TXT,10485761\r\n"
                             "put taro,3\r\n",
                             4),
                 (QStringList{Taken, types, size, types}));
        QVERIFY(kadaiFiles().isEmpty());
        QCOMPARE(client->ask("put taro.C,3\r\nabc", 2), (QStringList{ImageMode, Received}));
        QCOMPARE(kadaiFiles(), QStringList{"taro.C"});
        QVERIFY(logHas("受け付けられないputコマンドです: put taro.exe,3 "
                       "(受け付けない形式のため保存しません)"));
        QVERIFY(logHas("受け付けられないputコマンドです: put taro.TXT,10485761 "
                       "(10485761 バイトは上限 10 MB を超えるため保存しません)"));
    }

    // Only a connection whose user line was answered 101 or 102 hands in
    // files: one that never attended, or whose ID the roster does not know,
    // cannot put even a name of its own making.
    void uploadWithoutAttendanceIsRefusedAndLeftoversGo()
    {
        writeBytes(m_room->kadai + "/.tavrelle-00000000deadbeef.part", "left by a crash");
        writeBytes(m_room->kadai + "/.tavrelle-0000000000c0ffee.old", "left by a crash");
        writeBytes(m_room->kadai + "/hanako.doc", "hanako's");
        const QString attendFirst = QStringLiteral("499 出席を登録してから提出してください｡");
        for (const QByteArray &put : {QByteArray("put hanako.doc,3"), QByteArray("put x.txt,3")})
            QCOMPARE(greeted()->ask(put + "\r\nabc\r\nuser nobody\r\n", 2),
                     (QStringList{attendFirst, Unknown}));
        auto unknown = greeted();
        QCOMPARE(unknown->ask("user nobody\r\nput nobody.txt,3\r\n", 2),
                 (QStringList{Unknown, attendFirst}));
        // An ID the roster turns away after one it took ends the attendance.
        QCOMPARE(unknown->ask("user jiro\r\nuser nobody\r\nput jiro.txt,3\r\n", 3),
                 (QStringList{Taken, Unknown, attendFirst}));
        QCOMPARE(stored("hanako.doc"), QByteArray("hanako's"));
        QCOMPARE(m_room->grid.text(2, 3), QString());
        QVERIFY(logHas(
            "受け付けられないputコマンドです: put hanako.doc,3 (出席を登録していない接続です)"));
        // The first upload into the folder sweeps what a crash left there.
        QCOMPARE(greeted()->ask("user hanako\r\nput hanako.doc,3\r\nabc", 3),
                 (QStringList{Taken, ImageMode, Received}));
        QCOMPARE(kadaiFiles(), (QStringList{"hanako.doc"}));
        QCOMPARE(stored("hanako.doc"), QByteArray("abc"));
    }

    void everyLineIsItsOwnLogEntry()
    {
        auto first = greeted();
        auto second = greeted();
        first->sendNow("user ta"); // the rest comes later
        QCOMPARE(second->ask("user hanako\r\n"), Taken);
        QCOMPARE(first->ask("ro\r\nuser " + QByteArray(3000, 'x') + "\r\n", 2),
                 (QStringList{Taken, Unknown}));
        // Logged when interpreted, whole and apart; a long line only in part.
        QCOMPARE(logLines().mid(0, 3),
                 (QStringList{"user " + QString(1019, u'x') + "…(全3007バイト)", "user taro",
                              "user hanako"}));
    }

    void clientTextShowsItsControlCharacters()
    {
        auto client = greeted();
        client->sendNow(cp932::encode(u"hello\r10:07:30 接続:3 SHA-256:0123\r\n") +
                        "a\x1b[2J\tb\r\n");
        QCOMPARE(client->ask("user jiro\r\n"), Taken);
        QCOMPARE(logLines().mid(1, 2),
                 (QStringList{"a<1B>[2J<09>b", "hello<CR>10:07:30 接続:3 SHA-256:0123"}));
        QVERIFY(!m_room->log.text().contains(QStringLiteral("\n10:07:30")));
    }

    void uploadBelongsToTheLectureItBeganIn()
    {
        std::optional<QString> recordedFor;
        connect(&m_room->book, &AttendanceBook::submitted, this,
                [&](const AttendanceBook::Submission &submission) {
                    recordedFor = submission.earlierLecture.value_or(QStringLiteral("(now)"));
                });
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.doc,10\r\n", 2),
                 (QStringList{Taken, ImageMode}));
        client->sendNow("first");
        QTRY_COMPARE(m_room->partStored(), qint64(5));
        // The lecturer opens another lecture's roster meanwhile.
        m_room->lecture.setKougimei(QStringLiteral("情報処理演習Ⅱ"));
        QCOMPARE(client->ask("later"), Received);
        QCOMPARE(stored("taro.doc"), QByteArray("firstlater"));
        QCOMPARE(recordedFor, std::optional<QString>(QStringLiteral("情報処理演習Ⅰ")));
        QCOMPARE(m_room->grid.text(3, RosterGrid::Assignment), QString());
        QVERIFY(logHas(QStringLiteral("接続:1 の課題ファイルは講義「情報処理演習Ⅰ」の提出先 %1 "
                                      "に保存しました｡")
                           .arg(m_room->kadai + QStringLiteral("/taro.doc"))));
    }

    void fileSizeLimitIsAnErrorNotADeath()
    {
        QTemporaryDir dir;
        JournalFile file;
        QVERIFY(file.open(dir.filePath(QStringLiteral("journal.txt"))).ok());
        const auto defaultAction = std::signal(SIGXFSZ, SIG_DFL);
        ignoreFileSizeSignal();
        rlimit saved{};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        rlimit small = saved;
        small.rlim_cur = 4;
        ::setrlimit(RLIMIT_FSIZE, &small);
        const Result<> written = file.append("0123456789\r\n");
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, defaultAction);
        QVERIFY(!written.ok());
        QCOMPARE(written.error(), QString::fromLocal8Bit(std::strerror(EFBIG)));
        QCOMPARE(file.size(), qint64(0)); // nothing of the record is left
    }

    void longLineWithoutEndIsDropped()
    {
        auto client = greeted();
        QVERIFY(client->send(QByteArray(1 << 20, 'u')));
        QTRY_VERIFY(logHas(QStringLiteral("64KiBを超えた")));
        QCOMPARE(m_room->log.text().count(QStringLiteral("64KiBを超えた")), 1);
        QCOMPARE(client->ask("tail of the long line\r\nuser jiro\r\n", 1), QStringList{Taken});
        QVERIFY(m_room->log.text().size() < 200 * 1024);
    }

    void terminationSignalsEndThroughTheNormalPath_data()
    {
        QTest::addColumn<int>("number");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGINT") << SIGINT;
        QTest::newRow("SIGHUP") << SIGHUP;
    }
    void terminationSignalsEndThroughTheNormalPath()
    {
        QFETCH(int, number);
        TerminationSignals termination;
        QVERIFY(termination.isValid());
        // As the program does: the window closes, the server goes with it.
        connect(&termination, &TerminationSignals::terminationRequested, this,
                [this] { m_room->server.reset(); });
        auto client = greeted();
        client->sendNow("user taro\r\nput taro.doc,100\r\nfirst part");
        QTRY_COMPARE(m_room->partStored(), qint64(10));
        QCOMPARE(::raise(number), 0);
        QTRY_VERIFY(!m_room->server);
        QVERIFY(termination.received());
        QCOMPARE(kadaiFiles(), QStringList{}); // no partial file left behind
    }

    void openFileLimitIsRaisedToTheHardLimit()
    {
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        if (saved.rlim_max < 2048)
            QSKIP("the hard open-file limit here is too low to tell");
        rlimit desktop = saved;
        desktop.rlim_cur = 1024; // as a desktop session starts programs
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &desktop) == 0);
        const long raised = raiseOpenFileLimit();
        rlimit now{};
        ::getrlimit(RLIMIT_NOFILE, &now);
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QCOMPARE(now.rlim_cur, saved.rlim_max);
        QCOMPARE(raised, long(saved.rlim_max));
    }

    void randomBytesDoNotHurtTheServer()
    {
        for (quint32 seed = 1; seed <= 5; ++seed) {
            auto client = greeted();
            client->send(pattern(200000, seed));
            client->socket.abort();
        }
        QCOMPARE(greeted()->ask("user jiro\r\n"), Taken);
        for (const QString &name : kadaiFiles())
            QVERIFY2(!name.startsWith(".tavrelle"), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestServer)
#include "tst_server.moc"
