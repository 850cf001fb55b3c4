#include "client/studentclient.h"
#include "support/classroom.h"

#include <QDir>
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
        QVERIFY2(status.startsWith(QStringLiteral("提出完了 (")) && status.endsWith(u')') &&
                     RosterGrid::isTimeStamp(status.sliced(6, 8)),
                 qPrintable(status));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
