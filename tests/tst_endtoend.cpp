#include "client/studentclient.h"
#include "support/classroom.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The lecturer's program and a student's program, both real, on loopback.
class TestEndToEnd : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void attendanceAndUpload()
    {
        Classroom room({"hanako,佐藤　花子", "taro,山田　太郎"});
        RosterGrid &grid = room.grid;
        const QString kadai = room.dir.filePath("課題"); // a folder name in the host's encoding
        QDir().mkpath(kadai);
        room.lecture.setKadaidir(kadai);
        QTemporaryDir dir;
        FakeMessageBox messages;
        FakeFileDialogs dialogs;
        StudentClient client("taro", "127.0.0.1", QString::number(room.port()), messages, dialogs);
        client.setHandoutFolder(dir.filePath("配布物"));
        QVERIFY(client.connectToServer().ok());
        QTRY_COMPARE(client.kougimei(), QStringLiteral("情報処理演習Ⅰ"));
        QCOMPARE(client.tantousya(), QStringLiteral("中村　誠"));
        QVERIFY(client.buttons().attendance);

        client.SYUKKETUBTN_Click();
        QTRY_COMPARE(messages.shown, QStringList{"出席をとりました｡"});
        QVERIFY(RosterGrid::isTimeStamp(grid.text(2, RosterGrid::Attendance)));
        QCOMPARE(grid.text(2, RosterGrid::Address), QStringLiteral("127.0.0.1"));
        QVERIFY(client.buttons().upload && !client.buttons().attendance);

        QByteArray report(5 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < report.size(); ++i)
            report[i] = char((i * 131) >> 3);
        const QString reportPath = dir.filePath("レポート.final.pdf");
        writeBytes(reportPath, report);
        dialogs.nextAnswers << reportPath;
        client.btnSendData_Click();
        QTRY_COMPARE_WITH_TIMEOUT(messages.shown.size(), 2, 20000);
        QCOMPARE(messages.shown.last(), QStringLiteral("送信完了しました"));
        QCOMPARE(readBytes(kadai + "/taro.pdf"), report);
        QCOMPARE(QDir(kadai).entryList(QDir::Files | QDir::Hidden), QStringList{"taro.pdf"});
        QVERIFY(RosterGrid::isTimeStamp(grid.text(2, RosterGrid::Assignment)));
        QCOMPARE(grid.text(1, RosterGrid::Assignment), QString());
        // Back to ready: another upload may follow.
        QVERIFY(client.buttons().upload);
        const QString status = client.statusText();
        // The server's receipt matched what was sent: the student keeps a copy.
        QVERIFY2(status.startsWith(QStringLiteral("提出完了 (")) &&
                     status.endsWith(QStringLiteral(") 控え一致")) &&
                     RosterGrid::isTimeStamp(status.sliced(6, 8)),
                 qPrintable(status));
        const QString kept = cp932::decode(readBytes(dir.filePath("配布物/提出控え.txt")));
        QVERIFY2(kept.endsWith(
                     QStringLiteral(",情報処理演習Ⅰ,taro.pdf,レポート.final.pdf,5242897,") +
                     QString::fromLatin1(
                         QCryptographicHash::hash(report, QCryptographicHash::Sha256).toHex()) +
                     QStringLiteral("\r\n")),
                 qPrintable(kept));
        QCOMPARE(kept.count(u'\n'), 1);
    }

    // Marked work comes with the handouts once the student has attended,
    // saved and checked the same way; another student's never comes.
    void returnsReachTheirStudentWithTheHandouts()
    {
        Classroom room({"taro,山田　太郎", "taro2,山田　次郎"});
        const QString returns = room.dir.filePath("返却");
        QDir().mkpath(returns);
        room.handout("資料.txt", "handout");
        writeBytes(returns + "/taro_講評.txt", "よくできました");
        writeBytes(returns + "/taro2_講評.txt", "もう少し");
        room.lecture.setHenkyakudir(returns);
        QTemporaryDir target;
        FakeMessageBox messages;
        FakeFileDialogs dialogs;
        StudentClient client("taro", "127.0.0.1", QString::number(room.port()), messages, dialogs);
        client.setHandoutFolder(target.path());
        QVERIFY(client.connectToServer().ok());
        QTRY_VERIFY(client.handoutsEnabled());
        client.btnHandouts_Click();
        QTRY_COMPARE(messages.shown.size(), 1);
        QVERIFY2(messages.shown.last().startsWith("保存しました: 資料.txt\r\n"),
                 qPrintable(messages.shown.last()));
        client.SYUKKETUBTN_Click();
        QTRY_COMPARE(messages.shown.size(), 2);
        client.btnHandouts_Click();
        QTRY_COMPARE(messages.shown.size(), 3);
        QVERIFY2(messages.shown.last().startsWith(
                     "保存しました: taro_講評.txt\r\n既にあります: 資料.txt\r\n"),
                 qPrintable(messages.shown.last()));
        QCOMPARE(readBytes(target.filePath("taro_講評.txt")), QByteArray("よくできました"));
        QVERIFY(!QFileInfo::exists(target.filePath("taro2_講評.txt")));
    }

    // The lecturer's handouts reach the student's folder: new ones saved,
    // identical ones skipped, the student's edited copy kept beside the new
    // one; files that are no handouts never leave the folder.
    void handoutsReachTheStudent()
    {
        Classroom room({"taro,山田　太郎"});
        const QString haifu = room.dir.filePath("配布");
        QDir().mkpath(haifu + "/sub");
        const QByteArray slides = pattern(3 * 1024 * 1024 + 5, 1);
        writeBytes(haifu + "/資料1.pdf", slides);
        writeBytes(haifu + "/演習,第2回.txt", "第2回\r\n");
        writeBytes(haifu + "/same.txt", "same");
        writeBytes(haifu + "/edited.txt", "original");
        writeBytes(haifu + "/.secret", "hidden");
        writeBytes(haifu + "/한글.txt", "no code page 932 name");
        writeBytes(room.dir.filePath("outside.txt"), "outside");
        QVERIFY(QFile::link(room.dir.filePath("outside.txt"), haifu + "/outside.txt"));
        room.lecture.setHaifudir(haifu);

        QTemporaryDir home;
        const QString target = home.filePath("受け取り");
        QDir().mkpath(target);
        writeBytes(target + "/same.txt", "same");
        writeBytes(target + "/edited.txt", "my notes");
        FakeMessageBox messages;
        FakeFileDialogs dialogs;
        StudentClient client("taro", "127.0.0.1", QString::number(room.port()), messages, dialogs);
        client.setHandoutFolder(target);
        QVERIFY(!client.handoutsEnabled());
        QVERIFY(client.connectToServer().ok());
        QTRY_VERIFY(client.handoutsEnabled());
        client.SYUKKETUBTN_Click();
        QTRY_COMPARE(messages.shown.size(), 1);

        QSignalSpy delivered(&room.server->handouts(), &HandoutCatalog::delivered);
        client.btnHandouts_Click();
        QVERIFY(!client.handoutsEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(messages.shown.size(), 2, 20000);
        QCOMPARE(messages.shown.last(),
                 "保存しました: edited (2).txt, 演習,第2回.txt, 資料1.pdf\r\n"
                 "既にあります: same.txt\r\n保存先: " +
                     QDir::toNativeSeparators(target));
        QVERIFY(client.handoutsEnabled());
        QCOMPARE(client.statusText(), QString());
        QCOMPARE(readBytes(target + "/資料1.pdf"), slides);
        QCOMPARE(readBytes(target + "/演習,第2回.txt"), QByteArray("第2回\r\n"));
        QCOMPARE(readBytes(target + "/edited.txt"), QByteArray("my notes"));
        QCOMPARE(readBytes(target + "/edited (2).txt"), QByteArray("original"));
        QStringList landed = QDir(target).entryList(QDir::Files | QDir::Hidden);
        landed.sort();
        // Beside them the record of what was saved (edited.txt is the student's).
        QCOMPARE(landed, (QStringList{".tavrelle-handouts.txt", "edited (2).txt", "edited.txt",
                                      "same.txt", "演習,第2回.txt", "資料1.pdf"}));
        QVERIFY(!readBytes(target + "/.tavrelle-handouts.txt").contains("\r\nedited.txt,"));
        // Each delivery is reported with the student and the file's hash.
        QCOMPARE(delivered.size(), 3);
        QCOMPARE(delivered.at(2).at(0).toString(), QStringLiteral("taro"));
        QCOMPARE(delivered.at(2).at(1).toString(), QStringLiteral("資料1.pdf"));
        QCOMPARE(delivered.at(2).at(2).toByteArray(),
                 QCryptographicHash::hash(slides, QCryptographicHash::Sha256).toHex());
        QVERIFY(room.log.text().contains("配布完了 資料1.pdf"));

        // Again: nothing new, nothing hashed twice, the skipped name told once.
        client.btnHandouts_Click();
        QTRY_COMPARE(messages.shown.size(), 3);
        QVERIFY(messages.shown.last().startsWith(
            "既にあります: edited.txt, same.txt, 演習,第2回.txt, 資料1.pdf\r\n"));
        QCOMPARE(room.server->handouts().hashesComputed(), 4);
        QCOMPARE(room.log.text().count("한글.txt"), 1);
        QCOMPARE(room.log.text().count("outside.txt"), 1);
        QCOMPARE(room.server->handouts().hashes().size(), 4);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
