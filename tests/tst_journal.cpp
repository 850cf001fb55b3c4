// The lecture journal under accidents and hostile input: writes cut short,
// broken and foreign lines, midnight, a second program, an ending program.
#include "common/clock.h"
#include "common/wire.h"
#include "platform/textlog.h"
#include "server/app/classrules.h"
#include "server/app/rostercommands.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/records/journalcodec.h"
#include "server/records/journaledlog.h"
#include "server/records/journalfile.h"
#include "server/records/journalreader.h"
#include "server/records/lecturejournal.h"
#include "support/fakedialogs.h"
#include "support/files.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <memory>
#include <unistd.h>

namespace {

const QString Lecture1 = QStringLiteral("情報処理演習Ⅰ");
const QByteArray Hash = QByteArray(64, 'a');

QDateTime at(int day, const char *time)
{
    return QDateTime(QDate(2026, 12, day), QTime::fromString(QString::fromLatin1(time)));
}

QByteArray sjis(const QString &text)
{
    return cp932::encode(text);
}

// `line` (without its end) parsed, written again, and parsed back: the same.
// An event's texts are views into its line, so the lines are kept for the
// test's whole run.
JournalEvent roundTrip(const QString &line)
{
    static QList<QByteArray> lines;
    lines.append(sjis(line));
    const QByteArray &bytes = lines.last();
    const Result<JournalEvent> event = journalcodec::parseLine(bytes);
    if (!event)
        qWarning("%s: %s", qPrintable(line), qPrintable(event.error()));
    const QByteArray again = event ? journalcodec::formatLine(*event) : QByteArray();
    if (again != bytes + "\r\n")
        qWarning("written again as %s", qPrintable(cp932::decode(again)));
    return event && again == bytes + "\r\n" ? *event : JournalEvent();
}

QString refusalOf(const QString &line)
{
    const Result<JournalEvent> event = journalcodec::parseLine(sjis(line));
    return event ? QStringLiteral("accepted") : event.error();
}

void setWritten(const QString &path, const QDateTime &when)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RosterGrid> m_grid;
    std::unique_ptr<Lecture> m_lecture;
    std::unique_ptr<AttendanceBook> m_book;
    std::unique_ptr<LectureJournal> m_journal;
    std::unique_ptr<ClassRules> m_rules;
    MemoryTextLog m_log;
    FakeFileDialogs m_dialogs;
    FakeMessageBox m_messages;
    QStringList m_failures;

    // The lecture as the server runs it: a book, its journal, the class's
    // rules over both, the offer after every roster load.
    void startProgram()
    {
        m_rules.reset();
        m_journal.reset();
        m_book = std::make_unique<AttendanceBook>(*m_grid);
        m_journal = std::make_unique<LectureJournal>(*m_lecture, *m_book);
        m_rules = std::make_unique<ClassRules>(*m_lecture, *m_book, *m_journal);
        connect(m_journal.get(), &LectureJournal::failed,
                [this](const QString &text) { m_failures << text; });
    }
    // A "user" line, answered as the server answers it.
    QString attend(const QString &userId, const QString &address)
    {
        return m_rules->attend(userId, address, true).reply;
    }
    // A file stored whole, received as the server receives it.
    void submit(const QString &userId, const QString &fileName, qint64 size,
                const QString &lecture = {})
    {
        m_rules->receive({userId, fileName, size, Hash, 1, m_lecture->kadaidir(),
                          lecture.isEmpty() ? m_lecture->kougimei() : lecture});
    }
    void load(const QString &lecture = Lecture1)
    {
        const QString file = m_dir->filePath(QStringLiteral("roster.cfg"));
        writeBytes(file, cp932Lines({"kougimei=" + lecture, "tantousya=山田 太郎", "<start data>",
                                     "taro,太郎", "hanako,花子", "jiro,次郎", "<end data>"}));
        RosterCommands roster(*m_grid, *m_lecture, m_dialogs, m_messages);
        roster.setAfterLoad([this] { m_journal->offerRestore(m_messages, m_log); });
        roster.load(file);
    }
    QString journalOf(QDate day, const QString &lecture = Lecture1) const
    {
        return LectureJournal::pathFor(lecture, day);
    }
    QStringList journalLines(const QString &path) const
    {
        return cp932::decode(readBytes(path)).split(QStringLiteral("\r\n"));
    }
    QStringList journalFiles() const
    {
        return QDir(LectureJournal::folder()).entryList({QStringLiteral("*.txt")}, QDir::Files);
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("data"))));
        m_grid = std::make_unique<RosterGrid>();
        m_lecture = std::make_unique<Lecture>();
        m_log = MemoryTextLog();
        m_dialogs = FakeFileDialogs();
        m_messages = FakeMessageBox();
        m_failures.clear();
        startProgram();
    }
    void cleanup()
    {
        m_rules.reset();
        m_journal.reset();
        m_book.reset();
        Clock::setSource({});
    }

    void everyKindIsWrittenAndReadBackTheSame()
    {
        const QString hash = QString::fromLatin1(Hash);
        QCOMPARE(roundTrip("講義,情報処理演習Ⅰ,後期").lecture, sjis("情報処理演習Ⅰ,後期"));
        const JournalEvent mark = roundTrip("出席,09:15:02,12,taro,192.168.0.12");
        QCOMPARE(mark.kind, JournalKind::Mark);
        QCOMPARE(mark.seconds, 9 * 3600 + 15 * 60 + 2);
        QCOMPARE(mark.row, 12);
        QCOMPARE(mark.userId, "taro");
        QCOMPARE(mark.address, "192.168.0.12");
        const JournalEvent claim = roundTrip("再申告,23:59:59,3,jiro,192.168.0.50");
        QCOMPARE(claim.kind, JournalKind::ClaimAgain);
        QCOMPARE(claim.seconds, 24 * 3600 - 1);
        const JournalEvent refusal = roundTrip("拒否,10:00:00,hanako,a,b.txt,容量の上限を超えます");
        QCOMPARE(refusal.fileName, sjis("a,b.txt"));
        QCOMPARE(refusal.reason, sjis("容量の上限を超えます"));
        const JournalEvent handout = roundTrip("配布,10:01:00,192.168.0.7,資料,1.pdf," + hash);
        QCOMPARE(handout.kind, JournalKind::Handout);
        QCOMPARE(handout.userId, "192.168.0.7");
        QCOMPARE(handout.fileName, sjis("資料,1.pdf"));
        QCOMPARE(handout.sha256, Hash);
        const JournalEvent returned = roundTrip("返却,10:02:00,taro,taro_講評,1.pdf," + hash);
        QCOMPARE(returned.kind, JournalKind::Return);
        QCOMPARE(returned.userId, "taro");
        QCOMPARE(returned.fileName, sjis("taro_講評,1.pdf"));
        QCOMPARE(returned.sha256, Hash);
    }

    void anIdOffTheRosterIsJournaledOncePerLecture()
    {
        Clock::setSource([] { return at(9, "09:01:02"); });
        load();
        ClassRules rules(*m_lecture, *m_book, *m_journal);
        ClassDesk::Attended attended = rules.attend("s26099", "192.168.0.20", true);
        QCOMPARE(attended.reply, QStringLiteral("501 - bad-userID ^^"));
        QVERIFY(attended.recorded);
        QVERIFY(!rules.attend("s26099", "192.168.0.21", true).recorded);
        // Past the client's budget nothing is written; a flooded ID is bounded.
        QVERIFY(!rules.attend("s26098", "192.168.0.20", false).recorded);
        QVERIFY(rules.attend(QString(65000, u'A') + ",x", "192.168.0.22", true).recorded);
        const QStringList lines = journalLines(journalOf(QDate(2026, 12, 9)));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[1], QStringLiteral("名簿外,09:01:02,s26099,192.168.0.20"));
        QVERIFY2(lines[2].size() < 100, qPrintable(lines[2].left(100)));
        QCOMPARE(lines[2].split(u',').size(), 4);
        const JournalEvent event = roundTrip(lines[1]);
        QCOMPARE(event.kind, JournalKind::OffRoster);
        QCOMPARE(event.userId, "s26099");
        QCOMPARE(event.address, "192.168.0.20");
        QCOMPARE(refusalOf("名簿外,09:01:02"), QStringLiteral("名簿外の行が欠けています"));
        // Another lecture journals it again.
        load(QStringLiteral("別の講義"));
        QVERIFY(rules.attend("s26099", "192.168.0.20", true).recorded);
    }

    void aReceiptsSizeAndHashAreFoundWhateverTheNamesHold()
    {
        const QString hash = QString::fromLatin1(Hash);
        const JournalEvent late = roundTrip("提出,10:31:05,taro,taro,5," + hash + ".doc,12," +
                                            hash + ",2026/12/10,締切後65秒,3,/srv/kadai,第3回");
        QCOMPARE(late.kind, JournalKind::Submission);
        QCOMPARE(late.fileName, sjis("taro,5," + hash + ".doc"));
        QCOMPARE(late.size, 12);
        QCOMPARE(late.completedOn, QDate(2026, 12, 10));
        QCOMPARE(late.lateSeconds, 65);
        QCOMPARE(late.versions, 3);
        QCOMPARE(late.folder, sjis("/srv/kadai,第3回"));
        // As the server writes it for a stranger: no day, on time, no folder.
        QCOMPARE(roundTrip("提出,10:00:00,,x.txt,0," + hash + ",,,1,").versions, 1);
        // An older journal ends at the hash; the name's own ",5,<hash>" wins.
        // An event's texts are views into its line: the lines outlive them.
        const QByteArray olderLine = sjis("提出,09:00:00,jiro,j.c,5," + hash + ",7," + hash);
        const Result<JournalEvent> older = journalcodec::parseLine(olderLine);
        QVERIFY(older.ok());
        QCOMPARE(older->fileName, "j.c");
        QCOMPARE(older->size, 5);
        QVERIFY(!older->completedOn.isValid());
        QCOMPARE(older->versions, 0);
        const QByteArray bareLine = sjis("提出,09:00:00,jiro,j.c,5," + hash);
        const Result<JournalEvent> bare = journalcodec::parseLine(bareLine);
        QVERIFY(bare.ok());
        QCOMPARE(bare->sha256, Hash);
        QCOMPARE(bare->folder, QByteArrayView());
    }

    void malformedLinesAreRefusedWithTheirReason()
    {
        const QString hash = QString::fromLatin1(Hash);
        const QString noTime = QStringLiteral("時刻がありません");
        const QString brokenMark = QStringLiteral("出席の行が欠けています");
        const QString brokenReceipt = QStringLiteral("提出の行が欠けています");
        QCOMPARE(refusalOf("出席,9:00,1,taro,x"), noTime);
        QCOMPARE(refusalOf("出席,24:00:00,1,taro,x"), noTime);
        QCOMPARE(refusalOf("出席,09:60:00,1,taro,x"), noTime);
        QCOMPARE(refusalOf("提出,09:49:出席,09:49:39,2,hanako,x"), noTime);
        QCOMPARE(refusalOf("再申告"), noTime);
        QCOMPARE(refusalOf("出席,09:00:00,1"), brokenMark);
        QCOMPARE(refusalOf("出席,09:00:00,1,,x"), brokenMark);
        QCOMPARE(refusalOf("出席,09:00:00,-1,taro,x"), brokenMark);
        QCOMPARE(refusalOf("提出,09:00:00,taro,taro.c,5,abc"), brokenReceipt);
        QCOMPARE(refusalOf("提出,09:00:00,taro,,5," + hash), brokenReceipt);
        QCOMPARE(refusalOf("提出,09:00:00,taro,t.c,5," + hash.toUpper()), brokenReceipt);
        QCOMPARE(refusalOf("提出,09:00:00,taro,t.c,5," + hash + "0"), brokenReceipt);
        QCOMPARE(refusalOf("配布,09:00:00,資料.pdf"), QStringLiteral("配布の行が欠けています"));
        QCOMPARE(refusalOf("返却,09:00:00,taro,taro.pdf,abc"),
                 QStringLiteral("返却の行が欠けています"));
        QCOMPARE(refusalOf("拒否,09:00:00,taro"), QStringLiteral("拒否の行が欠けています"));
        QCOMPARE(journalcodec::kindOf(sjis(",09:00:00")), JournalKind::Blank);
        QCOMPARE(journalcodec::kindOf(sjis("集計,3")), JournalKind::Unknown);
        QVERIFY(!journalcodec::parseLine(sjis("集計,3")).ok());
    }

    void idsNotInTheRosterAreBounded()
    {
        load();
        const QString flood = QString(65000, u'A');
        submit(flood, "x.txt", 0);
        submit("taro,x.txt,5", "y.txt", 0);
        const QStringList lines = journalLines(journalOf(Clock::today()));
        QVERIFY2(lines.value(1).size() < 200, qPrintable(QString::number(lines.value(1).size())));
        QVERIFY2(lines.value(1).contains(QString(32, u'A') + QStringLiteral("…(65000文字),x.txt")),
                 qPrintable(lines.value(1).left(100)));
        // A comma in a foreign ID cannot make a line that names taro: the
        // receipt keeps its ten fields.
        QCOMPARE(lines.value(2).split(u',').size(), 10);
        QVERIFY2(lines.value(2).contains(QStringLiteral(",taro，x.txt，5,y.txt,")),
                 qPrintable(lines.value(2)));
    }

    void failedWriteIsTakenBackAndTheNextLineStandsAlone()
    {
        load();
        QCOMPARE(attend("taro", "192.168.0.12"), wire::AttendanceTaken);
        const QString path = journalOf(Clock::today());
        const QByteArray before = readBytes(path);
        {
            // Room for part of the next line only: the write is cut short.
            FileSizeLimit limit(rlim_t(before.size() + 10));
            submit("taro", "taro.c", 5);
            QCOMPARE(readBytes(path), before);
            QCOMPARE(m_failures.size(), 1);
            QVERIFY2(m_failures[0].startsWith(
                         QStringLiteral("出欠と課題提出の記録 %1 に書き込めません: ").arg(path)),
                     qPrintable(m_failures[0]));
        }
        QCOMPARE(attend("hanako", "192.168.0.13"), wire::AttendanceTaken);
        const QStringList lines = journalLines(path);
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines[2].startsWith(QStringLiteral("出席,")), qPrintable(lines[2]));
        // Working again, then failing again: the lecturer hears of it again.
        {
            FileSizeLimit limit(rlim_t(readBytes(path).size()));
            submit("taro", "taro.c", 5);
        }
        QCOMPARE(m_failures.size(), 2);
    }

    void aRecordCutOffByACrashIsNotJoinedToTheNext()
    {
        load();
        attend("taro", "192.168.0.12");
        const QString path = journalOf(Clock::today());
        m_rules.reset();
        m_journal.reset();
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write(cp932::encode(QStringLiteral("提出,09:49:")));
        file.close();
        startProgram();
        m_messages.nextAnswers << true;
        load();
        attend("hanako", "192.168.0.13");
        const QStringList lines = journalLines(path);
        QCOMPARE(lines.size(), 4);
        QVERIFY2(lines[2].startsWith(QStringLiteral("出席,")) && lines[2].endsWith("192.168.0.13"),
                 qPrintable(lines[2]));
    }

    void restoreTakesOnlyWholeWellFormedLines()
    {
        // Restore is offered only for a journal begun within the last hours.
        Clock::setSource([] { return at(9, "10:00:00"); });
        const QString path = journalOf(Clock::today());
        QDir().mkpath(LectureJournal::folder());
        writeBytes(
            path,
            cp932Lines({"講義,情報処理演習Ⅰ", "出席,09:15:02,1,taro,192.168.0.12",
                        "提出,09:49:出席,09:49:39,2,hanako,192.168.0.13",
                        "提出,09:50:00,taro,taro.c,5,abc", "出席,25:00:00,3,jiro,192.168.0.14",
                        "出席,09:16:00,3,jiro,not-an-address", "配布,09:00:00,資料.pdf",
                        "提出,09:51:00,taro,taro.c,5," + QString(Hash),
                        // A name with commas, and the fields a deadline adds.
                        "提出,09:53:00,hanako,a,5,b.txt,5," + QString(Hash) +
                            ",2026/12/09,締切後3秒,2,/kadai"}) +
                cp932::encode(QStringLiteral("出席,09:52:00,2,hanako,192.168.0.13")));
        load();
        QCOMPARE(m_messages.asked.size(), 1);
        QVERIFY2(m_messages.asked[0].contains(QStringLiteral("(出席 1 人、課題提出 2 人)")),
                 qPrintable(m_messages.asked[0]));
        QCOMPARE(m_grid->text(1, RosterGrid::Assignment), QStringLiteral("09:51:00"));
        QCOMPARE(m_grid->text(2, RosterGrid::Attendance), QString());
        QCOMPARE(m_grid->text(2, RosterGrid::Assignment), QStringLiteral("09:53:00"));
        QCOMPARE(m_grid->text(3, RosterGrid::Attendance), QString());
        // The lecture line and the unknown kind are no damage; the rest is named.
        QVERIFY2(
            m_log.text().contains(
                QStringLiteral("記録 %1 の壊れた 5 行を読み飛ばしました (3, 4, 5, 6, 10 行目)｡")
                    .arg(path)),
            qPrintable(m_log.text()));
    }

    // Returns say nothing about attendance or submissions: restoring passes
    // over them, whole or broken, without calling them damage.
    void restorePassesOverReturns()
    {
        // Restore is offered only for a journal begun within the last hours.
        Clock::setSource([] { return at(9, "10:00:00"); });
        const QString path = journalOf(Clock::today());
        QDir().mkpath(LectureJournal::folder());
        writeBytes(path, cp932Lines({"講義,情報処理演習Ⅰ", "出席,09:15:02,1,taro,192.168.0.12",
                                     "返却,09:20:00,taro,taro_講評.txt," + QString(Hash),
                                     "返却,09:21:00,taro",
                                     "提出,09:51:00,taro,taro.c,5," + QString(Hash)}));
        load();
        QCOMPARE(m_messages.asked.size(), 1);
        QVERIFY2(m_messages.asked[0].contains(QStringLiteral("(出席 1 人、課題提出 1 人)")),
                 qPrintable(m_messages.asked[0]));
        QCOMPARE(m_grid->text(1, RosterGrid::Assignment), QStringLiteral("09:51:00"));
        QVERIFY2(!m_log.text().contains(QStringLiteral("読み飛ばしました")),
                 qPrintable(m_log.text()));
    }

    // What the table showed comes back with the records: a late receipt's
    // red cell (its last receipt's lateness), and an ID answered 501 earlier
    // counts as present once the roster holds it; one it still does not
    // hold is not journaled a second time.
    void restoreBringsBackLatenessAndClaimsOffTheRoster()
    {
        Clock::setSource([] { return at(9, "10:00:00"); });
        const QString path = journalOf(Clock::today());
        QDir().mkpath(LectureJournal::folder());
        const QString tail = ",2026/12/09,締切後65秒,1,/kadai";
        writeBytes(path, cp932Lines({"講義,情報処理演習Ⅰ", "出席,09:15:02,1,taro,192.168.0.12",
                                     "提出,09:50:00,taro,taro.c,5," + QString(Hash) + tail,
                                     "提出,09:40:00,hanako,hanako.c,5," + QString(Hash) + tail,
                                     "提出,09:51:00,hanako,hanako.c,5," + QString(Hash) +
                                         ",2026/12/09,,1,/kadai",
                                     "名簿外,09:20:00,jiro,192.168.0.14",
                                     "名簿外,09:21:00,s26099,192.168.0.15"}));
        load();
        QCOMPARE(m_messages.asked.size(), 1);
        QCOMPARE(m_grid->lateNote(1), QStringLiteral("締切後 1分"));
        QCOMPARE(m_grid->lateNote(2), QString()); // its last receipt was on time
        QCOMPARE(m_grid->text(3, RosterGrid::Attendance), QStringLiteral("09:20:00"));
        QVERIFY2(m_log.text().contains(QStringLiteral("出席 2 人と課題提出 2 人を復元しました")),
                 qPrintable(m_log.text()));
        QCOMPARE(attend("jiro", "192.168.0.14"), wire::AttendanceAlready);
        QVERIFY(!m_rules->attend("s26099", "192.168.0.15", true).recorded);
        QCOMPARE(journalLines(path).filter(QStringLiteral("s26099")).size(), 1);
    }

    void aJournalLargerThanMemoryIsStreamed()
    {
        // Restore is offered only for a journal begun within the last hours.
        Clock::setSource([] { return at(9, "10:00:00"); });
        // Two gibibytes of nothing (a hole: no disk used), then the records.
        const QString path = journalOf(Clock::today());
        QDir().mkpath(LectureJournal::folder());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(2) << 30));
        QVERIFY(file.seek(qint64(2) << 30));
        file.write(cp932Lines({"", "出席,09:15:02,1,taro,192.168.0.12"}));
        file.close();
        load();
        QCOMPARE(m_messages.asked.size(), 1);
        QCOMPARE(m_grid->text(1, RosterGrid::Attendance), QStringLiteral("09:15:02"));
        QVERIFY2(m_log.text().contains(QStringLiteral("の壊れた 1 行を読み飛ばしました (1 行目)")),
                 qPrintable(m_log.text()));
    }

    void aLectureKeepsOneJournalPastMidnight()
    {
        Clock::setSource([] { return at(8, "23:50:00"); });
        load();
        attend("taro", "192.168.0.12");
        Clock::setSource([] { return at(9, "00:10:00"); });
        attend("hanako", "192.168.0.13");
        const QString began = journalOf(QDate(2026, 12, 8));
        QCOMPARE(journalFiles(), QStringList{QFileInfo(began).fileName()});
        QCOMPARE(journalLines(began).size(), 4);
        setWritten(began, at(9, "00:10:00"));
        // The program ends; started again at 0:30 the lecture comes back whole.
        Clock::setSource([] { return at(9, "00:30:00"); });
        startProgram();
        load();
        QCOMPARE(m_messages.asked.size(), 1);
        QVERIFY2(m_messages.asked[0].startsWith(
                     QStringLiteral("前日からの「情報処理演習Ⅰ」の記録が残っています (出席 2 人")),
                 qPrintable(m_messages.asked[0]));
        QCOMPARE(m_grid->presentCount(), 2);
        // More than 12 hours after its last line, it is a lecture of its own.
        Clock::setSource([] { return at(9, "12:30:00"); });
        startProgram();
        setWritten(began, at(9, "00:20:00"));
        load();
        QCOMPARE(m_messages.asked.size(), 1);
        QCOMPARE(m_grid->presentCount(), 0);
    }

    void aLaterWriteDoesNotCarryADayIntoTheNext()
    {
        Clock::setSource([] { return at(7, "08:55:00"); });
        load();
        attend("taro", "192.168.0.12");
        attend("hanako", "192.168.0.13");
        // A homework upload in the evening writes to Monday's journal.
        Clock::setSource([] { return at(7, "21:30:00"); });
        m_journal->recordSubmission({"taro", "taro.c", 5, Hash}, QStringLiteral("21:30:00"));
        const QString monday = journalOf(QDate(2026, 12, 7));
        const QStringList mondayLines = journalLines(monday);
        QCOMPARE(mondayLines.size(), 5);
        // Tuesday's class: Monday began a day ago, nothing is offered back.
        Clock::setSource([] { return at(8, "08:55:00"); });
        startProgram();
        load();
        QCOMPARE(m_messages.asked, QStringList());
        QCOMPARE(m_grid->presentCount(), 0);
        attend("taro", "192.168.0.12");
        QCOMPARE(journalLines(monday), mondayLines);
        QCOMPARE(journalLines(journalOf(QDate(2026, 12, 8))).size(), 3);
    }

    void aRestartDeclinedAfterMidnightContinuesTheSameDay()
    {
        Clock::setSource([] { return at(7, "23:00:00"); });
        load();
        attend("taro", "192.168.0.12");
        Clock::setSource([] { return at(8, "00:30:00"); });
        startProgram();
        m_messages.nextAnswers << false;
        load();
        QCOMPARE(m_messages.asked.size(), 1);
        attend("hanako", "192.168.0.13");
        const QString first = journalOf(QDate(2026, 12, 7));
        const QString second = first.chopped(4) + QStringLiteral("_2.txt");
        QCOMPARE(journalFiles(),
                 (QStringList{QFileInfo(first).fileName(), QFileInfo(second).fileName()}));
        QCOMPARE(journalLines(first).size(), 3); // the records not taken back stay
        QVERIFY(journalLines(second).join(u'\n').contains(QStringLiteral(",hanako,")));
        QCOMPARE(m_log.text(), QStringLiteral("前の記録は %1 として残しました｡\r\n").arg(first));
        // One lecture day, whatever the files.
        const LectureJournals found = findLectureJournals(Lecture1, {LectureJournal::folder()},
                                                          QDate(2026, 12, 1), QDate(2026, 12, 31));
        QCOMPARE(found.byDate.size(), size_t(1));
        QCOMPARE(found.byDate.begin()->first, QDate(2026, 12, 7));
        QCOMPARE(found.byDate.begin()->second.size(), 2);
        // Restarted again within the session: the latest file is offered.
        startProgram();
        m_messages.nextAnswers << true;
        load();
        QCOMPARE(m_messages.asked.size(), 2);
        QCOMPARE(m_grid->presentCount(), 1);
        QCOMPARE(m_grid->text(2, RosterGrid::UserId), QStringLiteral("hanako"));
        QVERIFY(RosterGrid::isTimeStamp(m_grid->text(2, RosterGrid::Attendance)));
    }

    void aRestartLongAfterTheStartOfTheDayAsksNothing()
    {
        Clock::setSource([] { return at(7, "08:55:00"); });
        load();
        attend("taro", "192.168.0.12");
        Clock::setSource([] { return at(7, "21:00:00"); });
        startProgram();
        load();
        QCOMPARE(m_messages.asked, QStringList());
        attend("jiro", "192.168.0.14");
        const QString first = journalOf(QDate(2026, 12, 7));
        QCOMPARE(journalLines(first).size(), 3);
        QVERIFY(journalLines(first.chopped(4) + QStringLiteral("_2.txt"))
                    .join(u'\n')
                    .contains(QStringLiteral(",jiro,")));
        // That file began at 21:00: an hour later it is the one offered.
        Clock::setSource([] { return at(7, "22:00:00"); });
        startProgram();
        m_messages.nextAnswers << true;
        load();
        QCOMPARE(m_messages.asked.size(), 1);
        QCOMPARE(m_grid->presentCount(), 1);
        QVERIFY(RosterGrid::isTimeStamp(m_grid->text(3, RosterGrid::Attendance)));
    }

    void aSecondProgramLeavesTheOpenLecturesJournalAlone()
    {
        load();
        attend("taro", "192.168.0.12");
        const QString path = journalOf(Clock::today());
        const QByteArray running = readBytes(path);
        // The same roster in a second program (its own grid and journal).
        RosterGrid otherGrid;
        Lecture otherLecture;
        AttendanceBook otherBook(otherGrid);
        LectureJournal other(otherLecture, otherBook);
        ClassRules otherRules(otherLecture, otherBook, other);
        FakeMessageBox otherMessages;
        const QString file = m_dir->filePath(QStringLiteral("roster.cfg"));
        RosterCommands roster(otherGrid, otherLecture, m_dialogs, otherMessages);
        roster.setAfterLoad([&] { other.offerRestore(otherMessages, m_log); });
        roster.load(file);
        QCOMPARE(otherMessages.asked.size(), 0);
        QCOMPARE(otherMessages.shown,
                 QStringList{"「情報処理演習Ⅰ」の講義は別のウィンドウで開かれています｡\r\n"
                             "出欠と課題提出の記録はそのウィンドウが続けています｡"
                             "このウィンドウでは記録しません｡"});
        otherRules.attend("hanako", "192.168.0.13", true);
        QCOMPARE(readBytes(path), running);
        QCOMPARE(journalFiles().size(), 1);
        // The first program goes on writing where it was.
        attend("jiro", "192.168.0.14");
        QCOMPARE(journalLines(path).size(), 4);
    }

    void aLockLeftByADeadProgramIsTakenOver()
    {
        // A lock file naming a process that no longer exists, nobody holding it.
        QDir().mkpath(LectureJournal::folder());
        const QString stem = QFileInfo(journalOf(Clock::today())).completeBaseName().mid(11);
        writeBytes(LectureJournal::folder() + u'/' + stem + QStringLiteral(".lock"), "999999999\n");
        load();
        QVERIFY(m_messages.shown.isEmpty());
        attend("taro", "192.168.0.12");
        QCOMPARE(journalLines(journalOf(Clock::today())).size(), 3);
        QCOMPARE(readBytes(LectureJournal::folder() + u'/' + stem + QStringLiteral(".lock")),
                 QByteArray::number(qint64(::getpid())) + '\n');
    }

    // A lock, a journal or a day log that is a link is never written
    // through: the file it points to keeps its bytes, and the lecturer is
    // told why nothing is recorded there.
    void linksInTheJournalFolderAreNeverFollowed_data()
    {
        QTest::addColumn<QString>("which");
        QTest::newRow("lock") << "lock";
        QTest::newRow("journal") << "journal";
        QTest::newRow("day log") << "day log";
    }
    void linksInTheJournalFolderAreNeverFollowed()
    {
        QFETCH(QString, which);
        QDir().mkpath(LectureJournal::folder());
        const QString stem = QFileInfo(journalOf(Clock::today())).completeBaseName().mid(11);
        const QString link = which == u"lock"
                                 ? LectureJournal::folder() + u'/' + stem + QStringLiteral(".lock")
                             : which == u"journal" ? journalOf(Clock::today())
                                                   : JournaledLog::pathFor(Clock::today());
        const QString precious = m_dir->filePath(QStringLiteral("precious.txt"));
        writeBytes(precious, "not the program's\n");
        QVERIFY(QFile::link(precious, link));
        MemoryTextLog shown;
        JournaledLog log(shown);
        QStringList logFailures;
        connect(&log, &JournaledLog::failed, [&](const QString &text) { logFailures << text; });
        load();
        attend("taro", "192.168.0.12");
        log.insertAtTop(QStringLiteral("an entry\r\n"));
        QCOMPARE(readBytes(precious), QByteArray("not the program's\n"));
        QVERIFY(QFileInfo(link).isSymLink());
        const QStringList &told = which == u"day log" ? logFailures : m_failures;
        QCOMPARE(told.size(), 1);
        QVERIFY2(told[0].contains(QStringLiteral("リンクになっているため")), qPrintable(told[0]));
    }

    void endingTheProgramIsNoAnswer()
    {
        load();
        attend("taro", "192.168.0.12");
        const QString path = journalOf(Clock::today());
        startProgram();
        // The lecturer is asked; a signal ends the program meanwhile (the
        // box closes as if declined).
        m_messages.whileShown = [this](const QString &) { m_journal->endProgram(); };
        m_messages.nextAnswers << false;
        load();
        QCOMPARE(m_messages.asked.size(), 1);
        QCOMPARE(journalFiles(), QStringList{QFileInfo(path).fileName()});
        QCOMPARE(m_grid->presentCount(), 0);
        // The next start asks again.
        m_messages.whileShown = nullptr;
        startProgram();
        load();
        QCOMPARE(m_messages.asked.size(), 2);
        QCOMPARE(m_grid->presentCount(), 1);
    }

    void flagsComeFromTheRecordedAddresses()
    {
        load();
        attend("taro", "192.168.0.12");
        attend("hanako", "192.168.0.13");
        // The roster opened again during class; while the question is open
        // taro announces himself again from his machine, hanako from another.
        m_messages.whileShown = [this](const QString &) {
            attend("taro", "192.168.0.12");
            attend("hanako", "192.168.0.20");
        };
        load();
        QCOMPARE(m_messages.asked.size(), 1);
        QCOMPARE(m_grid->addressFlag(1), QString());
        QCOMPARE(m_grid->text(2, RosterGrid::Address), QStringLiteral("192.168.0.13"));
        QCOMPARE(m_grid->addressFlag(2), QStringLiteral("別のアドレスからも申告: 192.168.0.20"));
        // With the check off, restored records raise no flag either.
        m_messages.whileShown = nullptr;
        startProgram();
        m_book->setProxyCheck(false);
        load();
        QCOMPARE(m_grid->presentCount(), 2);
        QCOMPARE(m_grid->addressFlag(2), QString());
    }

    void anUploadsReceiptGoesToTheLectureItBeganIn()
    {
        load();
        attend("taro", "192.168.0.12");
        load(QStringLiteral("情報処理演習Ⅱ"));
        // The upload began while the first lecture was open.
        submit("taro", "taro.c", 5, Lecture1);
        QCOMPARE(m_grid->text(1, RosterGrid::Assignment), QString());
        const QStringList first = journalLines(journalOf(Clock::today()));
        QVERIFY2(first.value(2).startsWith(QStringLiteral("提出,")), qPrintable(first.join('|')));
        QVERIFY(!QFileInfo::exists(journalOf(Clock::today(), QStringLiteral("情報処理演習Ⅱ"))));
    }

    void syncRunsOffTheCallersThread()
    {
        // A disk that holds the flush until the caller's thread has run on:
        // a flush on that thread would wait for nothing and give up.
        static std::atomic<bool> started{false};
        static std::atomic<bool> released{false};
        static std::atomic<bool> sawRelease{false};
        JournalFile::setSyncCall([](int) {
            started = true;
            for (int i = 0; i < 500 && !released; ++i)
                ::usleep(10 * 1000);
            sawRelease = released.load();
            return 0;
        });
        {
            JournalFile file;
            QVERIFY(file.open(m_dir->filePath(QStringLiteral("slow.txt"))).ok());
            QVERIFY(file.append("a\r\n").ok());
            QTRY_VERIFY_WITH_TIMEOUT(started, 10000);
            // Appends go on while the flush runs.
            QVERIFY(file.append("b\r\n").ok());
            released = true;
        }
        JournalFile::setSyncCall(&::fdatasync);
        QVERIFY(sawRelease);
        QCOMPARE(readBytes(m_dir->filePath(QStringLiteral("slow.txt"))), QByteArray("a\r\nb\r\n"));
    }
};

QTEST_MAIN(TestJournal)
#include "tst_journal.moc"
