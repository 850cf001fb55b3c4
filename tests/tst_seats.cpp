#include "common/cp932.h"
#include "server/app/seatscommand.h"
#include "server/lecture/seatlayout.h"
#include "server/lecture/seatmap.h"
#include "server/records/lecturejournal.h"
#include "server/records/seatclaims.h"
#include "support/files.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

// "label row column address" per seat, joined by ";".
QString seatsText(const SeatLayout &layout)
{
    QStringList seats;
    for (const Seat &seat : layout.seats)
        seats << QStringLiteral("%1 %2 %3 %4")
                     .arg(seat.label)
                     .arg(seat.row)
                     .arg(seat.column)
                     .arg(seat.address);
    return seats.join(u';');
}

// "seat label/ID/state" per line, an address for a line outside the layout.
QString linesText(const SeatMap &map)
{
    QStringList lines;
    for (const SeatMap::Line &line : map.lines()) {
        const QString where =
            line.seat >= 0 ? map.layout().seats[line.seat].label : u'(' + line.address + u')';
        lines << where + u'/' + line.userId + u'/' + SeatMap::stateText(line.state);
    }
    return lines.join(u';');
}

const QString Room = QStringLiteral("A1,1,1,10.0.0.1\nA2,1,2,10.0.0.2\nB1,2,1,10.0.0.3\n");

} // namespace

class TestSeats : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layoutReadsSeatsAndNamesBadLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("seats");
        QTest::addColumn<QStringList>("badLines");
        QTest::newRow("good, CR LF, comments, blanks")
            << QStringLiteral("# 教室\r\n\r\nA1,1,1,10.0.0.1\r\n窓際,2,10,10.0.0.2\r\n")
            << QStringLiteral("A1 1 1 10.0.0.1;窓際 2 10 10.0.0.2") << QStringList{};
        QTest::newRow("label with commas") << QStringLiteral("前,左,1,1,10.0.0.1")
                                           << QStringLiteral("前,左 1 1 10.0.0.1") << QStringList{};
        QTest::newRow("bad lines skipped and numbered")
            << QStringLiteral(
                   "A1,1,1,10.0.0.1\nA2,1,10.0.0.2\nA3,0,1,10.0.0.3\n"
                   "A4,1,x,10.0.0.4\nA5,1,3,\n,1,4,10.0.0.5\nA6,1,5,10.0.0.1\n"
                   "A7,1,1,10.0.0.7\nA8,+2,1,10.0.0.8\nA9,201,1,10.0.0.9\nB1,2,2,10.0.1.1")
            << QStringLiteral("A1 1 1 10.0.0.1;B1 2 2 10.0.1.1")
            << QStringList{"2 行目",
                           "3 行目",
                           "4 行目",
                           "5 行目",
                           "6 行目",
                           "7 行目: アドレス 10.0.0.1",
                           "8 行目: 1 行 1 列",
                           "9 行目",
                           "10 行目"};
    }
    void layoutReadsSeatsAndNamesBadLines()
    {
        QFETCH(QString, text);
        QFETCH(QString, seats);
        QFETCH(QStringList, badLines);
        const SeatLayout layout = SeatLayout::parse(text);
        QCOMPARE(seatsText(layout), seats);
        QCOMPARE(layout.problems.size(), badLines.size());
        for (int i = 0; i < badLines.size(); ++i)
            QVERIFY2(layout.problems[i].startsWith(badLines[i]), qPrintable(layout.problems[i]));
        // Written back, the seats read the same.
        QCOMPARE(seatsText(SeatLayout::parse(layout.text())), seats);
    }

    void withoutLayoutSeatsFollowArrivalTenToARow()
    {
        SeatMap map(SeatLayout::inArrivalOrder({}), {{"s0", "零"}}, std::nullopt);
        for (int i = 0; i < 12; ++i)
            map.addClaim({QStringLiteral("s%1").arg(i), QStringLiteral("10.0.2.%1").arg(i),
                          "09:00:00", 9 * 3600});
        map.addClaim({"s0", "10.0.2.0", "09:01:00", 9 * 3600 + 60});
        QCOMPARE(map.layout().seats.size(), qsizetype(12));
        QCOMPARE(seatsText(map.layout()).section(u';', 9, 11),
                 QStringLiteral("10 1 10 10.0.2.9;11 2 1 10.0.2.10;12 2 2 10.0.2.11"));
        QCOMPARE(map.lines().size(), qsizetype(12));
    }

    void seatStates_data()
    {
        QTest::addColumn<QStringList>("claims"); // "ID@address@hh:mm:ss"
        QTest::addColumn<QString>("lines");
        QTest::newRow("empty room")
            << QStringList{} << QStringLiteral("A1//空席;A2//空席;B1//空席");
        QTest::newRow("present, on the minute still on time")
            << QStringList{"taro@10.0.0.1@09:10:00"}
            << QStringLiteral("A1/taro/出席;A2//空席;B1//空席");
        QTest::newRow("late one second after") << QStringList{"taro@10.0.0.2@09:10:01"}
                                               << QStringLiteral("A1//空席;A2/taro/遅刻;B1//空席");
        QTest::newRow("two IDs from one seat")
            << QStringList{"taro@10.0.0.1@09:00:00", "hanako@10.0.0.1@09:01:00"}
            << QStringLiteral("A1/taro/要確認;A1/hanako/要確認;A2//空席;B1//空席");
        QTest::newRow("one ID from two seats")
            << QStringList{"taro@10.0.0.1@09:00:00", "taro@10.0.0.3@09:02:00"}
            << QStringLiteral("A1/taro/要確認;A2//空席;B1/taro/要確認");
        QTest::newRow("not on the roster") << QStringList{"guest@10.0.0.2@09:00:00"}
                                           << QStringLiteral("A1//空席;A2/guest/名簿外;B1//空席");
        QTest::newRow("outside the layout, after the seats")
            << QStringList{"jiro@10.0.9.9@09:00:00", "taro@10.0.0.1@09:00:00"}
            << QStringLiteral("A1/taro/出席;A2//空席;B1//空席;(10.0.9.9)/jiro/出席");
        QTest::newRow("the same claim again counts once")
            << QStringList{"taro@10.0.0.1@09:00:00", "taro@10.0.0.1@09:30:00"}
            << QStringLiteral("A1/taro/出席;A2//空席;B1//空席");
    }
    void seatStates()
    {
        QFETCH(QStringList, claims);
        QFETCH(QString, lines);
        SeatMap map(SeatLayout::parse(Room),
                    {{"taro", "太郎"}, {"hanako", "花子"}, {"jiro", "次郎"}}, 9 * 3600 + 10 * 60);
        for (const QString &claim : claims) {
            const QStringList f = claim.split(u'@');
            const QStringList hms = f[2].split(u':');
            map.addClaim(
                {f[0], f[1], f[2], hms[0].toInt() * 3600 + hms[1].toInt() * 60 + hms[2].toInt()});
        }
        QCOMPARE(linesText(map), lines);
    }

    void withoutStartNobodyIsLateAndAbsentFollowTheRoster()
    {
        SeatMap map(SeatLayout::parse(Room),
                    {{"taro", "太郎"}, {"hanako", "花子"}, {"jiro", "次郎"}}, std::nullopt);
        map.addClaim({"hanako", "10.0.0.1", "23:59:00", 86340});
        map.addHandedIn("hanako", "hanako.c");
        QCOMPARE(linesText(map), QStringLiteral("A1/hanako/出席;A2//空席;B1//空席"));
        QVERIFY(map.lines().constFirst().handedIn);
        QCOMPARE(map.lines().constFirst().fileName, QStringLiteral("hanako.c"));
        QCOMPARE(map.lines().constFirst().name, QStringLiteral("花子"));
        QStringList absent;
        for (const SeatMap::Student &student : map.absent())
            absent << student.id;
        QCOMPARE(absent, (QStringList{"taro", "jiro"}));
    }

    // The lecturer's edits on the layout as data: a seat moved to a free
    // place or onto another (they change places), labels renamed, and only
    // what the file can hold back.
    void layoutEditsMoveAndRenameSeats()
    {
        SeatLayout layout = SeatLayout::parse(u"A1,1,1,10.0.0.1\nA2,1,2,10.0.0.2\nB1,2,1,10.0.0.3");
        QVERIFY(layout.moveSeat(2, 3, 4));
        QVERIFY(layout.moveSeat(0, 1, 2));
        QCOMPARE(seatsText(layout), "A1 1 2 10.0.0.1;A2 1 1 10.0.0.2;B1 3 4 10.0.0.3");
        QVERIFY(!layout.moveSeat(0, 1, 2));
        QVERIFY(!layout.moveSeat(0, 0, 1));
        QVERIFY(!layout.moveSeat(0, 1, SeatLayout::MaxRowsOrColumns + 1));
        QVERIFY(!layout.moveSeat(3, 1, 1));

        QVERIFY(layout.renameSeat(1, QStringLiteral("  窓側, 前 ")));
        QVERIFY(!layout.renameSeat(1, QStringLiteral("窓側, 前")));
        for (const QString &bad :
             {QString(), QStringLiteral("  "), QStringLiteral("#1"), QStringLiteral("A\nB"),
              QStringLiteral("A\rB"), QStringLiteral("席😀")})
            QVERIFY2(!layout.renameSeat(0, bad), qPrintable(bad));
        const QString edited = "A1 1 2 10.0.0.1;窓側, 前 1 1 10.0.0.2;B1 3 4 10.0.0.3";
        QCOMPARE(seatsText(layout), edited);
        // The file's text reads back to the same seats, in code page 932.
        QCOMPARE(seatsText(SeatLayout::parse(cp932::decode(cp932::encode(layout.text())))), edited);

        // Seats of the order of arrival moved by hand keep their places:
        // the next address takes the next free one.
        SeatLayout arrival = SeatLayout::inArrivalOrder({"a", "b"});
        QVERIFY(arrival.moveSeat(0, 1, 3));
        arrival.addArrival("c");
        arrival.addArrival("d");
        QCOMPARE(seatsText(arrival), "1 1 3 a;2 1 2 b;3 1 4 c;4 1 5 d");
    }

    // 保存 of the edited layout: zaseki.cfg (or inivar.cfg's zaseki) through a
    // temporary file, CP932 and CR LF; a failed save leaves the old file.
    void editedLayoutIsSavedWholeOrNotAtAll()
    {
        QTemporaryDir dir;
        const QString own = dir.filePath("zaseki.cfg");
        QCOMPARE(seatLayoutSavePath(dir.path()), own);
        writeBytes(own, cp932Lines({"# 教室", "前,1,1,10.0.0.1", "後ろ,2,1,10.0.0.2"}));
        Result<SeatLayout> read = readSeatLayoutFile(seatLayoutPath(dir.path()));
        QVERIFY(read);
        std::optional<SeatLayout> layout = *read;
        QVERIFY(layout);
        QVERIFY(layout->moveSeat(1, 1, 2));
        QVERIFY(layout->renameSeat(0, QStringLiteral("教卓前")));
        QVERIFY(writeSeatLayoutFile(seatLayoutSavePath(dir.path()), *layout));
        QCOMPARE(readBytes(own),
                 cp932Lines({"# 座席,行,列,アドレス", "教卓前,1,1,10.0.0.1", "後ろ,1,2,10.0.0.2"}));
        QVERIFY(!QFileInfo::exists(own + ".new"));
        const Result<SeatLayout> back = readSeatLayoutFile(own);
        QVERIFY(back);
        QCOMPARE(seatsText(*back), seatsText(*layout));

        // The temporary file's name taken by a folder: nothing is replaced.
        const QByteArray before = readBytes(own);
        QVERIFY(QDir().mkpath(own + ".new"));
        QVERIFY(layout->renameSeat(1, QStringLiteral("窓")));
        const Result<> failed = writeSeatLayoutFile(own, *layout);
        QVERIFY(!failed);
        QVERIFY(!failed.error().isEmpty());
        QCOMPARE(readBytes(own), before);

        const QString named = dir.filePath("rooms/r101.cfg");
        writeBytes(dir.filePath("inivar.cfg"), cp932Lines({"zaseki=" + named}));
        QCOMPARE(seatLayoutSavePath(dir.path()), named);
        QVERIFY(writeSeatLayoutFile(named, *layout));
        QVERIFY(readBytes(named).contains(cp932::encode(u"窓,1,2,10.0.0.2\r\n")));
    }

    // The real program, without a display: exit codes and the CSV's bytes.
    void aJournaledIdOffTheRosterTakesItsSeat()
    {
        QTemporaryDir dir;
        const QString journal = dir.filePath("journal.txt");
        writeBytes(journal, cp932Lines({"講義,演習", "出席,09:05:00,1,taro,10.0.0.1",
                                        "名簿外,09:06:00,s26099,10.0.0.3"}));
        SeatMap map(SeatLayout::parse(Room), {{"taro", "太郎"}}, std::nullopt);
        QVERIFY(readSeatClaims(journal, "演習", map).ok());
        QCOMPARE(linesText(map), QStringLiteral("A1/taro/出席;A2//空席;B1/s26099/名簿外"));
    }

    void commandWritesTheDaysSeats()
    {
        QTemporaryDir dir;
        const QString roster = dir.filePath("roster.cfg");
        writeBytes(roster,
                   cp932Lines({"kougimei=演習", "tantousya=中村", "kaisi=09:00", "<start data>",
                               "taro,太郎", "hanako,花子", "=cmd,式", "<end data>"}));
        const QString layout = dir.filePath("room.cfg");
        writeBytes(layout, cp932Lines({"# 前の列", "A1,1,1,10.0.0.1", "A2,1,2,10.0.0.2",
                                       "-B1,2,1,10.0.0.3", "壊れた行"}));
        const QString journals = dir.filePath("journals");
        QVERIFY(QDir().mkpath(journals));
        const QString name =
            QFileInfo(LectureJournal::pathFor("演習", QDate(2026, 12, 9))).fileName();
        writeBytes(journals + u'/' + name,
                   cp932Lines({"講義,演習", "出席,09:05:00,1,taro,10.0.0.1",
                               "出席,09:20:00,2,hanako,10.0.0.1", "出席,09:21:00,3,=cmd,10.0.9.9",
                               "再申告,09:30:00,1,taro,10.0.0.2"}));
        // Another day of the same lecture is not read.
        writeBytes(journals + u'/' +
                       QFileInfo(LectureJournal::pathFor("演習", QDate(2026, 12, 2))).fileName(),
                   cp932Lines({"講義,演習", "出席,09:00:00,1,hanako,10.0.0.3"}));
        const QString out = dir.filePath("seats.csv");
        QProcess command;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("XDG_DATA_HOME", dir.filePath("nodata"));
        command.setProcessEnvironment(environment);
        command.setWorkingDirectory(dir.path());
        const auto run = [&](const QStringList &arguments) {
            command.start(TAVRELLE_PROGRAM, arguments);
            return command.waitForFinished(20000) && command.exitStatus() == QProcess::NormalExit
                       ? command.exitCode()
                       : -1;
        };
        const QStringList base{"--seats", roster, "--date", "2026-12-09", "--journals", journals};
        QCOMPARE(run(base + QStringList{"--layout", layout, "--out", out}), 0);
        QVERIFY(QString::fromLocal8Bit(command.readAllStandardError()).contains("5 行目"));
        QCOMPARE(readBytes(out),
                 cp932Lines({"座席,行,列,アドレス,ユーザID,ユーザ名,状態,出席時刻",
                             "A1,1,1,10.0.0.1,taro,太郎,要確認,09:05:00",
                             "A1,1,1,10.0.0.1,hanako,花子,要確認,09:20:00",
                             "A2,1,2,10.0.0.2,taro,太郎,要確認,09:30:00",
                             "'-B1,2,1,10.0.0.3,,,空席,", ",,,10.0.9.9,'=cmd,式,遅刻,09:21:00"}));

        // No layout anywhere: seats in the order the addresses attended.
        QCOMPARE(run(base + QStringList{"--out", out}), 0);
        QCOMPARE(cp932::decode(readBytes(out)).split("\r\n").mid(1, 4),
                 (QStringList{"1,1,1,10.0.0.1,taro,太郎,要確認,09:05:00",
                              "1,1,1,10.0.0.1,hanako,花子,要確認,09:20:00",
                              "2,1,2,10.0.9.9,'=cmd,式,遅刻,09:21:00",
                              "3,1,3,10.0.0.2,taro,太郎,要確認,09:30:00"}));
        // zaseki.cfg where the program starts, and inivar.cfg's zaseki before it.
        writeBytes(dir.filePath("zaseki.cfg"), cp932Lines({"Z,1,1,10.0.0.3"}));
        QCOMPARE(run(base), 0);
        QVERIFY(command.readAllStandardOutput().startsWith(
            cp932::encode(QStringLiteral("座席,行,列,アドレス,ユーザID,ユーザ名,状態,出席時刻\r\n"
                                         "Z,1,1,10.0.0.3,,,空席,\r\n"))));
        writeBytes(dir.filePath("inivar.cfg"), cp932Lines({"zaseki=" + layout}));
        QCOMPARE(run(base), 0);
        QVERIFY(command.readAllStandardOutput().contains("\r\nA1,1,1,"));

        // Refused with a Japanese message and exit 2.
        const auto refused = [&](const QStringList &arguments, const QString &message) {
            if (run(arguments) != 2)
                return false;
            return QString::fromLocal8Bit(command.readAllStandardError()).contains(message);
        };
        QVERIFY(refused({"--seats", dir.filePath("none.cfg")}, "受講ファイル"));
        QVERIFY(refused(base + QStringList{"--layout", dir.filePath("none.cfg")}, "座席表"));
        QVERIFY(refused(base + QStringList{"--bogus", "x"}, "知らないオプション"));
        QVERIFY(refused(base + QStringList{"--date", "2026/12/09"}, "--date"));
        QVERIFY(refused(base + QStringList{"--journals", dir.filePath("nowhere")}, "記録フォルダ"));
        writeBytes(dir.filePath("inivar.cfg"), cp932Lines({"zaseki=" + dir.filePath("gone.cfg")}));
        QVERIFY(refused(base, "座席表"));
    }
};

QTEST_GUILESS_MAIN(TestSeats)
#include "tst_seats.moc"
