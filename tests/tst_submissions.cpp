// Assignments over the network: the deadline judged when an upload is
// complete, refusal after the cut-off, every earlier version kept, and the
// submissions list of the real program without a window. Real loopback
// sockets and the real handlers throughout.
#include "common/clock.h"
#include "server/app/lectureserver.h"
#include "server/folders/versionnames.h"
#include "support/classroom.h"
#include "support/fakedesktop.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>

namespace {

const QString Taken = QStringLiteral("101 - syusseki totta ^^");
const QString Already = QStringLiteral("102 - sudeni syusseki totteru ^^");
const QString ImageMode = QStringLiteral("301 - image mode ok");
const QString Received = QStringLiteral("302 jyusin kanryo");

} // namespace

class TestSubmissions : public QObject
{
    Q_OBJECT
    std::unique_ptr<Classroom> m_room;

    std::unique_ptr<TestClient> greeted() { return m_room->greeted(); }
    QByteArray stored(const QString &name) const { return m_room->stored(name); }
    QStringList kadaiFiles() const
    {
        return QDir(m_room->kadai).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }
    bool logHas(const QString &text) const { return m_room->log.text().contains(text); }

private Q_SLOTS:
    void init()
    {
        m_room = std::make_unique<Classroom>(QStringList{"jiro,次郎", "hanako,花子", "taro,太郎"});
    }
    void cleanup() { m_room.reset(); }

    void uploadsAreJudgedByTheDeadlineWhenComplete()
    {
        QDateTime now(QDate(2026, 12, 9), QTime(10, 29, 50));
        Clock::setSource([&now] { return now; });
        const auto resetClock = qScopeGuard([] { Clock::setSource({}); });
        m_room->lecture.setDeadline({QDateTime(QDate(2026, 12, 9), QTime(10, 30)), {}});
        QSignalSpy submitted(&m_room->book, &AttendanceBook::submitted);
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.doc,4\r\n", 2),
                 (QStringList{Taken, ImageMode}));
        // The put line came before the due time; completion at it is on time.
        now = now.addSecs(10);
        QCOMPARE(client->ask("abcd"), Received);
        QCOMPARE(m_room->grid.lateNote(3), QString());
        QCOMPARE(submitted.takeFirst().at(0).value<AttendanceBook::Submission>().lateSeconds, 0);
        // One second after it: late, in the cell, the receipt and the log.
        QCOMPARE(client->ask("put taro.doc,4\r\n"), ImageMode);
        now = now.addSecs(1);
        QCOMPARE(client->ask("efgh"), Received);
        QCOMPARE(m_room->grid.lateNote(3), QStringLiteral("締切後 1秒"));
        const auto late = submitted.takeFirst().at(0).value<AttendanceBook::Submission>();
        QCOMPARE(late.lateSeconds, 1);
        QCOMPARE(late.versions, 2);
        QCOMPARE(late.folder, m_room->kadai);
        QCOMPARE(late.completedAt, now);
        QVERIFY(logHas(QStringLiteral("締切後 1秒 の提出です (taro.doc)")));
        QCOMPARE(m_room->grid.text(3, RosterGrid::Assignment), QStringLiteral("10:30:01"));
    }

    void putAfterTheCutOffIsRefusedAndNothingStored()
    {
        QDateTime now(QDate(2026, 12, 9), QTime(10, 45, 0));
        Clock::setSource([&now] { return now; });
        const auto resetClock = qScopeGuard([] { Clock::setSource({}); });
        const QDateTime due(QDate(2026, 12, 9), QTime(10, 30));
        m_room->lecture.setDeadline({due, due.addSecs(15 * 60)});
        QSignalSpy refused(&m_room->book, &AttendanceBook::refused);
        auto client = greeted();
        // At the cut-off itself a put line is still taken.
        QCOMPARE(client->ask("user taro\r\nput taro.doc,3\r\n", 2),
                 (QStringList{Taken, ImageMode}));
        now = now.addSecs(30);
        QCOMPARE(client->ask("abc"), Received); // began in time: stored, late
        now = QDateTime(QDate(2026, 12, 9), QTime(10, 45, 1));
        QCOMPARE(client->ask("put taro.doc,5\r\nuser taro\r\n", 2),
                 (QStringList{"499 受付は締め切られました｡", Already}));
        QCOMPARE(stored("taro.doc"), QByteArray("abc"));
        QCOMPARE(refused.size(), 1);
        QCOMPARE(refused[0].mid(0, 3),
                 (QVariantList{"taro", "taro.doc", QStringLiteral("受付は締め切られました｡")}));
        QVERIFY(logHas(
            "受け付けられないputコマンドです: put taro.doc,5 (受付締切 2026-12-09 10:45 の後)"));
    }

    // A student's own deadline holds for that student alone: the refusal
    // after the cut-off, the lateness in the cell and the receipt.
    void aStudentsOwnDeadlineHoldsForThemAlone()
    {
        QDateTime now(QDate(2026, 12, 9), QTime(10, 50));
        Clock::setSource([&now] { return now; });
        const auto resetClock = qScopeGuard([] { Clock::setSource({}); });
        const QDateTime due(QDate(2026, 12, 9), QTime(10, 30));
        m_room->lecture.setDeadline({due, due.addSecs(600)});
        const QDateTime own(QDate(2026, 12, 11), QTime(10, 30));
        m_room->lecture.setStudentDeadlines({{"taro", {own, own}, {}, true, {}}});
        QSignalSpy submitted(&m_room->book, &AttendanceBook::submitted);
        QCOMPARE(greeted()->ask("user hanako\r\nput hanako.doc,3\r\n", 2),
                 (QStringList{Taken, "499 受付は締め切られました｡"}));
        auto taro = greeted();
        QCOMPARE(taro->ask("user taro\r\nput taro.doc,3\r\nabc", 3),
                 (QStringList{Taken, ImageMode, Received}));
        QCOMPARE(m_room->grid.lateNote(3), QString());
        QCOMPARE(submitted.takeFirst().at(0).value<AttendanceBook::Submission>().lateSeconds, 0);
        // Two days on, a minute after the student's own time: closed for
        // taro too; an upload begun just before is late by its own measure.
        now = own.addSecs(-1);
        QCOMPARE(taro->ask("put taro.doc,3\r\n"), ImageMode);
        now = own.addSecs(59);
        QCOMPARE(taro->ask("xyz"), Received);
        QCOMPARE(m_room->grid.lateNote(3), QStringLiteral("締切後 59秒"));
        QCOMPARE(submitted.takeFirst().at(0).value<AttendanceBook::Submission>().lateSeconds, 59);
        QCOMPARE(taro->ask("put taro.doc,3\r\n"), QStringLiteral("499 受付は締め切られました｡"));
        QCOMPARE(stored("taro.doc"), QByteArray("xyz"));
    }

    void earlierVersionsAreKeptUpToTheLimit()
    {
        m_room->server->setKeptVersions(3);
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\n"), Taken);
        QList<QByteArray> files;
        for (int i = 1; i <= 5; ++i) {
            files << "version " + QByteArray::number(i);
            QCOMPARE(client->ask("put taro.doc," + QByteArray::number(files.last().size()) +
                                     "\r\n" + files.last(),
                                 2),
                     (QStringList{ImageMode, Received}));
        }
        QCOMPARE(stored("taro.doc"), files[4]);
        // Three earlier versions kept, the first dropped when the fourth came.
        const QString history = m_room->kadai + "/.tavrelle-versions/taro.doc";
        const QStringList versions = versionnames::versionsIn(history);
        QCOMPARE(versions.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(readBytes(history + "/" + versions[i]), files[i + 1]);
            const QByteArray sha =
                QCryptographicHash::hash(files[i + 1], QCryptographicHash::Sha256).toHex();
            // Versions of one second are numbered after the hash ("_2", …).
            QCOMPARE(versionnames::parseVersionFileName(versions[i])->sha8,
                     QString::fromLatin1(sha.left(8)));
            QVERIFY2(versions[i].endsWith(".doc"), qPrintable(versions[i]));
        }
        // hozon=0: replaced as before, nothing kept.
        m_room->server->setKeptVersions(0);
        auto other = greeted();
        QCOMPARE(other->ask("user hanako\r\nput hanako.doc,1\r\nA", 3),
                 (QStringList{Taken, ImageMode, Received}));
        QCOMPARE(other->ask("put hanako.doc,1\r\nB", 2), (QStringList{ImageMode, Received}));
        QVERIFY(!QFileInfo::exists(m_room->kadai + "/.tavrelle-versions/hanako.doc"));
        QCOMPARE(stored("hanako.doc"), QByteArray("B"));
    }

    void uploadIsRefusedRatherThanTheEarlierVersionLost()
    {
        writeBytes(m_room->kadai + "/taro.doc", "the earlier one");
        // Where the history should go, a file stands.
        writeBytes(m_room->kadai + "/.tavrelle-versions", "not a folder");
        auto client = greeted();
        const QString refusal = QStringLiteral(
            "499 以前の提出を保存できないため受け取れません｡講師に連絡してください｡");
        QCOMPARE(client->ask("user taro\r\nput taro.doc,3\r\nuser taro\r\n", 3),
                 (QStringList{Taken, refusal, Already}));
        QVERIFY(logHas(QStringLiteral("以前の版を残せません")));
        QCOMPARE(stored("taro.doc"), QByteArray("the earlier one"));
        // The history becomes impossible while the bytes arrive: refused at
        // the end, the earlier version in place, the connection in text mode.
        QFile::remove(m_room->kadai + "/.tavrelle-versions");
        QCOMPARE(client->ask("put taro.doc,3\r\n"), ImageMode);
        writeBytes(m_room->kadai + "/.tavrelle-versions", "not a folder");
        QCOMPARE(client->ask("new\r\nuser taro\r\n", 2),
                 (QStringList{
                     "499 以前の提出を保存できないため受け取れませんでした｡講師に連絡してください｡",
                     Already}));
        QCOMPARE(stored("taro.doc"), QByteArray("the earlier one"));
        QCOMPARE(kadaiFiles(), (QStringList{".tavrelle-versions", "taro.doc"}));
        QVERIFY(logHas(QStringLiteral("以前の版を残せないため taro.doc を受け取りませんでした")));
    }

    // A history folder swapped for a link while the bytes arrive: the
    // upload is refused, the earlier version stays, and nothing is linked
    // into or pruned from the folder the link points to.
    void historySwappedForALinkMidUploadTouchesNothingOutside_data()
    {
        QTest::addColumn<QString>("swapped");
        QTest::newRow("history folder") << ".tavrelle-versions";
        QTest::newRow("the file's history") << ".tavrelle-versions/taro.doc";
    }
    void historySwappedForALinkMidUploadTouchesNothingOutside()
    {
        m_room->server->setKeptVersions(1);
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.doc,3\r\nabc", 3),
                 (QStringList{Taken, ImageMode, Received}));
        QCOMPARE(client->ask("put taro.doc,3\r\ndef", 2), (QStringList{ImageMode, Received}));
        QFETCH(QString, swapped);
        const QString outside = m_room->dir.filePath("outside");
        QDir().mkpath(outside + "/taro.doc");
        writeBytes(outside + "/taro.doc/20200101_000000_00000000.doc", "someone else's");
        const auto outsideEntries = [&] {
            QStringList entries;
            QDirIterator it(outside, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                entries << it.next();
            return entries;
        };
        const QStringList before = outsideEntries();
        QCOMPARE(client->ask("put taro.doc,3\r\n"), ImageMode);
        const QString path = m_room->kadai + "/" + swapped;
        QVERIFY(QDir().rename(path, path + ".moved"));
        QVERIFY(QFile::link(swapped.contains("/") ? outside + "/taro.doc" : outside, path));
        QCOMPARE(client->ask("ghi\r\nuser taro\r\n", 2),
                 (QStringList{
                     "499 以前の提出を保存できないため受け取れませんでした｡講師に連絡してください｡",
                     Already}));
        QCOMPARE(stored("taro.doc"), QByteArray("def"));
        QCOMPARE(outsideEntries(), before);
        QCOMPARE(readBytes(outside + "/taro.doc/20200101_000000_00000000.doc"),
                 QByteArray("someone else's"));
        QCOMPARE(kadaiFiles(), QStringList{"taro.doc"}); // no temporary file left
    }

    // An upload still incomplete ten minutes after the cut-off is ended:
    // nothing stored, the earlier file kept, one log entry.
    void uploadStillIncompleteLongAfterTheCutOffIsEnded()
    {
        QDateTime now(QDate(2026, 12, 9), QTime(10, 44, 0));
        Clock::setSource([&now] { return now; });
        const auto resetClock = qScopeGuard([] { Clock::setSource({}); });
        const QDateTime due(QDate(2026, 12, 9), QTime(10, 30));
        m_room->lecture.setDeadline({due, due.addSecs(15 * 60)});
        writeBytes(m_room->kadai + "/taro.doc", "earlier");
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.doc,10\r\n", 2),
                 (QStringList{Taken, ImageMode}));
        client->sendNow("abc");
        QTRY_COMPARE(m_room->partStored(), qint64(3));
        // Ten minutes after the cut-off the upload may still go on.
        now = QDateTime(QDate(2026, 12, 9), QTime(10, 55, 0));
        client->sendNow("de");
        QTRY_COMPARE(m_room->partStored(), qint64(5));
        now = now.addSecs(1);
        client->sendNow("fghij");
        QVERIFY(client->waitForClose());
        QCOMPARE(client->lines().mid(4),
                 QStringList{"499 受付締切を過ぎたため受け取れませんでした｡"});
        QCOMPARE(stored("taro.doc"), QByteArray("earlier"));
        QCOMPARE(kadaiFiles(), QStringList{"taro.doc"});
        QCOMPARE(m_room->log.text().count(QStringLiteral("受信を打ち切りました")), 1);
        QVERIFY(logHas(QStringLiteral("接続番号:1 受付締切から10分を過ぎても終わらなかったため "
                                      "taro.doc の受信を打ち切りました(5/10バイト)｡")));
    }

    void submissionsListWithoutAWindow()
    {
        // Two uploads through the server, their receipts in a journal folder.
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.doc,3\r\nabc", 3),
                 (QStringList{Taken, ImageMode, Received}));
        QCOMPARE(client->ask("put taro.doc,3\r\nxyz", 2), (QStringList{ImageMode, Received}));
        const QString journals = m_room->dir.filePath("journals");
        QDir().mkpath(journals);
        const QString today = QDate::currentDate().toString("yyyy/MM/dd");
        const QByteArray xyz = QCryptographicHash::hash("xyz", QCryptographicHash::Sha256).toHex();
        const QString time =
            QFileInfo(m_room->kadai + "/taro.doc").lastModified().toString("HH:mm:ss");
        writeBytes(journals + "/2026-12-09_演習_0123456789.txt",
                   cp932Lines({"講義,演習", "提出," + time + ",taro,taro.doc,3," + xyz + "," +
                                                today + ",,2," + m_room->kadai}));
        const QString roster = m_room->dir.filePath("roster.cfg");
        writeBytes(roster, readBytes(roster) + cp932Lines({"enchou=taro,2026-12-11 10:30"}));
        const QString out = m_room->dir.filePath("list.csv");
        QProcess command;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // No display of any kind: a window system touched would end it.
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("XDG_DATA_HOME", m_room->dir.filePath("nodata"));
        command.setProcessEnvironment(environment);
        const auto run = [&](const QStringList &arguments) {
            command.start(TAVRELLE_BINARY, arguments);
            return command.waitForFinished(20000) && command.exitStatus() == QProcess::NormalExit
                       ? command.exitCode()
                       : -1;
        };
        QCOMPARE(run({"--submissions", roster, "--journals", journals, "--out", out}), 0);
        const QStringList csv = cp932::decode(readBytes(out)).split("\r\n");
        QCOMPARE(csv.value(0),
                 QStringLiteral("ユーザID,ユーザ名,ファイル名,提出時刻,サイズ,SHA-256,"
                                "締切後秒,版数,同一,照合,個別締切"));
        QCOMPARE(csv.value(3), QStringLiteral("taro,太郎,taro.doc,%1 %2,3,%3,,2,,一致,"
                                              "締切 2026-12-11 10:30、受付締切 2026-12-11 10:30")
                                   .arg(today, time, QString::fromLatin1(xyz)));
        QCOMPARE(csv.value(1), QStringLiteral("jiro,次郎,,,,,,,,,"));
        QCOMPARE(csv.size(), 5);
        // Bad input: a Japanese message and exit 2.
        QCOMPARE(run({"--submissions", m_room->dir.filePath("none.cfg")}), 2);
        QVERIFY(QString::fromLocal8Bit(command.readAllStandardError()).contains("受講ファイル"));
        QCOMPARE(run({"--submissions", roster, "--journals", m_room->dir.filePath("nowhere")}), 2);
        QCOMPARE(run({"--submissions", roster, "--folder", "/nonexistent"}), 2);
        QCOMPARE(run({"--submissions", roster, "--bogus"}), 2);
    }

    // 提出一覧 leaves files equal to a handout out of 同一: the program
    // hands it the catalogue's hashes whenever they change.
    void submissionsLeaveOutTheHandoutsOfTheMoment()
    {
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        const auto restore = qScopeGuard([] { qunsetenv("XDG_DATA_HOME"); });
        FakeDesktop desktop;
        MemoryTextLog log;
        LectureServer server(desktop.services(), log);
        const auto sha = [](const QByteArray &bytes) {
            return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        };
        const QString first = m_room->dir.filePath("haifu1");
        const QString second = m_room->dir.filePath("haifu2");
        QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
        writeBytes(first + "/kadai1.c", "int main() {}\n");
        writeBytes(first + "/hint.txt", "use a loop");
        writeBytes(second + "/kadai2.c", "int main() { return 0; }\n");
        QVERIFY(server.submissions().excludedHashes().isEmpty());
        server.lecture().setHaifudir(first);
        QTRY_COMPARE(server.submissions().excludedHashes(),
                     (QSet<QByteArray>{sha("int main() {}\n"), sha("use a loop")}));
        server.lecture().setHaifudir(second);
        QTRY_COMPARE(server.submissions().excludedHashes(),
                     QSet<QByteArray>{sha("int main() { return 0; }\n")});
        server.lecture().setHaifudir(QString());
        QTRY_VERIFY(server.submissions().excludedHashes().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSubmissions)
#include "tst_submissions.moc"
