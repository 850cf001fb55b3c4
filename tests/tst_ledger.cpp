#include "common/clock.h"
#include "server/app/attendanceledger.h"
#include "server/records/journalreader.h"
#include "server/records/lecturejournal.h"
#include "server/term/coursesettings.h"
#include "server/term/ledger.h"
#include "server/term/ledgercorrections.h"
#include "server/term/ledgercsv.h"
#include "support/fakedesktop.h"
#include "support/files.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const QString LectureName = QStringLiteral("情報処理演習Ⅰ");

CourseSettings settingsOf(const QStringList &lines)
{
    return CourseSettings::fromText(lines.join(QStringLiteral("\r\n")), QDate(2026, 12, 9));
}

std::vector<LedgerCell> cells(int present, int late, int absent, int excused)
{
    std::vector<LedgerCell> row;
    const std::pair<int, SessionStatus> counts[] = {{present, SessionStatus::Present},
                                                    {late, SessionStatus::Late},
                                                    {absent, SessionStatus::Absent},
                                                    {excused, SessionStatus::Excused}};
    for (const auto &[count, status] : counts)
        for (int i = 0; i < count; ++i)
            row.push_back({status, -1, false});
    return row;
}

// The server's journal of `lecture` on `date` in `folder`, with `suffix`
// before ".txt" for a kept copy.
QString journalPath(const QString &folder, QDate date, const QString &suffix = {},
                    const QString &lecture = LectureName)
{
    const QString name = QFileInfo(LectureJournal::pathFor(lecture, date)).fileName();
    return folder + u'/' + name.chopped(4) + suffix + QStringLiteral(".txt");
}

QString mark(const QString &time, const QString &userId)
{
    return QStringLiteral("出席,%1,1,%2,192.168.0.10").arg(time, userId);
}

// One line per row: ID and the status letters of the sessions.
QString statusLines(const Ledger &ledger)
{
    QStringList lines;
    for (const LedgerRow &row : ledger.rows) {
        QString line = row.userId + u':';
        for (const LedgerCell &cell : row.cells)
            line += statusLetter(cell.status);
        lines << line;
    }
    return lines.join(u' ');
}

} // namespace

class TestLedger : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_roster;

    QString journals() const { return LectureJournal::folder(); }
    void writeJournal(const QString &path, const QStringList &lines,
                      const QString &lecture = LectureName)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        writeBytes(path, cp932Lines(QStringList{"講義," + lecture} + lines));
    }
    void writeRoster(const QStringList &keys, const QStringList &students)
    {
        writeBytes(m_roster,
                   cp932Lines(QStringList{"kougimei=" + LectureName, "tantousya=山田 太郎"} + keys +
                              QStringList{"<start data>"} + students + QStringList{"<end data>"}));
    }
    Ledger ledgerOf(const QStringList &extraFolders = {})
    {
        Result<LedgerSource> source = readLedgerRoster(m_roster, Clock::today());
        if (!source)
            qFatal("%s", qPrintable(source.error()));
        LedgerSource withFolders = *source;
        withFolders.journalFolders << extraFolders;
        return buildLedger(withFolders, LedgerCorrections());
    }

private Q_SLOTS:
    void initTestCase()
    {
        // The program's name: its journal folder is the one the tests fill.
        QCoreApplication::setApplicationName(QStringLiteral("Tavrelle"));
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_roster = m_dir->filePath(QStringLiteral("roster.cfg"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("data"))));
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(10, 0)); });
    }
    void cleanup() { Clock::setSource({}); }

    void courseKeysAndTheirDefaults()
    {
        const CourseSettings none = settingsOf({"kougimei=x"});
        QVERIFY(!none.start());
        QCOMPARE(none.onTimeMinutes(), 10);
        QCOMPARE(none.absentAfterMinutes(), 30);
        QCOMPARE(none.plannedSessions(), 15);
        QCOMPARE(none.allowedAbsences(), 5); // 15 − ⌈15 × 2/3⌉
        QCOMPARE(none.latesPerAbsence(), 0);
        QCOMPARE(none.from(), QDate(2026, 10, 1));
        QCOMPARE(none.to(), QDate(2027, 3, 31));
        QVERIFY(none.problems().isEmpty());
        QCOMPARE(CourseSettings::termOf(QDate(2027, 3, 31)).first, QDate(2026, 10, 1));
        QCOMPARE(CourseSettings::termOf(QDate(2027, 4, 1)).second, QDate(2027, 9, 30));

        const CourseSettings all =
            settingsOf({"KAISI=13:00", "tikoku=5", "kesseki=20", "kaisu=14", "sikaku=80",
                        "tikokukansan=3", "kikan=2026-04-06..2026-07-31", "kaisu=99"});
        QCOMPARE(*all.start(), QTime(13, 0));
        QCOMPARE(all.onTimeMinutes(), 5);
        QCOMPARE(all.absentAfterMinutes(), 20);
        QCOMPARE(all.plannedSessions(), 14); // the first occurrence counts
        QCOMPARE(all.allowedAbsences(), 2);  // 14 − ⌈11.2⌉
        QCOMPARE(all.latesPerAbsence(), 3);
        QCOMPARE(all.from(), QDate(2026, 4, 6));
        QVERIFY(all.problems().isEmpty());
        QCOMPARE(settingsOf({"sikaku=3/4", "kaisu=10"}).allowedAbsences(), 2);
        QCOMPARE(settingsOf({"sikaku=66.7"}).allowedAbsences(), 5); // ⌈10.0⌉, as 2/3
        // Keys inside the student block are students, not keys.
        QVERIFY(!settingsOf({"<start data>", "kaisi=09:00,名前", "<end data>"}).start());
    }

    void malformedValuesAreNamedWithKeyAndLine_data()
    {
        QTest::addColumn<QString>("line");
        for (const char *line : {"kaisi=9時", "kaisi=24:00", "tikoku=-1", "kesseki=x", "kaisu=0",
                                 "sikaku=4/3", "sikaku=abc", "tikokukansan=1.5", "kikan=2026-10-01",
                                 "kikan=2027-03-31..2026-10-01", "kikan=2026/10/01..2027/03/31"})
            QTest::newRow(line) << QString::fromUtf8(line);
    }
    void malformedValuesAreNamedWithKeyAndLine()
    {
        QFETCH(QString, line);
        const CourseSettings settings = settingsOf({"kougimei=x", "# comment", line});
        QCOMPARE(settings.problems().size(), 1);
        const QString key = line.section(u'=', 0, 0);
        QVERIFY2(settings.problems()[0].startsWith(QStringLiteral("3 行目: %1 の値").arg(key)),
                 qPrintable(settings.problems()[0]));
        const CourseSettings defaults = settingsOf({});
        QCOMPARE(settings.start().has_value(), false);
        QCOMPARE(settings.onTimeMinutes(), defaults.onTimeMinutes());
        QCOMPARE(settings.absentAfterMinutes(), defaults.absentAfterMinutes());
        QCOMPARE(settings.allowedAbsences(), defaults.allowedAbsences());
        QCOMPARE(settings.latesPerAbsence(), 0);
        QCOMPARE(settings.from(), defaults.from());
    }

    void aLateWindowThatEndsBeforeItBeginsIsNamed()
    {
        const CourseSettings settings = settingsOf({"kaisi=09:00", "kesseki=5", "tikoku=15"});
        QCOMPARE(settings.problems().size(), 1);
        QVERIFY2(settings.problems()[0].startsWith(QStringLiteral("3 行目: kesseki (5 分)")),
                 qPrintable(settings.problems()[0]));
        // Past tikoku is absent at once: there is no late window left.
        QCOMPARE(statusOfMark(9 * 3600 + 15 * 60, settings), SessionStatus::Present);
        QCOMPARE(statusOfMark(9 * 3600 + 15 * 60 + 1, settings), SessionStatus::Absent);
    }

    void statusesAtTheWindowEdges()
    {
        const CourseSettings settings = settingsOf({"kaisi=09:00"});
        const auto at = [&](int h, int m, int s) {
            return statusLetter(statusOfMark(h * 3600 + m * 60 + s, settings));
        };
        QCOMPARE(at(8, 40, 0), QStringLiteral("出"));
        QCOMPARE(at(9, 10, 0), QStringLiteral("出")); // exactly start + tikoku
        QCOMPARE(at(9, 10, 1), QStringLiteral("遅"));
        QCOMPARE(at(9, 30, 0), QStringLiteral("遅")); // exactly start + kesseki
        QCOMPARE(at(9, 30, 1), QStringLiteral("欠"));
        // Without a start every mark is present.
        QCOMPARE(statusLetter(statusOfMark(23 * 3600, settingsOf({}))), QStringLiteral("出"));
    }

    void totalsWeighLatesFractionally()
    {
        const CourseSettings thirds = settingsOf({"tikokukansan=3"});
        // 15 sessions, 5 absences and 1 late: 5⅓ > 5 allowed.
        LedgerTotals totals = totalsOf(cells(9, 1, 5, 0), thirds);
        QCOMPARE(totals.eligible, false);
        QCOMPARE(totals.absencesLeft, 0);
        QCOMPARE(totals.rate, QStringLiteral("64.4")); // (15 − 5⅓) ÷ 15
        QCOMPARE(totalsOf(cells(10, 0, 5, 0), thirds).eligible, true);
        totals = totalsOf(cells(10, 2, 3, 0), thirds); // A = 3⅔
        QCOMPARE(totals.absencesLeft, 1);
        QCOMPARE(totals.atRisk, true);
        QCOMPARE(totals.rate, QStringLiteral("75.6"));
        // Without tikokukansan lates are no absences at all.
        totals = totalsOf(cells(5, 10, 0, 0), settingsOf({}));
        QCOMPARE(totals.rate, QStringLiteral("100.0"));
        QCOMPARE(totals.absencesLeft, 5);
        QCOMPARE(totals.atRisk, false);
        QCOMPARE((std::vector<int>{totals.present, totals.late, totals.absent, totals.excused}),
                 (std::vector<int>{5, 10, 0, 0}));
    }

    void excusedSessionsAreOutOfTheDenominator()
    {
        const LedgerTotals totals = totalsOf(cells(7, 0, 1, 2), settingsOf({}));
        QCOMPARE(totals.counted, 8);
        QCOMPARE(totals.rate, QStringLiteral("87.5"));
        QCOMPARE(totals.absencesLeft, 3); // 13 − ⌈8.7⌉ − 1
        QCOMPARE(totalsOf(cells(0, 0, 0, 3), settingsOf({})).rate, QStringLiteral("-"));
        QCOMPARE(totalsOf({}, settingsOf({})).rate, QStringLiteral("-"));
    }

    void sikakuIsReadAsWritten_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("allowed"); // of 15 sessions
        QTest::newRow("fraction") << "2/3" << 5;
        QTest::newRow("percent") << "66.7" << 5;
        QTest::newRow("percent sign") << "66.7%" << 5;
        QTest::newRow("whole percent") << "80" << 3;
        QTest::newRow("share below 1") << "0.8" << 3;
        QTest::newRow("share of thirds") << "0.667" << 5;
        QTest::newRow("tiny percent") << "0.8%" << 14;
        QTest::newRow("all") << "100%" << 0;
    }
    void sikakuIsReadAsWritten()
    {
        QFETCH(QString, value);
        QFETCH(int, allowed);
        const CourseSettings settings = settingsOf({"sikaku=" + value});
        QVERIFY2(settings.problems().isEmpty(), qPrintable(settings.problems().join(u'\n')));
        QCOMPARE(settings.allowedAbsences(), allowed);
    }

    void eligibilityAndRateShareOneDenominator()
    {
        // 4 出, 6 公, 5 欠 of 15: 44.4 % of the counted nine cannot be 可.
        LedgerTotals totals = totalsOf(cells(4, 0, 5, 6), settingsOf({}));
        QCOMPARE(totals.rate, QStringLiteral("44.4"));
        QCOMPARE(totals.eligible, false);
        QCOMPARE(totals.absencesLeft, 0);
        // Nine counted sessions under 2/3: six needed, three absences allowed.
        totals = totalsOf(cells(6, 0, 3, 6), settingsOf({}));
        QCOMPARE(totals.eligible, true);
        QCOMPARE(totals.absencesLeft, 0);
        QCOMPARE(settingsOf({}).allowedAbsences(6), 3);
    }

    void journalsOfOneDateAreOneSessionAndTheEarliestMarkCounts()
    {
        writeRoster({"kaisi=09:00"}, {"taro,太郎", "hanako,花子", "jiro,次郎"});
        const QDate day(2026, 10, 5);
        // A restart answered いいえ kept the first journal; a second room
        // wrote its own on another machine.
        writeJournal(journalPath(journals(), day, "_091500"), {mark("09:45:00", "taro")});
        writeJournal(journalPath(journals(), day),
                     {mark("09:20:00", "taro"), mark("09:50:00", "hanako")});
        const QString room2 = m_dir->filePath(QStringLiteral("room2"));
        writeJournal(journalPath(room2, day, "_093012_2"), {mark("09:05:00", "hanako")});
        writeJournal(journalPath(room2, QDate(2026, 10, 12)), {mark("09:00:00", "jiro")});
        // Not journals of this lecture, or outside the term.
        writeJournal(journalPath(journals(), QDate(2026, 10, 19), {}, "別の講義"),
                     {mark("09:00:00", "taro")}, "別の講義");
        writeJournal(journalPath(journals(), QDate(2026, 9, 28)), {mark("09:00:00", "taro")});
        writeBytes(journals() + "/2026-10-19_log.txt", "09:00:00 x\r\n");
        writeBytes(journalPath(journals(), QDate(2026, 10, 26)) + ".lock", "1234");

        Ledger ledger = ledgerOf();
        QCOMPARE(ledger.sessions, QList<QDate>{day});
        QCOMPARE(statusLines(ledger), QStringLiteral("taro:遅 hanako:欠 jiro:欠"));
        ledger = ledgerOf({room2});
        QCOMPARE(ledger.sessions, (QList<QDate>{day, QDate(2026, 10, 12)}));
        QCOMPARE(statusLines(ledger), QStringLiteral("taro:遅欠 hanako:出欠 jiro:欠出"));
        QVERIFY2(ledger.problems.isEmpty(), qPrintable(ledger.problems.join(u'\n')));
        QCOMPARE(ledger.rows[1].cells[0].markSeconds, 9 * 3600 + 5 * 60);
    }

    void aSessionsLaterFileAfterMidnightIsTheSameNight()
    {
        // 23:00 lecture; restarted at 00:30, answered いいえ: a second file.
        writeRoster({"kaisi=23:00", "kesseki=120"}, {"taro,太郎", "jiro,次郎", "hanako,花子"});
        const QDate day(2026, 10, 5);
        writeJournal(journalPath(journals(), day),
                     {mark("23:00:00", "taro"), mark("23:20:00", "jiro"), mark("00:10:00", "x")});
        writeJournal(journalPath(journals(), day, "_2"), {mark("00:40:00", "hanako")});
        const Ledger ledger = ledgerOf();
        QCOMPARE(ledger.sessions, QList<QDate>{day});
        QCOMPARE(statusLines(ledger), QStringLiteral("taro:出 jiro:遅 hanako:遅 x:遅"));
        QCOMPARE(ledger.rows[2].cells[0].markSeconds, 24 * 3600 + 40 * 60);
    }

    void marksOffTheRosterCountOnceTheRosterHoldsTheId()
    {
        const QDate day(2026, 10, 5);
        writeJournal(journalPath(journals(), day),
                     {mark("09:00:00", "taro"), "名簿外,09:05:00,s26099,192.168.0.20"});
        writeRoster({}, {"taro,太郎"});
        Ledger ledger = ledgerOf();
        QCOMPARE(statusLines(ledger), QStringLiteral("taro:出 s26099:出"));
        QCOMPARE(ledger.rows[1].name, QStringLiteral("(名簿外)"));
        QCOMPARE(ledger.rosterRows, 1);
        // 履修登録 settled: the student's first day counts.
        writeRoster({}, {"taro,太郎", "s26099,新入 生"});
        ledger = ledgerOf();
        QCOMPARE(statusLines(ledger), QStringLiteral("taro:出 s26099:出"));
        QCOMPARE(ledger.rosterRows, 2);
        QCOMPARE(ledger.rows[1].cells[0].markSeconds, 9 * 3600 + 5 * 60);
    }

    void aTermWithoutSessionsNamesTheJournalsOutsideIt()
    {
        // No kikan, run after the term's end: the winter term's journals lie outside.
        Clock::setSource([] { return QDateTime(QDate(2027, 4, 2), QTime(10, 0)); });
        writeRoster({}, {"taro,太郎"});
        writeJournal(journalPath(journals(), QDate(2027, 1, 18)), {mark("09:00:00", "taro")});
        writeJournal(journalPath(journals(), QDate(2027, 1, 11)), {mark("09:00:00", "taro")});
        const Ledger ledger = ledgerOf();
        QVERIFY(ledger.sessions.isEmpty());
        QCOMPARE(ledger.problems.size(), 1);
        QVERIFY2(ledger.problems[0].contains(QStringLiteral("2027/04/01〜2027/09/30")) &&
                     ledger.problems[0].contains(QStringLiteral("2027/01/11, 2027/01/18")),
                 qPrintable(ledger.problems[0]));
        // With a session in the term nothing is said of other dates.
        writeJournal(journalPath(journals(), QDate(2027, 4, 12)), {mark("09:00:00", "taro")});
        QVERIFY(ledgerOf().problems.isEmpty());
    }

    void correctionsBesideOtherFoldersAreReadAndTheLaterWins()
    {
        writeRoster({}, {"taro,太郎", "hanako,花子"});
        const QDate day(2026, 10, 5);
        writeJournal(journalPath(journals(), day),
                     {mark("09:00:00", "taro"), mark("09:00:00", "hanako")});
        const QString room2 = m_dir->filePath(QStringLiteral("room2"));
        const QString room3 = m_dir->filePath(QStringLiteral("room3"));
        const QString name = QFileInfo(LedgerCorrections::pathFor(LectureName)).fileName();
        writeBytes(LedgerCorrections::pathFor(LectureName),
                   cp932Lines({"講義," + LectureName, "訂正,2026-10-05,欠,taro,"}));
        QDir().mkpath(room2);
        writeBytes(room2 + u'/' + name,
                   cp932Lines({"講義," + LectureName, "訂正,2026-10-05,公,taro,届",
                               "訂正,2026-10-05,欠,hanako,", "壊れた行"}));
        QDir().mkpath(room3);
        writeBytes(room3 + u'/' + name,
                   cp932Lines({"講義," + LectureName, "訂正,2026-10-05,出,hanako,"}));
        FakeDesktop desktop;
        AttendanceLedger ledger(desktop.dialogs, desktop.messages, desktop.clipboard);
        QVERIFY(ledger.open(m_roster));
        QCOMPARE(statusLines(ledger.ledger()), QStringLiteral("taro:欠 hanako:出"));
        ledger.addFolder(room2);
        QCOMPARE(statusLines(ledger.ledger()), QStringLiteral("taro:公 hanako:欠"));
        ledger.addFolder(room3);
        QCOMPARE(statusLines(ledger.ledger()), QStringLiteral("taro:公 hanako:出"));
        const QString notes = ledger.ledger().notes.join(u'\n');
        QVERIFY2(
            notes.contains(room2 + u'/' + name + QStringLiteral(": 訂正 2026-10-05 公 taro")) &&
                notes.contains(room3 + u'/' + name + QStringLiteral(": 訂正 2026-10-05 出 hanako")),
            qPrintable(notes));
        QVERIFY2(
            ledger.problems().join(u'\n').contains(room2 + u'/' + name + ": 出席簿の訂正 4 行目"),
            qPrintable(ledger.problems().join(u'\n')));
        // This machine's file keeps its own corrections only.
        QCOMPARE(readBytes(LedgerCorrections::pathFor(LectureName)),
                 cp932Lines({"講義," + LectureName, "訂正,2026-10-05,欠,taro,"}));
    }

    void badLinesAndFilesAreSkippedAndNamed()
    {
        writeRoster({}, {"taro,太郎", "hanako,花子", "taro,太郎 (二重)"});
        const QDate day(2026, 10, 5);
        writeJournal(journalPath(journals(), day),
                     {mark("09:00:00", "ghost"), "配布,09:01:00,資料.pdf", "集計,3",
                      "出席,9:00,1,hanako,x", "出席,09:02:00,1", mark("09:03:00", "taro"),
                      "出席,09:04:00,2,hano"});
        // The last line cut off by a power failure: no line end.
        QFile torn(journalPath(journals(), day));
        QVERIFY(torn.open(QIODevice::Append));
        torn.write("\x8f\x6f\x90\xc8,09:05");
        torn.close();
        // A file named like a journal whose first line names another lecture.
        writeJournal(journalPath(journals(), QDate(2026, 10, 12)), {mark("09:00:00", "hanako")},
                     "別の講義");
        QDir().mkpath(journalPath(journals(), QDate(2026, 10, 19)));
        // Made by the server a moment before it was killed: no session.
        writeBytes(journalPath(journals(), QDate(2026, 10, 26)), {});

        const Ledger ledger = ledgerOf();
        QCOMPARE(ledger.sessions, QList<QDate>{day});
        QCOMPARE(statusLines(ledger), QStringLiteral("taro:出 hanako:欠 taro:出 ghost:出"));
        QCOMPARE(ledger.rosterRows, 3);
        QCOMPARE(ledger.rows[3].name, QStringLiteral("(名簿外)"));
        const QString problems = ledger.problems.join(u'\n');
        QCOMPARE(ledger.problems.size(), 6);
        QVERIFY2(problems.contains(QStringLiteral("の 5 行目を読み飛ばしました: 時刻がありません")),
                 qPrintable(problems));
        QVERIFY(problems.contains(
            QStringLiteral("の 6 行目を読み飛ばしました: 出席の行が欠けています")));
        QVERIFY(problems.contains(
            QStringLiteral("の 8 行目を読み飛ばしました: 出席の行が欠けています")));
        QVERIFY(problems.contains(QStringLiteral("の 9 行目を読み飛ばしました: 時刻がありません")));
        QVERIFY(problems.contains(QStringLiteral("は講義「情報処理演習Ⅰ」の記録ではありません")));
        QVERIFY(problems.contains(QStringLiteral("2026-10-19_")));
        // A folder chosen one level too high holds no journal of the lecture.
        const QStringList withRoom = ledgerOf({m_dir->path()}).problems;
        QCOMPARE(withRoom.size(), 7);
        QVERIFY(withRoom.contains(QStringLiteral("記録フォルダ %1 に講義「%2」の記録はありません")
                                      .arg(m_dir->path(), LectureName)));
    }

    void aLectureNightIsTheDayItBegan()
    {
        const QString path = journalPath(journals(), QDate(2026, 10, 5));
        writeJournal(path, {mark("23:50:00", "taro"), "提出,23:59:00,taro,taro.c,1,ab",
                            mark("00:20:00", "hanako")});
        JournalReader reader(path, LectureName);
        QList<JournalReader::Mark> marks;
        QVERIFY(reader.read([&marks](const JournalReader::Mark &mark) { marks << mark; }).ok());
        QCOMPARE(reader.lectureName(), LectureName);
        QCOMPARE(marks.size(), 2);
        const JournalReader::Mark &first = marks[0], &second = marks[1];
        QCOMPARE(first.seconds, 23 * 3600 + 50 * 60);
        QCOMPARE(second.seconds, 24 * 3600 + 20 * 60);
        const CourseSettings settings = settingsOf({"kaisi=23:45"});
        QCOMPARE(statusOfMark(second.seconds, settings), SessionStatus::Absent);
    }

    void overlongLinesAndOtherLineEndsDoNotLoseMarks()
    {
        const QString path = journalPath(journals(), QDate(2026, 10, 5));
        QByteArray bytes = cp932Lines({"講義," + LectureName}, "\n");
        bytes += "\x8f\x6f\x90\xc8,09:00:00,1," + QByteArray(200 * 1024, 'x') + ",addr\r\n";
        bytes += cp932Lines({mark("09:01:00", "taro")}, "\n");
        bytes += "\x8f\x6f\x90\xc8,09:02:00,2,\x82\xff,addr\r\n"; // a broken character
        QDir().mkpath(journals());
        writeBytes(path, bytes);
        JournalReader reader(path, LectureName);
        QList<JournalReader::Mark> marks;
        QVERIFY(reader.read([&marks](const JournalReader::Mark &mark) { marks << mark; }).ok());
        QCOMPARE(reader.lectureName(), LectureName);
        QCOMPARE(marks.size(), 2);
        const JournalReader::Mark &first = marks[0], &second = marks[1];
        QCOMPARE(first.userId, QStringLiteral("taro"));
        QCOMPARE(second.userId.size(), 2);
        QCOMPARE(second.seconds, 9 * 3600 + 2 * 60);
        QCOMPARE(reader.problems().size(), 1);
        QVERIFY2(reader.problems()[0].endsWith(
                     QStringLiteral("の 2 行目を読み飛ばしました: 行が長すぎます")),
                 qPrintable(reader.problems()[0]));
        JournalReader missing(path + ".gone", LectureName);
        const Result<> unread = missing.read([](const JournalReader::Mark &) {});
        QVERIFY(!unread.ok());
        QVERIFY(!unread.error().isEmpty());
    }

    void correctionsSurviveARestartAndJournalsStayUntouched()
    {
        writeRoster({}, {"taro,太郎", "hanako,花子"});
        const QString journal = journalPath(journals(), QDate(2026, 10, 5));
        writeJournal(journal, {mark("09:00:00", "taro")});
        writeJournal(journalPath(journals(), QDate(2026, 10, 12)), {mark("09:00:00", "taro")});
        const QByteArray journalBytes = readBytes(journal);
        {
            FakeDesktop desktop;
            AttendanceLedger ledger(desktop.dialogs, desktop.messages, desktop.clipboard);
            QVERIFY(ledger.open(m_roster));
            ledger.correct(QDate(2026, 10, 5), {"hanako"}, SessionStatus::Excused, "忌引, 届あり");
            ledger.correct(QDate(2026, 10, 5), {"taro"}, SessionStatus::Absent, {});
            ledger.correct(QDate(2026, 10, 5), {"taro"}, std::nullopt, {}); // taken back
            ledger.addSession(QDate(2026, 11, 2));
            ledger.dropSession(QDate(2026, 10, 12));
            ledger.correct(QDate(2026, 11, 2), {"hanako"}, SessionStatus::Present, {});
            QVERIFY(desktop.messages.shown.isEmpty());
        }
        FakeDesktop desktop;
        AttendanceLedger again(desktop.dialogs, desktop.messages, desktop.clipboard);
        QVERIFY(again.open(m_roster));
        QCOMPARE(again.ledger().sessions, (QList<QDate>{QDate(2026, 10, 5), QDate(2026, 11, 2)}));
        QCOMPARE(statusLines(again.ledger()), QStringLiteral("taro:出欠 hanako:公出"));
        QCOMPARE(again.ledger().rows[1].totals.rate, QStringLiteral("100.0"));
        QCOMPARE(again.corrections().cell(QDate(2026, 10, 5), "hanako")->reason,
                 QStringLiteral("忌引, 届あり"));
        QVERIFY(again.ledger().rows[1].cells[0].corrected);
        QVERIFY(again.problems().isEmpty());
        QCOMPARE(readBytes(journal), journalBytes);
        const QString kept = LedgerCorrections::pathFor(LectureName);
        QCOMPARE(QFileInfo(kept).absolutePath(), LectureJournal::folder());
        QCOMPARE(QFileInfo(kept).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
        QVERIFY(!QFileInfo::exists(kept + ".new"));
        QVERIFY(readBytes(kept).startsWith(
            cp932::encode("講義," + LectureName + "\r\n追加,2026-11-02\r\n")));
    }

    void aCorrectionThatCannotBeKeptIsNotShown()
    {
        writeRoster({}, {"taro,太郎"});
        writeJournal(journalPath(journals(), QDate(2026, 10, 5)), {mark("09:00:00", "taro")});
        FakeDesktop desktop;
        AttendanceLedger ledger(desktop.dialogs, desktop.messages, desktop.clipboard);
        QVERIFY(ledger.open(m_roster));
        {
            FileSizeLimit full(8);
            ledger.correct(QDate(2026, 10, 5), {"taro"}, SessionStatus::Absent, "x");
        }
        QCOMPARE(desktop.messages.shown.size(), 1);
        QVERIFY(desktop.messages.shown[0].startsWith(QStringLiteral("出席簿の訂正を")));
        QCOMPARE(statusLines(ledger.ledger()), QStringLiteral("taro:出"));
        QVERIFY(!QFileInfo::exists(LedgerCorrections::pathFor(LectureName)));
    }

    void aCorrectionsFileThatCannotBeReadIsNeverWrittenOver()
    {
        writeRoster({}, {"taro,太郎"});
        writeJournal(journalPath(journals(), QDate(2026, 10, 5)), {mark("09:00:00", "taro")});
        const QString kept = LedgerCorrections::pathFor(LectureName);
        const QByteArray foreign = cp932Lines({"講義,別の講義", "訂正,2026-10-05,公,taro,"});
        writeBytes(kept, foreign);
        FakeDesktop desktop;
        AttendanceLedger ledger(desktop.dialogs, desktop.messages, desktop.clipboard);
        QVERIFY(ledger.open(m_roster));
        QCOMPARE(
            ledger.problems(),
            QStringList{"出席簿の訂正を読めません: 講義「情報処理演習Ⅰ」の訂正ではありません"});
        QCOMPARE(statusLines(ledger.ledger()), QStringLiteral("taro:出"));
        ledger.correct(QDate(2026, 10, 5), {"taro"}, SessionStatus::Absent, {});
        QCOMPARE(desktop.messages.shown.size(), 1);
        QCOMPARE(statusLines(ledger.ledger()), QStringLiteral("taro:出"));
        QCOMPARE(readBytes(kept), foreign);
    }

    void csvIsCodePage932WithQuotingAndStrangersLast()
    {
        writeRoster({"kaisi=09:00", "tikokukansan=3"},
                    {"taro,山田, \"太郎\"", "hanako,花子", "taro,太郎 (二重)"});
        writeJournal(journalPath(journals(), QDate(2026, 10, 5)),
                     {mark("09:15:00", "taro"), mark("09:00:00", "zz"), mark("09:00:00", "aa")});
        const Ledger ledger = ledgerOf();
        FakeDesktop desktop;
        AttendanceLedger commands(desktop.dialogs, desktop.messages, desktop.clipboard);
        QVERIFY(commands.open(m_roster));
        const QString csv = m_dir->filePath("ledger.csv");
        desktop.dialogs.nextAnswers << csv;
        commands.saveCsv();
        QCOMPARE(desktop.dialogs.proposedNames, QStringList{LectureName + "_出席簿.csv"});
        const QByteArray expected = cp932Lines(
            {"ユーザID,ユーザ名,2026/10/05,出席,遅刻,欠席,公欠,出席率,受験資格,あと欠席可",
             "taro,\"山田, \"\"太郎\"\"\",遅,0,1,0,0,66.7,可,4", "hanako,花子,欠,0,0,1,0,0.0,可,4",
             "taro,太郎 (二重),遅,0,1,0,0,66.7,可,4", "aa,(名簿外),出,1,0,0,0,100.0,可,5",
             "zz,(名簿外),出,1,0,0,0,100.0,可,5"});
        QCOMPARE(readBytes(csv), expected);
        QCOMPARE(cp932::encode(ledgerCsv(ledger)), expected);
        {
            // A full disk: a message, and the earlier file stays whole.
            FileSizeLimit full(16);
            desktop.dialogs.nextAnswers << csv;
            commands.saveCsv();
        }
        QCOMPARE(desktop.messages.shown.size(), 1);
        QVERIFY(desktop.messages.shown[0].contains(QStringLiteral("に保存できませんでした")));
        QCOMPARE(readBytes(csv), expected);
        commands.setClipboardDelimiter("\t");
        commands.copy();
        QVERIFY(desktop.clipboard.text.startsWith("ユーザID\tユーザ名\t2026/10/05\t出席"));
        QVERIFY(desktop.clipboard.text.contains("\r\ntaro\t\"山田, \"\"太郎\"\"\"\t遅\t0\t1\t"));
        QCOMPARE(ledger.notEligible(), 0);
        QCOMPARE(ledger.averageRate(), QStringLiteral("44.5"));
    }

    // IDs and names that a spreadsheet would take for formulas stay text in
    // the file and on the clipboard; the marks and numbers stay as they are.
    void formulaLikeCellsAreWrittenAsText()
    {
        writeRoster({"kaisi=09:00"}, {"=1+2,@SUM(A1)", "hanako,-花子"});
        writeJournal(journalPath(journals(), QDate(2026, 10, 5)),
                     {mark("09:00:00", "=1+2"), mark("09:00:00", "+cmd|' /C calc'!A0")});
        const QStringList csv = ledgerCsv(ledgerOf()).split("\r\n");
        QCOMPARE(csv.value(1).section(u',', 0, 2), QStringLiteral("'=1+2,'@SUM(A1),出"));
        QCOMPARE(csv.value(2).section(u',', 0, 2), QStringLiteral("hanako,'-花子,欠"));
        QCOMPARE(csv.value(3).section(u',', 0, 1), QStringLiteral("'+cmd|' /C calc'!A0,(名簿外)"));
        QCOMPARE(ledgerText(ledgerOf(), u'\t').split("\r\n").value(1).section(u'\t', 0, 1),
                 QStringLiteral("'=1+2\t'@SUM(A1)"));
    }

    void headlessCommandWritesTheLedgerOrRefuses()
    {
        // The term named: the program runs on today's date, whatever it is.
        writeRoster({"kaisi=09:00", "sikaku=abc", "kikan=2026-10-01..2027-03-31"}, {"taro,太郎"});
        writeJournal(journalPath(journals(), QDate(2026, 10, 5)), {mark("09:00:00", "taro")});
        const QString room2 = m_dir->filePath("room2");
        writeJournal(journalPath(room2, QDate(2026, 10, 12)), {mark("09:11:00", "taro")});
        const auto run = [&](const QStringList &args, QByteArray *out = nullptr,
                             QString *err = nullptr) {
            QProcess program;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("DISPLAY");
            env.remove("QT_QPA_PLATFORM");
            env.remove("WAYLAND_DISPLAY");
            program.setProcessEnvironment(env);
            program.start(TAVRELLE_PROGRAM, args);
            program.waitForFinished(30000);
            if (out)
                *out = program.readAllStandardOutput();
            if (err)
                *err = QString::fromLocal8Bit(program.readAllStandardError());
            return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
        };
        QByteArray out;
        QString err;
        QCOMPARE(run({"--ledger", m_roster, "--journals", room2}, &out, &err), 0);
        QCOMPARE(out, cp932Lines({"ユーザID,ユーザ名,2026/10/05,2026/10/12,出席,遅刻,欠席,公欠,"
                                  "出席率,受験資格,あと欠席可",
                                  "taro,太郎,出,遅,1,1,0,0,100.0,可,5"}));
        QVERIFY2(err.contains("sikaku の値「abc」"), qPrintable(err));
        const QString file = m_dir->filePath("out.csv");
        QCOMPARE(run({"--ledger", m_roster, "--from", "2026-10-06", "--out", file}), 0);
        QCOMPARE(cp932::decode(readBytes(file)).section("\r\n", 1, 1),
                 QStringLiteral("taro,太郎,0,0,0,0,-,可,5"));
        // A file that cannot be written is told once, with its own exit status.
        const QString nowhere = m_dir->filePath("missing/out.csv");
        QCOMPARE(run({"--ledger", m_roster, "--out", nowhere}, &out, &err), 1);
        QVERIFY2(err.count(QStringLiteral("tavrelle: %1 に書き込めません: ").arg(nowhere)) == 1,
                 qPrintable(err));
        QVERIFY(out.isEmpty());

        const QList<QStringList> refused = {
            {"--ledger", m_dir->filePath("none.cfg")},
            {"--ledger", m_roster, "--from", "2026/10/01"},
            {"--ledger", m_roster, "--journals", m_dir->filePath("x")},
            {"--ledger", m_roster, "--bogus"},
            {"--ledger"},
            {"--ledger", m_roster, "--from", "2026-12-01", "--to", "2026-11-01"}};
        for (const QStringList &args : refused) {
            QVERIFY2(run(args, &out, &err) == 2, qPrintable(args.join(u' ')));
            QVERIFY2(err.startsWith("tavrelle: ") && err.contains("--help"), qPrintable(err));
            QVERIFY(out.isEmpty());
        }
        QCOMPARE(run({"--help"}, &out), 0);
        for (const char *option :
             {"--ledger", "--from", "--to", "--journals", "--out", "--submissions"})
            QVERIFY2(out.contains(option), option);
        // The submissions list's own help, not the ledger's.
        QCOMPARE(run({"--submissions", "--help"}, &out), 0);
        QVERIFY2(out.contains("--folder") && !out.contains("--from"), out.constData());
    }
};

QTEST_GUILESS_MAIN(TestLedger)
#include "tst_ledger.moc"
