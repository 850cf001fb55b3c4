// What the lecturer's program knows about an assignment folder without any
// network: the deadline from the roster and the window, remembered per
// folder, and the submissions at a glance from the receipts.
#include "common/clock.h"
#include "common/csvtext.h"
#include "common/readvar.h"
#include "server/app/submissionscommand.h"
#include "server/folders/uploadfile.h"
#include "server/folders/versionhistory.h"
#include "server/folders/versionnames.h"
#include "server/lecture/assignmentdeadline.h"
#include "server/lecture/deadlinekeeper.h"
#include "server/lecture/lecture.h"
#include "server/lecture/studentdeadline.h"
#include "server/lecture/uploadgate.h"
#include "server/term/submissionsindex.h"
#include "support/files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QDate Day(2026, 12, 9);

QDateTime at(int hour, int minute, int second = 0)
{
    return QDateTime(Day, QTime(hour, minute, second));
}

QByteArray sha(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

class TestAssignments : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_kadai;

    // A stored submission and its receipt as the journal line gives it back.
    Receipt store(const QString &id, const QByteArray &bytes, const QDateTime &when)
    {
        const QString name = id + ".doc";
        const QString path = m_kadai + "/" + name;
        writeBytes(path, bytes);
        QFile file(path);
        file.open(QIODevice::ReadWrite);
        file.setFileTime(when, QFileDevice::FileModificationTime);
        return {id, name, bytes.size(), sha(bytes), when, 0, m_kadai, {}};
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_kadai = m_dir->filePath("kadai");
        QDir().mkpath(m_kadai);
    }

    void deadlineTimesAndLateness()
    {
        QCOMPARE(parseDeadlineTime("10:30", Day), at(10, 30));
        QCOMPARE(parseDeadlineTime("2026-12-10 09:05", Day),
                 QDateTime(Day.addDays(1), QTime(9, 5)));
        QCOMPARE(parseDeadlineTime("", Day), QDateTime());
        for (const char *bad :
             {"25:00", "10:3", "2026-13-01 10:00", "10時30分", "2026/12/09 10:30"})
            QVERIFY2(!parseDeadlineTime(bad, Day), bad);
        const AssignmentDeadline deadline{at(10, 30), at(10, 45)};
        QCOMPARE(deadline.lateSeconds(at(10, 30)), 0);
        QCOMPARE(deadline.lateSeconds(at(10, 30, 1)), 1);
        QCOMPARE(deadline.lateSeconds(at(10, 29)), 0);
        QVERIFY(!deadline.closed(at(10, 45)));
        QVERIFY(deadline.closed(at(10, 45, 1)));
        QCOMPARE(AssignmentDeadline().lateSeconds(at(23, 0)), 0);
        QCOMPARE(lateText(45), QStringLiteral("締切後 45秒"));
        QCOMPARE(lateText(12 * 60 + 59), QStringLiteral("締切後 12分"));
        QCOMPARE(lateText(2 * 3600 + 5 * 60), QStringLiteral("締切後 2時間5分"));
        QCOMPARE(lateText(3 * 86400 + 4 * 3600), QStringLiteral("締切後 3日4時間"));
        // The countdown shows in the last 10 minutes only.
        QCOMPARE(deadline.countdown(at(10, 19, 59)), QString());
        QCOMPARE(deadline.countdown(at(10, 20)), QStringLiteral("締切まで 10分00秒"));
        QCOMPARE(deadline.countdown(at(10, 29, 55)), QStringLiteral("締切まで 0分05秒"));
        QCOMPARE(deadline.countdown(at(10, 30, 1)), QString());
        QCOMPARE(deadline.summary(), QStringLiteral("締切 12/09 10:30\n受付 12/09 10:45"));
    }

    void badRosterValuesAreSaidAndLeftOut()
    {
        // A cut-off before the due time would shut students out early.
        DeadlineReading reading = readDeadline("10:30", "10:15", at(9, 0));
        QCOMPARE(reading.deadline, (AssignmentDeadline{at(10, 30), {}}));
        QCOMPARE(reading.warnings.size(), 1);
        QVERIFY(reading.warnings[0].contains("受付締切は使いません"));
        // Already past at start: kept, and said.
        reading = readDeadline("08:30", "", at(9, 0));
        QCOMPARE(reading.deadline.due, at(8, 30));
        QVERIFY(reading.warnings.value(0).contains("既に過ぎています"));
        reading = readDeadline("いつか", "10:45", at(9, 0));
        QCOMPARE(reading.deadline, (AssignmentDeadline{{}, at(10, 45)}));
        QVERIFY(reading.warnings.value(0).startsWith("simekiri=いつか は日時として読めない"));
    }

    void deadlineIsRememberedPerFolder()
    {
        Clock::setSource([] { return at(9, 0); });
        const auto resetClock = qScopeGuard([] { Clock::setSource({}); });
        const QString store = m_dir->filePath("data/deadlines.txt");
        const QString week1 = m_dir->filePath("第1回,kadai"), week2 = m_dir->filePath("week2");
        Lecture lecture;
        auto keeper = std::make_unique<DeadlineKeeper>(lecture, store);
        const auto loadRoster = [&](const QString &folder, const QString &simekiri) {
            lecture.setKadaidir(folder);
            lecture.setRosterDeadline(simekiri, QString());
        };
        loadRoster(week1, "10:30");
        QCOMPARE(lecture.deadline().due, at(10, 30));
        // Changed in the window: in force at once and remembered.
        keeper->change({at(10, 40), at(11, 0)});
        QCOMPARE(lecture.deadline(), (AssignmentDeadline{at(10, 40), at(11, 0)}));
        lecture.setKadaidir(week2);
        keeper->change({});
        QCOMPARE(lecture.deadline(), AssignmentDeadline());
        // Choosing the folder again, in this run or the next, brings it back.
        keeper = std::make_unique<DeadlineKeeper>(lecture, store);
        lecture.setKadaidir(week1);
        QCOMPARE(lecture.deadline(), (AssignmentDeadline{at(10, 40), at(11, 0)}));
        // The same roster again keeps the lecturer's change; an edited one wins.
        QSignalSpy log(keeper.get(), &DeadlineKeeper::logEntry);
        loadRoster(week1, "10:30");
        QCOMPARE(lecture.deadline().due, at(10, 40));
        loadRoster(week1, "10:50");
        QCOMPARE(lecture.deadline(), (AssignmentDeadline{at(10, 50), {}}));
        QCOMPARE(log.last().at(0).toString(),
                 QStringLiteral("受講ﾌｧｲﾙの締切を使います: 締切 2026-12-09 10:50"));
        // Cleared in the window: remembered as cleared.
        keeper->change({});
        lecture.setKadaidir(week2);
        lecture.setKadaidir(week1);
        QCOMPARE(lecture.deadline(), AssignmentDeadline());
        // Both folders named for the reader, commas and all.
        const QString stored = cp932::decode(readBytes(store));
        QVERIFY(stored.contains("," + week1 + "\r\n") && stored.contains("," + week2 + "\r\n"));
    }

    // One student's own deadline: with its cut-off, without one (the due
    // time closes too), for an ID the roster does not hold, and lines that
    // cannot be used, each named by its line.
    void studentDeadlinesReplaceTheAssignmentsForTheirStudent()
    {
        const SettingsText roster(u"simekiri=10:30\r\n"
                                  "enchou=taro,2026-12-11 10:30,2026-12-12 09:00\r\n"
                                  "enchou=hanako,2026-12-10 17:00\r\n"
                                  "enchou=ghost,2026-12-11 10:30\r\n"
                                  "enchou=jiro,12-11 10:30\r\n"
                                  "enchou=jiro,2026-12-11 10:30,2026-12-11 10:00\r\n"
                                  "enchou=taro,2026-12-20 10:30\r\n"
                                  "enchou=,2026-12-11 10:30\r\n");
        const StudentDeadlineReading reading =
            readStudentDeadlines(roster.lines("enchou"), {"taro", "hanako", "jiro", "ken"});
        QCOMPARE(reading.deadlines.size(), 2);
        const QDateTime taroDue(Day.addDays(2), QTime(10, 30));
        const QDateTime taroCutoff(Day.addDays(3), QTime(9, 0));
        const QDateTime hanakoDue(Day.addDays(1), QTime(17, 0));
        QCOMPARE(reading.deadlines[0].deadline, (AssignmentDeadline{taroDue, taroCutoff}));
        QCOMPARE(reading.deadlines[1].deadline, (AssignmentDeadline{hanakoDue, hanakoDue}));
        QVERIFY(reading.deadlines[0].fromRoster);
        QCOMPARE(reading.warnings,
                 (QStringList{"受講ﾌｧｲﾙ 4行目 enchou=ghost,2026-12-11 10:30 の ghost "
                              "は名簿にないため使いません｡",
                              "受講ﾌｧｲﾙ 5行目 enchou=jiro,12-11 10:30 は読めないため使いません｡"
                              "(enchou=ID,YYYY-MM-DD HH:MM[,YYYY-MM-DD HH:MM])",
                              "受講ﾌｧｲﾙ 6行目 enchou=jiro,2026-12-11 10:30,2026-12-11 10:00 "
                              "は受付締切が締切より前のため使いません｡",
                              "受講ﾌｧｲﾙ 7行目 enchou=taro,2026-12-20 10:30 の taro は 2行目に"
                              "もあるため使いません｡",
                              "受講ﾌｧｲﾙ 8行目 enchou=,2026-12-11 10:30 は読めないため使いません｡"
                              "(enchou=ID,YYYY-MM-DD HH:MM[,YYYY-MM-DD HH:MM])"}));

        Lecture lecture;
        lecture.setDeadline({at(10, 30), at(10, 45)});
        lecture.setStudentDeadlines(reading.deadlines);
        struct Case
        {
            const char *id;
            QDateTime moment;
            qint64 late;
            bool closed;
        };
        const Case cases[] = {
            {"ken", at(10, 40), 600, false},
            {"ken", at(10, 46), 960, true},
            {"taro", at(10, 46), 0, false},
            {"taro", taroDue.addSecs(65), 65, false},
            {"taro", taroCutoff.addSecs(1), taroDue.secsTo(taroCutoff) + 1, true},
            {"hanako", hanakoDue, 0, false},
            {"hanako", hanakoDue.addSecs(1), 1, true},
            {"ghost", at(10, 46), 960, true},
        };
        for (const Case &c : cases) {
            const AssignmentDeadline own = lecture.deadlineOf(c.id);
            QCOMPARE(own.lateSeconds(c.moment), c.late);
            QCOMPARE(own.closed(c.moment), c.closed);
        }
        QCOMPARE(lecture.studentDeadlines().value("taro").text(),
                 QStringLiteral("締切 2026-12-11 10:30、受付締切 2026-12-12 09:00"));
    }

    // Extensions given in the window stand beside the roster's, replace
    // them for their ID, and are remembered per folder like the rest.
    void studentDeadlinesSetInTheWindowAreRememberedPerFolder()
    {
        Clock::setSource([] { return at(9, 0); });
        const auto resetClock = qScopeGuard([] { Clock::setSource({}); });
        const QString store = m_dir->filePath("data/deadlines.txt");
        Lecture lecture;
        auto keeper = std::make_unique<DeadlineKeeper>(lecture, store);
        const StudentDeadline fromRoster{"taro", {at(12, 0), at(12, 0)}, {}, true, {}};
        const auto loadRoster = [&] {
            lecture.setKadaidir(m_kadai);
            lecture.setRosterDeadline("10:30", QString());
            lecture.setRosterStudentDeadlines({fromRoster});
        };
        loadRoster();
        QCOMPARE(lecture.deadlineOf("taro"), fromRoster.deadline);
        QCOMPARE(lecture.deadlineOf("hanako").due, at(10, 30));
        const StudentDeadline hanako{"hanako", {at(15, 0), {}}, "診断書,\r\n2日", false, {}};
        const StudentDeadline taro{"taro", {at(13, 0), at(14, 0)}, {}, false, {}};
        QSignalSpy log(keeper.get(), &DeadlineKeeper::logEntry);
        keeper->change({at(10, 30), {}}, {hanako, taro, fromRoster});
        QCOMPARE(lecture.deadlineOf("hanako"), (AssignmentDeadline{at(15, 0), at(15, 0)}));
        QCOMPARE(lecture.deadlineOf("taro"), taro.deadline);
        QCOMPARE(lecture.studentDeadlines().value("hanako").reason, QStringLiteral("診断書,  2日"));
        QVERIFY(log.count() >= 3);
        // Another folder has none; the first brings them back, also after a
        // restart, and the roster's for an ID not set in the window.
        lecture.setKadaidir(m_dir->filePath("other"));
        QVERIFY(lecture.studentDeadlines().isEmpty());
        keeper = std::make_unique<DeadlineKeeper>(lecture, store);
        loadRoster();
        QCOMPARE(lecture.deadlineOf("taro"), taro.deadline);
        QCOMPARE(lecture.deadlineOf("hanako").cutoff, at(15, 0));
        keeper->change({at(10, 30), {}}, {hanako});
        QCOMPARE(lecture.deadlineOf("taro"), fromRoster.deadline);
        // The general deadline changed alone keeps the window's students.
        keeper->change({at(10, 40), {}});
        QCOMPARE(lecture.deadlineOf("hanako").cutoff, at(15, 0));
        QCOMPARE(lecture.deadlineOf("ken").due, at(10, 40));
    }

    // A deadline set in the window holds for its day, also after a restart;
    // on a later day one whose times have all passed is dropped, and said,
    // while one still to come is kept.
    void rememberedDeadlinesBelongToTheirDay()
    {
        QDateTime now = at(9, 0);
        Clock::setSource([&now] { return now; });
        const auto resetClock = qScopeGuard([] { Clock::setSource({}); });
        const QString store = m_dir->filePath("data/deadlines.txt");
        const QString later = m_dir->filePath("later");
        Lecture lecture;
        auto keeper = std::make_unique<DeadlineKeeper>(lecture, store);
        const auto openLecture = [&](const QString &folder) {
            keeper = std::make_unique<DeadlineKeeper>(lecture, store);
            lecture.setKadaidir(QString());
            lecture.setKadaidir(folder);
            lecture.setRosterDeadline(QString(), QString());
            lecture.setRosterStudentDeadlines({});
        };
        openLecture(m_kadai);
        const StudentDeadline hanako{"hanako", {at(17, 0), at(17, 0)}, {}, false, {}};
        const StudentDeadline taro{"taro", {at(9, 0).addDays(3), {}}, {}, false, {}};
        keeper->change({at(10, 30), at(10, 45)}, {hanako, taro});
        openLecture(later);
        keeper->change({at(10, 30).addDays(10), {}});
        // Restarted the same afternoon: all of it still holds.
        now = at(16, 0);
        openLecture(m_kadai);
        QCOMPARE(lecture.deadline(), (AssignmentDeadline{at(10, 30), at(10, 45)}));
        QCOMPARE(lecture.deadlineOf("hanako").due, at(17, 0));
        // Next week: what has passed is dropped and said, once.
        now = at(9, 0).addDays(7);
        keeper = std::make_unique<DeadlineKeeper>(lecture, store);
        QSignalSpy restarted(keeper.get(), &DeadlineKeeper::logEntry);
        lecture.setKadaidir(QString());
        lecture.setKadaidir(m_kadai);
        lecture.setRosterDeadline(QString(), QString());
        lecture.setRosterStudentDeadlines({});
        QVERIFY(lecture.deadline().isEmpty());
        QVERIFY(lecture.studentDeadlines().isEmpty());
        QStringList said;
        for (const QList<QVariant> &entry : restarted)
            said << entry.at(0).toString();
        QVERIFY2(said.contains("2026-12-09 に設定した締切 (締切 2026-12-09 10:30、受付締切 "
                               "2026-12-09 10:45) は過ぎているため使いません｡"),
                 qPrintable(said.join('\n')));
        QVERIFY(said.contains("2026-12-09 に設定した hanako の個別の締切 (締切 2026-12-09 "
                              "17:00、受付締切 2026-12-09 17:00) は過ぎているため使いません｡"));
        QCOMPARE(said.filter("過ぎているため使いません").size(), 3);
        // One still to come holds on a later day.
        openLecture(later);
        QCOMPARE(lecture.deadline().due, at(10, 30).addDays(10));
        // A line of an older build, day unknown, is judged by its times.
        writeBytes(store,
                   cp932Lines({DeadlineStore::keyOf(m_kadai) + ",2026-12-09 10:30,,,," + m_kadai}));
        openLecture(m_kadai);
        QVERIFY(lecture.deadline().isEmpty());
        QVERIFY(!cp932::decode(readBytes(store)).contains(DeadlineStore::keyOf(m_kadai)));
    }

    void acceptedTypesAndSizeAreReadAsWritten()
    {
        AcceptedFilesReading reading = readAcceptedFiles("C .H  txt\t.TXT tar.gz a/b", "10M");
        QCOMPARE(reading.accepted.suffixes, (QStringList{".c", ".h", ".txt", ".tar.gz"}));
        QCOMPARE(reading.accepted.maxBytes, qint64(10) << 20);
        QCOMPARE(reading.warnings,
                 QStringList{"kakutyousi の a/b は拡張子として読めないため使いません｡"});
        const AcceptedFiles &accepted = reading.accepted;
        QVERIFY(!acceptanceRefusal(accepted, "taro.C", 10 << 20));
        QVERIFY(!acceptanceRefusal(accepted, "taro.x.tar.gz", 0));
        for (const char *name : {"taro.exe", "taro", "taro.cc", "taro.c.exe", ".c"})
            QCOMPARE(acceptanceRefusal(accepted, name, 1)->forStudent,
                     QStringLiteral("受け付ける形式は .c .h .txt .tar.gz です｡"));
        QCOMPARE(acceptanceRefusal(accepted, "taro.c", (10 << 20) + 1)->forStudent,
                 QStringLiteral("10 MB までです｡"));
        QCOMPARE(readAcceptedFiles({}, "500k").accepted.maxText, QStringLiteral("500 KB"));
        QCOMPARE(readAcceptedFiles({}, "2G").accepted.maxBytes, qint64(2) << 30);
        QCOMPARE(readAcceptedFiles({}, "1000").accepted.maxText, QStringLiteral("1000 バイト"));
        for (const char *bad : {"10MB", "0", "-1", "ten", "99999999999"}) {
            reading = readAcceptedFiles({}, bad);
            QCOMPARE(reading.accepted, AcceptedFiles());
            QVERIFY2(reading.warnings.value(0).startsWith(QStringLiteral("saidai=") + bad), bad);
        }
        // Nothing set: anything goes.
        QVERIFY(!acceptanceRefusal({}, "taro.exe", qint64(1) << 40));
    }

    void receiptsAreReadWhateverTheNamesHold()
    {
        const QByteArray hash(64, 'a');
        const QByteArray journal =
            cp932Lines({"講義,演習", "出席,10:00:00,1,taro,127.0.0.1",
                        "提出,10:31:05,taro,taro,v2.doc,12," + QString::fromLatin1(hash) +
                            ",2026/12/10,締切後65秒,3,/srv/kadai,第3回",
                        "提出,09:00:00,hanako,hanako.doc,7," + QString::fromLatin1(hash),
                        "提出,09:00:00,jiro,jiro.doc,7,nothash", "提出,09:00"});
        const QList<Receipt> receipts = readReceipts(journal, Day);
        QCOMPARE(receipts.size(), 2);
        QCOMPARE(receipts[0].fileName, QStringLiteral("taro,v2.doc"));
        QCOMPARE(receipts[0].size, 12);
        QCOMPARE(receipts[0].completedAt, QDateTime(Day.addDays(1), QTime(10, 31, 5)));
        QCOMPARE(receipts[0].lateSeconds, 65);
        QCOMPARE(receipts[0].folder, QStringLiteral("/srv/kadai,第3回"));
        // An older journal: the day from its name, no folder.
        QCOMPARE(receipts[1].completedAt, at(9, 0));
        QCOMPARE(receipts[1].folder, QString());
    }

    void submissionsAtAGlance()
    {
        const QByteArray report = "the same report";
        QList<Receipt> receipts{store("taro", "taro's first try", at(10, 0)),
                                store("taro", report, at(10, 20)),
                                store("hanako", report, at(10, 25)),
                                store("jiro", report, at(10, 26)),
                                store("ken", "", at(10, 27)),
                                store("mai", "", at(10, 28)),
                                store("sora", "a handout", at(10, 29)),
                                store("yui", "a handout", at(10, 29)),
                                store("guest", report, at(10, 40))};
        receipts[1].lateSeconds = 0;
        receipts[8].lateSeconds = 600;
        // Another folder's receipt for the same student does not count here.
        Receipt elsewhere = receipts[2];
        elsewhere.folder = m_dir->filePath("other");
        elsewhere.completedAt = at(11, 0);
        receipts << elsewhere;
        QDir().mkpath(m_kadai + "/.tavrelle-versions/taro.doc");
        writeBytes(m_kadai + "/.tavrelle-versions/taro.doc/20261209_100000_00000000.doc", "x");
        // jiro's file was edited after it was handed in.
        writeBytes(m_kadai + "/jiro.doc", "edited by hand");
        SubmissionsIndex index(m_kadai, {{"taro", "太郎", "締切 2026-12-11 10:30 (診断書)"},
                                         {"hanako", "花子"},
                                         {"jiro", "次郎"},
                                         {"ken", "健"},
                                         {"mai", "舞"},
                                         {"sora", "空"},
                                         {"yui", "結衣"},
                                         {"absent", "欠"}});
        index.addReceipts(receipts);
        index.setExcludedHashes({sha("a handout")});
        HashCache cache;
        QList<SubmissionRow> rows = index.build(cache);
        QCOMPARE(cache.hashed(), 1); // only the edited file was read
        QStringList ids, identical, checks;
        for (const SubmissionRow &row : rows) {
            ids << row.userId;
            identical << row.identical.join(u' ');
            checks << SubmissionRow::checkText(row.check);
        }
        QCOMPARE(ids, (QStringList{"taro", "hanako", "jiro", "ken", "mai", "sora", "yui", "absent",
                                   "guest"}));
        // Empty files and handouts form no group; an edited file is judged
        // by what it holds now.
        QCOMPARE(identical, (QStringList{"hanako guest", "taro guest", "", "", "", "", "", "",
                                         "taro hanako"}));
        QCOMPARE(checks, (QStringList{"一致", "一致", "変更あり", "一致", "一致", "一致", "一致",
                                      "", "一致"}));
        QCOMPARE(rows[0].versions, 2);
        QVERIFY(!rows[8].inRoster);
        // A file taken away, and another check, which reads nothing again.
        QFile::remove(m_kadai + "/hanako.doc");
        rows = index.build(cache);
        QCOMPARE(SubmissionRow::checkText(rows[1].check), QStringLiteral("なし"));
        QCOMPARE(rows[0].identical, QStringList{"guest"});
        QCOMPARE(cache.hashed(), 1);

        const QStringList csv = cp932::decode(submissionsCsv(rows)).split("\r\n");
        QCOMPARE(csv[0], QStringLiteral("ユーザID,ユーザ名,ファイル名,提出時刻,サイズ,SHA-256,"
                                        "締切後秒,版数,同一,照合,個別締切"));
        QCOMPARE(csv[1], "taro,太郎,taro.doc,2026/12/09 10:20:00,15," + sha(report) +
                             ",,2,guest,一致,締切 2026-12-11 10:30 (診断書)");
        QCOMPARE(csv[8], QStringLiteral("absent,欠,,,,,,,,,"));
        QCOMPARE(csv[9],
                 "guest,,guest.doc,2026/12/09 10:40:00,15," + sha(report) + ",600,1,taro,一致,");
        QCOMPARE(csv.size(), 11); // ends with a line end
    }

    void csvQuotesWhatNeedsIt()
    {
        SubmissionRow row;
        row.userId = "a,b";
        row.userName = "say \"hi\"";
        QCOMPARE(cp932::decode(submissionsCsv({row})).split("\r\n").value(1),
                 QStringLiteral("\"a,b\",\"say \"\"hi\"\"\",,,,,,,,,"));
    }

    // A cell a spreadsheet would take for a formula gets a leading "'";
    // numbers, times and hashes do not.
    void csvKeepsFormulaLikeCellsAsText()
    {
        SubmissionRow row;
        row.userId = "@taro";
        row.userName = "\t太郎";
        row.receipt.fileName = "=1+2+cmd.txt";
        row.receipt.size = 3;
        row.receipt.completedAt = at(10, 0);
        row.receipt.sha256 = QByteArray(64, 'a');
        row.check = SubmissionRow::Match;
        row.versions = 1;
        row.identical = QStringList{"-x"};
        QCOMPARE(cp932::decode(submissionsCsv({row})).split("\r\n").value(1),
                 "'@taro,'\t太郎,'=1+2+cmd.txt,2026/12/09 10:00:00,3," + QString(64, u'a') +
                     ",,1,'-x,一致,");
        QCOMPARE(exportedSubmissionCells(row).mid(0, 3),
                 (QStringList{"'@taro", "'\t太郎", "'=1+2+cmd.txt"}));
        // The window shows the cells as they are.
        QCOMPARE(submissionCells(row).value(2), QStringLiteral("=1+2+cmd.txt"));
        for (const char *plain : {"taro", "", "a=b", "'x"})
            QCOMPARE(textCell(plain), QString(plain));
        for (const char *formula : {"=x", "+x", "-x", "@x", "\tx", "\rx"})
            QCOMPARE(textCell(formula), "'" + QString(formula));
    }

    // A receipt is credited to the ID it bears, never to the start of its
    // file name: one without an ID belongs to nobody.
    void receiptsWithoutAnIdAreNobodys()
    {
        QList<Receipt> receipts{store("taro", "taro's own", at(10, 0)),
                                store("taro", "junk from anyone", at(10, 5))};
        receipts[1].userId.clear();
        SubmissionsIndex index(m_kadai, {{"taro", "太郎"}});
        index.addReceipts(receipts);
        HashCache cache;
        const QList<SubmissionRow> rows = index.build(cache);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].receipt.sha256, sha("taro's own"));
        // The file holds other bytes now: the row says so.
        QCOMPARE(SubmissionRow::checkText(rows[0].check), QStringLiteral("変更あり"));
    }

    // 返却 lines mark the students who got work back, in this lecture only.
    void returnsAreShownForTheirLecture()
    {
        const QString hash = QString(64, u'a');
        const QList<Receipt> ours = readReceipts(
            cp932Lines({"講義,演習", "返却,10:00:00,taro,taro_講評.txt," + hash,
                        "返却,10:00:01,guest,guest.txt," + hash, "返却,10:00:02,jiro"}),
            Day);
        QCOMPARE(ours.size(), 2);
        QVERIFY(ours[0].returned);
        QCOMPARE(ours[0].lecture, QStringLiteral("演習"));
        QCOMPARE(ours[0].fileName, QStringLiteral("taro_講評.txt"));
        const QList<Receipt> others = readReceipts(
            cp932Lines({"講義,別の講義", "返却,10:00:00,hanako,hanako.txt," + hash}), Day);
        SubmissionsIndex index(m_kadai, {{"taro", "太郎"}, {"hanako", "花子"}, {"jiro", "次郎"}});
        index.setLecture(QStringLiteral("演習"));
        index.addReceipts(ours);
        index.addReceipts(others);
        HashCache cache;
        const QList<SubmissionRow> rows = index.build(cache);
        // Returns are no submissions: no row of their own, no receipt.
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].returned, true);
        QCOMPARE(rows[0].check, SubmissionRow::NoReceipt);
        QCOMPARE(rows[1].returned, false);
        QCOMPARE(rows[2].returned, false);
    }

    // The list a lecturer makes elsewhere: of a copy of the folder (the
    // journals name the folder it came from, which is not on this machine)
    // and of a link to it.
    void copiedAndLinkedFoldersGiveTheSameList()
    {
        const QList<Receipt> receipts{store("taro", "taro's", at(10, 0)),
                                      store("hanako", "hanako's", at(10, 5))};
        const auto checks = [&](const QString &folder) {
            SubmissionsIndex index(folder, {{"taro", "太郎"}, {"hanako", "花子"}});
            index.addReceipts(receipts);
            HashCache cache;
            QStringList cells;
            for (const SubmissionRow &row : index.build(cache))
                cells << row.receipt.fileName + ":" + SubmissionRow::checkText(row.check);
            return cells;
        };
        const QStringList expected{"taro.doc:一致", "hanako.doc:一致"};
        const QString link = m_dir->filePath("link");
        QVERIFY(QFile::link(m_kadai, link));
        QCOMPARE(checks(link), expected);
        QCOMPARE(checks(link + "/"), expected);
        // Another folder of the same name that exists here is another folder.
        const QString copy = m_dir->filePath("copy/kadai");
        QVERIFY(QDir().mkpath(copy));
        QCOMPARE(checks(copy), (QStringList{":", ":"}));
        // A copy: the folder the journals name is gone.
        for (const char *name : {"taro.doc", "hanako.doc"})
            QVERIFY(QFile::copy(m_kadai + "/" + name, copy + "/" + name));
        QVERIFY(QFile::remove(link));
        QVERIFY(QDir(m_kadai).removeRecursively());
        QCOMPARE(checks(copy), expected);
    }

    // After the clock was set back the later upload has the earlier time:
    // the version in the folder is told by its bytes.
    void theCurrentVersionIsTheFileInTheFolder()
    {
        const QList<Receipt> receipts{store("taro", "before", at(10, 20)),
                                      store("taro", "after the clock went back", at(10, 5))};
        SubmissionsIndex index(m_kadai, {{"taro", "太郎"}});
        index.addReceipts(receipts);
        HashCache cache;
        QList<SubmissionRow> rows = index.build(cache);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].receipt.sha256, sha("after the clock went back"));
        QCOMPARE(rows[0].receipt.completedAt, at(10, 5));
        QCOMPARE(SubmissionRow::checkText(rows[0].check), QStringLiteral("一致"));
        // Also when the file's time says nothing: its bytes are read.
        QFile file(m_kadai + "/taro.doc");
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(at(12, 0), QFileDevice::FileModificationTime));
        rows = index.build(cache);
        QCOMPARE(cache.hashed(), 1);
        QCOMPARE(rows[0].receipt.completedAt, at(10, 5));
        QCOMPARE(SubmissionRow::checkText(rows[0].check), QStringLiteral("一致"));
        // Two versions of one size handed in within the same second: the
        // time cannot tell which is in the folder, so the bytes do, in
        // either order of the receipts.
        for (const bool helloLast : {false, true}) {
            const Receipt world = store("jiro", "world", at(11, 0));
            const Receipt hello = store("jiro", "hello", at(11, 0));
            writeBytes(m_kadai + "/jiro.doc", "world");
            QFile again(m_kadai + "/jiro.doc");
            QVERIFY(again.open(QIODevice::ReadWrite));
            QVERIFY(again.setFileTime(at(11, 0), QFileDevice::FileModificationTime));
            SubmissionsIndex same(m_kadai, {{"jiro", "次郎"}});
            same.addReceipts(helloLast ? QList<Receipt>{world, hello}
                                       : QList<Receipt>{hello, world});
            HashCache fresh;
            const QList<SubmissionRow> shown = same.build(fresh);
            QCOMPARE(shown.size(), 1);
            QCOMPARE(shown[0].receipt.sha256, sha("world"));
            QCOMPARE(SubmissionRow::checkText(shown[0].check), QStringLiteral("一致"));
        }
    }

    // Hashes alike in their leading digits are still two versions: the
    // file's own receipt is the one shown.
    void versionsTellHashesApartByAllTheirDigits()
    {
        Receipt current = store("taro", "current", at(10, 5));
        Receipt other = current;
        other.sha256 = current.sha256.left(16) + QByteArray(48, '0');
        other.completedAt = at(10, 20);
        ++other.size;
        SubmissionsIndex index(m_kadai, {{"taro", "太郎"}});
        index.addReceipts({current, other});
        QFile file(m_kadai + "/taro.doc");
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(at(12, 0), QFileDevice::FileModificationTime));
        HashCache cache;
        const QList<SubmissionRow> rows = index.build(cache);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].receipt.completedAt, at(10, 5));
        QCOMPARE(SubmissionRow::checkText(rows[0].check), QStringLiteral("一致"));
    }

    // Every file name a student handed in has its row, and so has every put
    // line refused after the cut-off.
    void everyFileAndEveryRefusalHasItsRow()
    {
        writeBytes(m_kadai + "/s26010.pdf", "source");
        writeBytes(m_kadai + "/s26010.docx", "report");
        const QString folder = m_kadai;
        const QByteArray journal = cp932Lines(
            {"講義,演習",
             "提出,10:00:00,s26010,s26010.pdf,6," + QString::fromLatin1(sha("source")) +
                 ",2026/12/09,,1," + folder,
             "提出,10:01:00,s26010,s26010.docx,6," + QString::fromLatin1(sha("report")) +
                 ",2026/12/09,,1," + folder,
             "拒否,10:50:00,s26011,s26011,v2.doc,受付は締め切られました｡,2026/12/09," + folder,
             "拒否,10:51:00,s26011,s26011.doc,受付は締め切られました｡,2026/12/09,/elsewhere",
             // An older journal's refusal names no folder: the file must be here.
             "拒否,10:52:00,s26010,s26010.pdf,受付は締め切られました｡"});
        const QList<Receipt> read = readReceipts(journal, Day);
        QCOMPARE(read.size(), 5);
        QCOMPARE(read[2].fileName, QStringLiteral("s26011,v2.doc"));
        QCOMPARE(read[2].refusal, QStringLiteral("受付は締め切られました｡"));
        QCOMPARE(read[2].folder, folder);
        QCOMPARE(read[4].refusal, QStringLiteral("受付は締め切られました｡"));
        SubmissionsIndex index(m_kadai, {{"s26010", "一郎"}, {"s26011", "二郎"}});
        index.addReceipts(read);
        HashCache cache;
        const QStringList csv = cp932::decode(submissionsCsv(index.build(cache))).split("\r\n");
        QCOMPARE(
            csv.mid(1),
            (QStringList{
                "s26010,一郎,s26010.pdf,2026/12/09 10:00:00,6," + sha("source") + ",,1,,一致,",
                "s26010,一郎,s26010.docx,2026/12/09 10:01:00,6," + sha("report") + ",,1,,一致,",
                "s26010,一郎,s26010.pdf,2026/12/09 10:52:00,,,,,,拒否,",
                "s26011,二郎,\"s26011,v2.doc\",2026/12/09 10:50:00,,,,,,拒否,", ""}));
    }

    // The command leaves out the roster's handouts and gives the students'
    // own deadlines as the window does.
    void theCommandListsAsTheWindowDoes()
    {
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        const auto restore = qScopeGuard([] { qunsetenv("XDG_DATA_HOME"); });
        const QString haifu = m_dir->filePath("haifu");
        QDir().mkpath(haifu);
        writeBytes(haifu + "/template.doc", "the template");
        const QString journals = m_dir->filePath("journals");
        QDir().mkpath(journals);
        QStringList lines{"講義,演習"};
        for (const Receipt &receipt :
             {store("taro", "the template", at(10, 0)), store("hanako", "the template", at(10, 1)),
              store("jiro", "own work", at(10, 2)), store("ken", "own work", at(10, 3))})
            lines << "提出," + receipt.completedAt.toString("HH:mm:ss") + "," + receipt.userId +
                         "," + receipt.fileName + "," + QString::number(receipt.size) + "," +
                         QString::fromLatin1(receipt.sha256) + ",2026/12/09,,1," + m_kadai;
        writeBytes(journals + "/2026-12-09_演習_0123456789.txt", cp932Lines(lines));
        const QString roster = m_dir->filePath("roster.cfg");
        writeBytes(roster, cp932Lines({"kougimei=演習", "kadaidir=" + m_kadai, "haifudir=" + haifu,
                                       "<start data>", "taro,太郎", "hanako,花子", "jiro,次郎",
                                       "ken,健", "<end data>"}));
        const QString out = m_dir->filePath("list.csv");
        QCOMPARE(submissionsCommand(
                     {"tavrelle", "--submissions", roster, "--journals", journals, "--out", out}),
                 0);
        QStringList identical;
        for (const QString &line : cp932::decode(readBytes(out)).split("\r\n").mid(1, 4))
            identical << line.section(u',', 8, 8);
        QCOMPARE(identical, (QStringList{"", "", "ken", "jiro"}));
        // A student's own deadline set in this machine's window is the
        // list's too, as in the window's 提出一覧.
        const StudentDeadline own{
            "ken", {at(12, 0).addDays(2), at(12, 0).addDays(2)}, "診断書", false, {}};
        QVERIFY(DeadlineStore(DeadlineKeeper::defaultStorePath())
                    .save({{DeadlineStore::keyOf(m_kadai), {std::nullopt, {own}}}}, m_kadai));
        QCOMPARE(submissionsCommand(
                     {"tavrelle", "--submissions", roster, "--journals", journals, "--out", out}),
                 0);
        QCOMPARE(cp932::decode(readBytes(out)).split("\r\n").value(4).section(u',', 10),
                 own.text());
    }

    // Pruning goes by the names' times and sequence numbers: on FAT the
    // earlier files' times tie (two-second steps), set equal here.
    void versionsArePrunedInTheOrderHandedIn()
    {
        // Each version's hash sorts before the one before it, so that an
        // order by hash would keep the wrong ones.
        QList<QByteArray> contents;
        for (int n = 0; contents.size() < 5; ++n) {
            const QByteArray bytes = "version " + QByteArray::number(n);
            if (contents.isEmpty() || sha(bytes) < sha(contents.last()))
                contents << bytes;
        }
        const timespec same[2] = {{1765270800, 0}, {1765270800, 0}};
        for (const QByteArray &bytes : contents) {
            UploadFile upload;
            upload.setKeptVersions(3);
            QVERIFY(upload.open(m_kadai, "taro.doc"));
            QVERIFY(upload.write(bytes));
            QVERIFY(upload.commit());
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(m_kadai + "/taro.doc").constData(),
                                 same, 0),
                     0);
        }
        const QString history = versionnames::historyFolder(m_kadai, "taro.doc");
        QStringList kept;
        for (const QString &name : versionnames::versionsIn(history))
            kept << QString::fromLatin1(readBytes(history + "/" + name));
        QCOMPARE(kept, (QStringList{contents[1], contents[2], contents[3]}));
        QCOMPARE(readBytes(m_kadai + "/taro.doc"), contents[4]);
    }

    // A hash is kept for the submission in the folder, not for every one it
    // replaced: a class handing in all day must not fill the memory.
    void replacedSubmissionsLeaveNoHashBehind()
    {
        const auto hashes = std::make_shared<HashCache>();
        for (const int kept : {3, 0}) {
            for (int n = 0; n < 5; ++n) {
                UploadFile upload;
                upload.setKeptVersions(kept);
                upload.setHashCache(hashes);
                QVERIFY(upload.open(m_kadai, QStringLiteral("taro%1.doc").arg(kept)));
                QVERIFY(upload.write("version " + QByteArray::number(n)));
                QVERIFY(upload.commit());
            }
        }
        QCOMPARE(hashes->kept(), 2);
    }

    // Killed between FAT's two renames: the acknowledged file is in the
    // history only and the new one a finished temporary file. The next use
    // of the folder puts the acknowledged file back before it sweeps.
    void anInterruptedFatReplacementIsPutBack()
    {
        const QString history = versionnames::historyFolder(m_kadai, "taro.doc");
        QDir().mkpath(history);
        writeBytes(history + "/20261209_095000_aaaaaaaa.doc", "older");
        writeBytes(history + "/20261209_100000_bbbbbbbb.doc", "acknowledged");
        writeBytes(history + "/20261209_100000_bbbbbbbb_2.doc", "acknowledged again");
        writeBytes(m_kadai + "/.tavrelle-0123456789abcdef.part", "never acknowledged");
        UploadFile upload;
        QVERIFY(upload.open(m_kadai, "hanako.doc"));
        upload.discard();
        QCOMPARE(readBytes(m_kadai + "/taro.doc"), QByteArray("acknowledged again"));
        QCOMPARE(QDir(m_kadai).entryList(QDir::Files | QDir::Hidden), QStringList{"taro.doc"});
        QCOMPARE(versionnames::versionsIn(history),
                 (QStringList{"20261209_095000_aaaaaaaa.doc", "20261209_100000_bbbbbbbb.doc"}));
        // Nothing more to put back.
        QCOMPARE(VersionHistory::restoreInterrupted(m_kadai), QStringList());
    }

    void versionNamesFitEveryFileSystem()
    {
        const QString name =
            versionnames::versionFileName(at(10, 3, 4), QString(64, u'c'), "a.b.pdf");
        QCOMPARE(name, QStringLiteral("20261209_100304_cccccccc.pdf"));
        QVERIFY(versionnames::parseVersionFileName(name));
        QVERIFY(!versionnames::parseVersionFileName("notes.txt"));
        // An extension that would make the name too long is left out.
        QCOMPARE(versionnames::versionFileName(at(10, 3, 4), QString(64, u'c'),
                                               "a." + QString(250, u'x')),
                 QStringLiteral("20261209_100304_cccccccc"));
    }
};

QTEST_GUILESS_MAIN(TestAssignments)
#include "tst_assignments.moc"
