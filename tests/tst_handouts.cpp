// Handouts over the network: the listing, the refusals, lines and replies
// waiting behind the bytes, a folder gone mid-lecture and the record budget.
// Real loopback sockets and the real handlers throughout.
#include "common/clock.h"
#include "platform/socket.h"
#include "support/classroom.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSignalSpy>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString Taken = QStringLiteral("101 - syusseki totta ^^");
const QString Already = QStringLiteral("102 - sudeni syusseki totteru ^^");

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

} // namespace

class TestHandouts : public QObject
{
    Q_OBJECT
    std::unique_ptr<Classroom> m_room;

    std::unique_ptr<TestClient> greeted() { return m_room->greeted(); }
    bool logHas(const QString &text) const { return m_room->log.text().contains(text); }

private Q_SLOTS:
    void init()
    {
        m_room = std::make_unique<Classroom>(QStringList{"jiro,次郎", "hanako,花子", "taro,太郎"});
    }
    void cleanup() { m_room.reset(); }

    void handoutsAreListedInNameOrder()
    {
        m_room->handout("b,第1回,演習.txt", "abc");
        m_room->handout("a.pdf", QByteArray(1000, 'x'));
        m_room->handout(".hidden", "x");
        QDir().mkpath(m_room->haifu + "/folder");
        auto client = greeted();
        const QStringList reply = client->ask("list\r\n", 3);
        QCOMPARE(reply, (QStringList{"401 2", "a.pdf,1000," + sha256(QByteArray(1000, 'x')),
                                     "b,第1回,演習.txt,3," + sha256("abc")}));
        // The last two commas separate the fields.
        const std::optional<wire::HandoutEntry> entry = wire::parseHandoutEntry(reply[2]);
        QVERIFY(entry);
        QCOMPARE(entry->fileName, QStringLiteral("b,第1回,演習.txt"));
        QCOMPARE(entry->size, qint64(3));
        QVERIFY(!wire::parseHandoutEntry(QString("x,-1," + sha256(""))));
        QVERIFY(!wire::parseHandoutEntry(QString("x,1," + sha256("").toUpper())));
        QCOMPARE(
            m_room->server->handouts().hashes(),
            (QSet<QByteArray>{sha256("abc").toLatin1(), sha256(QByteArray(1000, 'x')).toLatin1()}));
        // No handout folder: nothing to hand out.
        m_room->lecture.setHaifudir(QString());
        QCOMPARE(client->ask("list\r\n"), QStringLiteral("401 0"));
        QCOMPARE(client->ask("user taro\r\n"), Taken);
    }

    // A name typed on a Linux desktop (〜, U+301C) is written as Windows
    // writes it; the get of the name as listed finds the host's file, and
    // a second file of that name once written is left out.
    void handoutNamedWithAWaveDashIsFound()
    {
        const QString typed = QStringLiteral("第1回\u301c第3回.txt");
        const QString listed = QStringLiteral("第1回\uff5e第3回.txt");
        m_room->handout(typed, "wave");
        m_room->handout(listed, "twin");
        m_room->handout("Case.txt", "upper");
        m_room->handout("case.txt", "lower");
        auto client = greeted();
        QCOMPARE(client->ask("list\r\n", 3), (QStringList{"401 2", "Case.txt,5," + sha256("upper"),
                                                          listed + ",4," + sha256("wave")}));
        QVERIFY(client->received.contains(
            "\r\n\x91\xe6\x31\x89\xf1\x81\x60\x91\xe6\x33\x89\xf1.txt,4,"));
        QCOMPARE(client->fetch(listed), QByteArray("wave"));
        QVERIFY(logHas("配布完了 " + typed));
        QVERIFY(logHas("配布物のフォルダの " + listed + " はShift_JISに直すと"));
        QVERIFY(logHas("配布物のフォルダの case.txt はShift_JISに直すと"));
        QVERIFY(cp932::encode(m_room->log.text()).contains("\x81\x60"));
    }

    void handoutRequestsOutsideTheListAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("not listed") << "nothere.txt";
        QTest::newRow("parent folder") << "../kadai/taro.txt";
        QTest::newRow("absolute path") << "ABSOLUTE/a.txt";
        QTest::newRow("hidden file") << ".hidden";
        QTest::newRow("folder") << "folder";
        QTest::newRow("link out of the folder") << "link.txt";
        QTest::newRow("link to a folder") << "folderlink";
        QTest::newRow("empty name") << "";
        QTest::newRow("name with a line end") << "a.txt\r";
    }
    void handoutRequestsOutsideTheListAreRefused()
    {
        QFETCH(QString, name);
        name.replace("ABSOLUTE", m_room->haifu);
        m_room->handout("a.txt", "handout");
        m_room->handout(".hidden", "hidden");
        writeBytes(m_room->kadai + "/taro.txt", "someone's work");
        QDir().mkpath(m_room->haifu + "/folder");
        writeBytes(m_room->dir.filePath("secret.txt"), "secret");
        QVERIFY(QFile::link(m_room->dir.filePath("secret.txt"), m_room->haifu + "/link.txt"));
        QVERIFY(QFile::link(m_room->kadai, m_room->haifu + "/folderlink"));
        auto client = greeted();
        QString reply;
        QCOMPARE(client->fetch(name, &reply), QByteArray());
        QCOMPARE(reply, QStringLiteral("499 その名前の配布物はありません｡"));
        // Nothing else came, and the connection reads lines as before.
        QCOMPARE(client->ask("user taro\r\n"), Taken);
        QCOMPARE(client->lines().size(), 2);
        QVERIFY(logHas("を送れません"));
        m_room->handout("empty.txt", "");
        QCOMPARE(client->ask("list\r\n", 3).value(0), QStringLiteral("401 2"));
        QCOMPARE(client->fetch("a.txt"), QByteArray("handout"));
        QCOMPARE(client->fetch("empty.txt", &reply), QByteArray());
        QCOMPARE(reply, QStringLiteral("402 0"));
        QCOMPARE(client->ask("user taro\r\n"), Already);
    }

    // The bytes of a handout go out alone: a line sent behind the get line
    // is answered after them.
    void linesWaitWhileAHandoutGoesOut()
    {
        const QByteArray big = pattern(3 * 1024 * 1024 + 3, 7);
        m_room->handout("big.bin", big);
        auto client = greeted();
        QCOMPARE(client->ask("list\r\n", 2).value(0), QStringLiteral("401 1"));
        client->received.clear();
        client->sendNow("get big.bin\r\nuser taro\r\n");
        const QByteArray expected =
            "402 " + QByteArray::number(big.size()) + "\r\n" + big + "101 - syusseki totta ^^\r\n";
        QVERIFY(QTest::qWaitFor([&] { return client->received.size() >= expected.size(); }, 20000));
        QVERIFY(client->received == expected);
        QTRY_VERIFY(logHas("接続:" + QString::number(m_room->server->connCount()) +
                           " 配布完了 big.bin SHA-256:" + sha256(big).left(16)));
    }

    // A reply sent while a handout goes out (the lecture line, for a client
    // that asked at once) waits until the bytes are out.
    void repliesWaitWhileAHandoutGoesOut()
    {
        const QByteArray big = pattern(4 * 1024 * 1024, 8);
        m_room->handout("big.bin", big);
        auto client = greeted();
        QCOMPARE(client->ask("list\r\n", 2).value(0), QStringLiteral("401 1"));
        client->received.clear();
        client->socket.setReadBufferSize(1); // reads nothing for now
        client->sendNow("get big.bin\r\n");
        Connection *connection = m_room->server->connection(m_room->server->connCount());
        QVERIFY(QTest::qWaitFor([&] { return connection->socket().bytesToSend() > 0; }, 10000));
        connection->send(QStringLiteral("800 後から,送る行"));
        client->socket.setReadBufferSize(0);
        client->received += client->socket.readAll();
        const QByteArray expected = "402 " + QByteArray::number(big.size()) + "\r\n" + big +
                                    cp932::encode(u"800 後から,送る行\r\n");
        QVERIFY(QTest::qWaitFor([&] { return client->received.size() >= expected.size(); }, 20000));
        QVERIFY(client->received == expected);
    }

    void listingsAtOnceHashEachFileOnce()
    {
        for (int i = 0; i < 3; ++i)
            m_room->handout(QStringLiteral("file%1.bin").arg(i),
                            pattern(4 * 1024 * 1024, quint32(i)));
        std::vector<std::unique_ptr<TestClient>> clients;
        for (int i = 0; i < 30; ++i)
            clients.push_back(greeted());
        for (auto &client : clients)
            client->socket.write("list\r\n");
        for (auto &client : clients) {
            QVERIFY(client->waitForLines(2 + 4, 20000));
            QCOMPARE(client->lines().mid(2), clients.front()->lines().mid(2));
        }
        QCOMPARE(clients.front()->lines().value(2), QStringLiteral("401 3"));
        QCOMPARE(m_room->server->handouts().hashesComputed(), 3);
        // A changed file is hashed again, once.
        m_room->handout("file1.bin", "changed");
        QCOMPARE(clients.front()->ask("list\r\n", 4).value(2), "file1.bin,7," + sha256("changed"));
        QCOMPARE(m_room->server->handouts().hashesComputed(), 4);
    }

    void handoutFolderGoneMidLectureIsRefusedAndLoggedOnce()
    {
        m_room->handout("a.txt", "handout");
        auto client = greeted();
        QCOMPARE(client->ask("list\r\n", 2).value(0), QStringLiteral("401 1"));
        QVERIFY(QDir().rename(m_room->haifu, m_room->haifu + ".moved"));
        const QString refusal =
            QStringLiteral("499 配布物のフォルダを読み込めません｡先生に知らせてください｡");
        QCOMPARE(client->ask("list\r\n"), refusal);
        QCOMPARE(client->ask("list\r\n"), refusal);
        QString reply;
        QCOMPARE(client->fetch("a.txt", &reply), QByteArray());
        QCOMPARE(reply, refusal);
        QCOMPARE(
            m_room->log.text().count("配布物のフォルダ " + QDir::toNativeSeparators(m_room->haifu)),
            1);
        QVERIFY(QDir().rename(m_room->haifu + ".moved", m_room->haifu));
        m_room->handout("empty.txt", "");
        QCOMPARE(client->ask("list\r\n", 3).value(0), QStringLiteral("401 2"));
        QCOMPARE(client->fetch("a.txt"), QByteArray("handout"));
        QCOMPARE(client->fetch("empty.txt", &reply), QByteArray());
        QCOMPARE(reply, QStringLiteral("402 0"));
        QCOMPARE(client->ask("user taro\r\n"), Taken);
    }

    // A handout edited in place, its size and modification time put back,
    // is a new version: its new hash is listed.
    void handoutEditedInPlaceIsHashedAgain()
    {
        m_room->handout("a.txt", "first");
        auto client = greeted();
        QCOMPARE(client->ask("list\r\n", 2).value(1), "a.txt,5," + sha256("first"));
        rewriteKeepingTimes(m_room->haifu + "/a.txt", "again");
        QCOMPARE(client->ask("list\r\n", 2).value(1), "a.txt,5," + sha256("again"));
        QCOMPARE(client->fetch("a.txt"), QByteArray("again"));
    }

    // A file that changes while its hash is computed is hashed again: the
    // listing gives the hash of what the file holds now.
    void handoutChangedWhileHashedIsHashedAgain()
    {
        const QString path = m_room->haifu + "/big.bin";
        const QByteArray fresh = pattern(3 * 1024 * 1024, 2);
        m_room->handout("big.bin", pattern(3 * 1024 * 1024, 1));
        std::atomic_int calls = 0;
        setHandoutHashHook([&](const QString &hashed) {
            if (hashed == path && calls++ == 0)
                rewriteKeepingTimes(path, fresh);
        });
        auto client = greeted();
        const QStringList reply = client->ask("list\r\n", 2);
        setHandoutHashHook({});
        QVERIFY(calls >= 2);
        QCOMPARE(reply.value(1), "big.bin,3145728," + sha256(fresh));
        QCOMPARE(client->fetch("big.bin"), fresh);
    }

    // A connection asking for listings without pause gets one per turn:
    // another student's line is answered while the flood goes on.
    void listingFloodTakesTurnsWithTheClass()
    {
        m_room->handout("a.txt", "x");
        auto flooder = greeted();
        auto witness = m_room->greeted(QStringLiteral("127.0.0.2"));
        QCOMPARE(flooder->ask("list\r\n", 2).value(0), QStringLiteral("401 1"));
        QByteArray flood;
        for (int i = 0; i < 400; ++i)
            flood += "list\r\n";
        // The flood is in the server's hands before the witness's line.
        flooder->sendNow(flood);
        const QString witnessEntry = QStringLiteral("user hanako");
        witness->sendNow("user hanako\r\n");
        QVERIFY(witness->waitForLines(3, 10000));
        QCOMPARE(witness->lines().value(2), Taken);
        // The log is newest first: the listings logged before the witness's
        // line are those after it in the text.
        const QString log = m_room->log.text();
        const qsizetype listedBefore =
            log.mid(log.indexOf(witnessEntry)).count(QStringLiteral("\r\nlist\r\n"));
        QVERIFY2(listedBefore < 32, qPrintable(QString::number(listedBefore)));
        QVERIFY(flooder->waitForLines(2 + 2 * 401, 20000));
        QCOMPARE(flooder->lines().last(), "a.txt,1," + sha256("x"));
    }

    // A handout folder that is the assignment folder, lies in it or holds
    // it would hand the students' work out: nothing is handed out until
    // another is chosen, and the log names both.
    void handoutFolderOverlappingTheAssignmentsIsRefused_data()
    {
        QTest::addColumn<QString>("handouts");
        QTest::newRow("the same") << "KADAI";
        QTest::newRow("the same, spelt otherwise") << "KADAI/../kadai/.";
        QTest::newRow("inside it") << "KADAI/week1";
        QTest::newRow("holding it") << "ROOT";
        QTest::newRow("a link to it") << "ROOT/link";
    }
    void handoutFolderOverlappingTheAssignmentsIsRefused()
    {
        QFETCH(QString, handouts);
        handouts.replace("KADAI", m_room->kadai).replace("ROOT", m_room->dir.path());
        QDir().mkpath(m_room->kadai + "/week1");
        QVERIFY(QFile::link(m_room->kadai, m_room->dir.filePath("link")));
        writeBytes(m_room->kadai + "/taro.txt", "taro's work");
        writeBytes(m_room->kadai + "/week1/taro.txt", "taro's work");
        m_room->lecture.setHaifudir(handouts);
        auto client = greeted();
        const QString refused = QStringLiteral(
            "499 配布物のフォルダが課題の提出先と重なっています｡先生に知らせてください｡");
        QCOMPARE(client->ask("list\r\n"), refused);
        QString reply;
        QCOMPARE(client->fetch("taro.txt", &reply), QByteArray());
        QCOMPARE(reply, refused);
        QVERIFY(logHas("配布物のフォルダ " + QDir::toNativeSeparators(handouts) +
                       " は課題の提出先 " + QDir::toNativeSeparators(m_room->kadai)));
        // Another folder is served again.
        m_room->handout("a.txt", "handout");
        m_room->lecture.setHaifudir(m_room->haifu);
        QCOMPARE(client->ask("list\r\n", 2).value(0), QStringLiteral("401 1"));
        // So is the same one, once the assignments go elsewhere.
        m_room->lecture.setHaifudir(handouts);
        QCOMPARE(client->ask("list\r\n"), refused);
        QTemporaryDir elsewhere;
        m_room->lecture.setKadaidir(elsewhere.path());
        QCOMPARE(client->ask("list\r\n", 1).value(0).left(4), QStringLiteral("401 "));
    }

    // Work returned: a file named with the ID and "." or "_" is that
    // student's, the longest roster ID winning; it is listed and handed over
    // only on a connection that attended as that student, and journaled.
    void returnsGoOnlyToTheStudentTheyAreFor()
    {
        m_room->loadRoster({"s1,一郎", "s10,十郎", "taro,太郎"});
        const QString returns = m_room->dir.filePath("henkyaku");
        QDir().mkpath(returns);
        m_room->handout("a.txt", "handout");
        for (const char *name : {"s1", "s1.txt", "s1_0.txt", "s10.pdf", "s10_a.txt", "x_s1.txt"})
            writeBytes(returns + u'/' + name, QByteArray("for ") + name);
        m_room->lecture.setHenkyakudir(returns);
        QSignalSpy returned(&m_room->server->returns(), &HandoutCatalog::delivered);
        const QString handoutLine = "a.txt,7," + sha256("handout");
        const auto entry = [](const QByteArray &name) {
            return QString::fromLatin1(name + ',' + QByteArray::number(name.size() + 4) + ',') +
                   sha256("for " + name);
        };

        auto s1 = greeted();
        // Before attendance: the handouts alone, and no return to be had.
        QCOMPARE(s1->ask("list\r\n", 2), (QStringList{"401 1", handoutLine}));
        QString reply;
        QCOMPARE(s1->fetch("s1.txt", &reply), QByteArray());
        QCOMPARE(reply, QStringLiteral("499 出席を登録してから受け取ってください｡"));
        QCOMPARE(s1->ask("user s1\r\n"), Taken);
        // s10's files begin with "s1" too: the longer ID owns them.
        QCOMPARE(s1->ask("list\r\n", 4),
                 (QStringList{"401 3", handoutLine, entry("s1.txt"), entry("s1_0.txt")}));
        QCOMPARE(s1->fetch("s1_0.txt"), QByteArray("for s1_0.txt"));
        QCOMPARE(s1->fetch("s10_a.txt", &reply), QByteArray());
        QCOMPARE(reply, QStringLiteral("499 ほかの学生の返却物は受け取れません｡"));
        // A name that is only the ID, or holds it later, is nobody's.
        QCOMPARE(s1->fetch("s1", &reply), QByteArray());
        QCOMPARE(reply, QStringLiteral("499 その名前の配布物はありません｡"));
        QCOMPARE(s1->fetch("x_s1.txt", &reply), QByteArray());
        QCOMPARE(reply, QStringLiteral("499 その名前の配布物はありません｡"));

        auto s10 = greeted();
        QCOMPARE(s10->ask("user s10\r\n"), Taken);
        QCOMPARE(s10->ask("list\r\n", 4),
                 (QStringList{"401 3", handoutLine, entry("s10.pdf"), entry("s10_a.txt")}));
        QCOMPARE(s10->fetch("s10_a.txt"), QByteArray("for s10_a.txt"));
        QCOMPARE(s10->fetch("a.txt"), QByteArray("handout"));

        // Returns are journaled apart from handouts, with the student's ID.
        QTRY_COMPARE(returned.size(), 2);
        const QStringList journal =
            cp932::decode(
                readBytes(LectureJournal::pathFor(m_room->lecture.kougimei(), Clock::today())))
                .split("\r\n");
        const QStringList returns_ = journal.filter(QRegularExpression("^返却,"));
        QCOMPARE(returns_.size(), 2);
        QVERIFY(QRegularExpression("^返却,\\d\\d:\\d\\d:\\d\\d,s1,s1_0.txt," +
                                   sha256("for s1_0.txt") + "$")
                    .match(returns_[0])
                    .hasMatch());
        QVERIFY(returns_[1].startsWith("返却,") && returns_[1].contains(",s10,s10_a.txt,"));
        QCOMPARE(journal.filter(QRegularExpression("^配布,.*,a.txt,")).size(), 1);
        QVERIFY(logHas(" 返却完了 s1_0.txt SHA-256:" + sha256("for s1_0.txt").left(16)));
        // A return named as a handout, case aside, is left out of the listing.
        m_room->handout("S1.txt", "handout");
        QCOMPARE(s1->ask("list\r\n", 4), (QStringList{"401 3", "S1.txt,7," + sha256("handout"),
                                                      handoutLine, entry("s1_0.txt")}));
    }

    // The returns folder may not overlap the assignment folder or the
    // handout folder: it returns nothing, and the log names both folders.
    void returnsFolderOverlappingAnotherIsRefused_data()
    {
        QTest::addColumn<QString>("returns");
        QTest::addColumn<QString>("other");
        // The handout folder would then hand the returns out to everyone.
        QTest::addColumn<bool>("handoutsRefused");
        QTest::newRow("the assignment folder") << "KADAI"
                                               << "課題の提出先" << false;
        QTest::newRow("inside the assignment folder") << "KADAI/week1"
                                                      << "課題の提出先" << false;
        QTest::newRow("holding both") << "ROOT"
                                      << "課題の提出先" << true;
        QTest::newRow("the handout folder") << "HAIFU"
                                            << "配布物のフォルダ" << true;
        QTest::newRow("inside the handout folder") << "HAIFU/sub"
                                                   << "配布物のフォルダ" << true;
    }
    void returnsFolderOverlappingAnotherIsRefused()
    {
        QFETCH(QString, returns);
        QFETCH(QString, other);
        QFETCH(bool, handoutsRefused);
        const QString otherFolder = other == "課題の提出先" ? m_room->kadai : m_room->haifu;
        returns.replace("KADAI", m_room->kadai)
            .replace("HAIFU", m_room->haifu)
            .replace("ROOT", m_room->dir.path());
        QDir().mkpath(returns);
        writeBytes(returns + "/taro_講評.txt", "good");
        m_room->handout("a.txt", "handout");
        m_room->lecture.setHenkyakudir(returns);
        QTRY_VERIFY(logHas("返却フォルダ " + QDir::toNativeSeparators(returns) + " は" + other +
                           " " + QDir::toNativeSeparators(otherFolder) +
                           " と同じか、その中か外側にあります｡"));
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\n"), Taken);
        QString reply;
        QCOMPARE(client->fetch("taro_講評.txt", &reply), QByteArray());
        QCOMPARE(reply, "499 返却フォルダが" + other + "と重なっています｡先生に知らせてください｡");
        if (handoutsRefused)
            QCOMPARE(client->ask("list\r\n"),
                     QStringLiteral("499 配布物のフォルダが返却フォルダと重なっています｡"
                                    "先生に知らせてください｡"));
        else
            QCOMPARE(client->ask("list\r\n", 2),
                     (QStringList{"401 1", "a.txt,7," + sha256("handout")}));
        // Another folder returns again, and the handouts go on.
        QTemporaryDir elsewhere;
        writeBytes(elsewhere.filePath("taro_講評.txt"), "good");
        m_room->lecture.setHenkyakudir(elsewhere.path());
        QCOMPARE(client->ask("list\r\n", 3).value(0), QStringLiteral("401 2"));
        QCOMPARE(client->fetch("taro_講評.txt"), QByteArray("good"));
    }

    // Every delivery is a journal record: a client that asks again and again
    // spends its share of the records, then gets 499 and nothing more.
    void deliveriesSpendTheClientsRecordBudget()
    {
        m_room->handout("a.txt", "x");
        QSignalSpy delivered(&m_room->server->handouts(), &HandoutCatalog::delivered);
        auto client = greeted();
        QCOMPARE(client->ask("list\r\n", 2).value(0), QStringLiteral("401 1"));
        // Asked all at once: each get waits for the bytes of the one before.
        client->received.clear();
        QByteArray gets;
        for (int i = 0; i < 1500; ++i)
            gets += "get a.txt\r\n";
        client->sendNow(gets);
        const QByteArray refusal = cp932::encode(u"499 記録の上限に達しました");
        QVERIFY(QTest::qWaitFor([&] { return client->received.contains(refusal); }, 60000));
        const qsizetype fetched =
            client->received.first(client->received.indexOf(refusal)).count("402 1\r\nx");
        QVERIFY2(fetched > 100 && fetched < 1100, QByteArray::number(fetched));
        QTRY_COMPARE(delivered.size(), fetched);
        // Every get is answered: the rest are refused, not dropped.
        QTRY_COMPARE(client->received.count("\r\n"), qsizetype(1500));
        QCOMPARE(client->received.count(refusal), 1500 - fetched);
        // The connection goes on; only records wait for the next minute.
        QCOMPARE(client->ask("user taro\r\n"), Taken);
    }
};

QTEST_GUILESS_MAIN(TestHandouts)
#include "tst_handouts.moc"
