#include "common/clock.h"
#include "common/wire.h"
#include "platform/entryspool.h"
#include "platform/widgets/qtprocessstarter.h"
#include "server/app/classrules.h"
#include "server/app/recordsaves.h"
#include "server/app/rostercommands.h"
#include "server/app/tableexport.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/records/lecturejournal.h"
#include "server/ui/qttextlog.h"
#include "server/ui/rostermodel.h"
#include "support/fakedesktop.h"
#include "support/files.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTextCursor>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace {

// The heading row as the server writes it at start-up, in code page 932.
const QByteArray HeaderBytes =
    "\x83\x86\x81\x5b\x83\x55ID,"                             // ユーザID
    "\x83\x86\x81\x5b\x83\x55\x96\xbc,"                       // ユーザ名
    "\x8f\x6f\x8c\x87,"                                       // 出欠
    "\x89\xdb\x91\xe8,"                                       // 課題
    "\x90\xda\x91\xb1IP\x83\x41\x83\x68\x83\x8c\x83\x58\r\n"; // 接続IPアドレス

const QString LaunchFailure =
    QStringLiteral("有効なパスを記述してください｡\r\n%1\r\nは間違ったパスです");

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<RosterGrid> m_grid;
    std::unique_ptr<Lecture> m_lecture;
    std::unique_ptr<QtTextLog> m_log;
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<RosterCommands> m_roster;
    std::unique_ptr<RecordSaves> m_saves;
    std::unique_ptr<TableExport> m_export;

    QString path(const QString &name) const { return m_dir->filePath(name); }
    void load(const QStringList &students, const QString &lecture = QStringLiteral("情報処理演習Ⅰ"))
    {
        const QString file = path(QStringLiteral("roster.cfg"));
        writeBytes(file, cp932Lines(QStringList{"kougimei=" + lecture, "tantousya=山田 太郎",
                                                "<start data>"} +
                                    students + QStringList{"<end data>"}));
        m_roster->load(file);
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }
    QByteArray saveTo(const QString &name, RecordSaves &saves, void (RecordSaves::*save)())
    {
        m_desktop->dialogs.nextAnswers << path(name);
        (saves.*save)();
        return readBytes(path(name));
    }
    QByteArray saveTableTo(const QString &name)
    {
        return saveTo(name, *m_saves, &RecordSaves::saveTable);
    }
    // The journal and the class's rules of the server over `book`: a student's
    // claims and files go through the rules, and the offer comes after every
    // roster load.
    struct Recorded
    {
        Recorded(const Lecture &of, AttendanceBook &book)
            : lecture(of), journal(of, book), rules(of, book, journal)
        {}
        // The reply to a "user" line from `address`.
        QString attend(const QString &userId, const QString &address)
        {
            return rules.attend(userId, address, true).reply;
        }
        // A file stored whole, put in the lecture's folder, or in `upload`'s.
        void receive(ClassDesk::Upload upload)
        {
            if (upload.lecture.isEmpty())
                upload.lecture = lecture.kougimei();
            QCOMPARE(rules.receive(upload).reply, wire::ReceiveComplete);
        }
        const Lecture &lecture;
        LectureJournal journal;
        ClassRules rules;
    };
    std::unique_ptr<Recorded> journalFor(AttendanceBook &book)
    {
        auto journal = std::make_unique<Recorded>(*m_lecture, book);
        m_roster->setAfterLoad(
            [this, j = journal.get()] { j->journal.offerRestore(m_desktop->messages, *m_log); });
        return journal;
    }
    QString todaysJournal(const QString &lecture = QStringLiteral("情報処理演習Ⅰ")) const
    {
        return LectureJournal::pathFor(lecture, Clock::today());
    }
    // A lecture in the journal: taro present and his file stored, and a
    // student the next roster will not hold.
    void journalATakenLecture()
    {
        load({"taro,太郎", "hanako,花子", "jiro,次郎"});
        AttendanceBook book(*m_grid);
        const auto journal = journalFor(book);
        QCOMPARE(journal->attend("taro", "192.168.0.12"), wire::AttendanceTaken);
        QCOMPARE(journal->attend("jiro", "192.168.0.14"), wire::AttendanceTaken);
        journal->receive({"taro", "taro.c", 5, QByteArray(64, 'a')});
    }
    void markTaro()
    {
        m_grid->setText(1, RosterGrid::Attendance, "09:15:00");
        m_grid->setText(1, RosterGrid::Assignment, "10:00:00");
        m_grid->setText(1, RosterGrid::Address, "192.168.0.12");
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_grid = std::make_unique<RosterGrid>();
        m_lecture = std::make_unique<Lecture>();
        m_log = std::make_unique<QtTextLog>();
        m_desktop = std::make_unique<FakeDesktop>();
        Desktop services = m_desktop->services();
        m_roster = std::make_unique<RosterCommands>(*m_grid, *m_lecture, services.dialogs,
                                                    services.messages);
        m_saves = std::make_unique<RecordSaves>(*m_grid, *m_lecture, *m_log, services.dialogs,
                                                services.messages);
        m_export = std::make_unique<TableExport>(*m_grid, services.clipboard, services.processes,
                                                 services.messages);
        const char *headings[] = {"ユーザID", "ユーザ名", "出欠", "課題", "接続IPアドレス"};
        for (int column = 0; column < RosterGrid::ColumnCount; ++column)
            m_grid->setText(0, column, QString::fromUtf8(headings[column]));
        // Journals go to the user's data folder: a fresh one for every test.
        qputenv("XDG_DATA_HOME", QFile::encodeName(path(QStringLiteral("data"))));
    }

    void journalHasOneLinePerEventBeforeTheCallReturns()
    {
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(10, 42, 13)); });
        const auto realClock = qScopeGuard([] { Clock::setSource({}); });
        load({"taro,太郎", "hanako,花子"});
        AttendanceBook book(*m_grid);
        const auto journal = journalFor(book);
        QVERIFY(!QFileInfo::exists(todaysJournal()));
        QCOMPARE(journal->attend("hanako", "192.168.0.13"), wire::AttendanceTaken);
        const QString marked = m_grid->text(2, RosterGrid::Attendance);
        // Written by the time the student would get the answer, no event pass.
        const QStringList header{"講義,情報処理演習Ⅰ"};
        const QString mark = "出席," + marked + ",2,hanako,192.168.0.13";
        QCOMPARE(readBytes(todaysJournal()), cp932Lines(header + QStringList{mark}));
        QCOMPARE(journal->attend("hanako", "192.168.0.13"), wire::AttendanceAlready);
        const QByteArray sha = QByteArray(32, 'f') + QByteArray(32, '0');
        // A late third version, in a folder whose name holds a comma: put
        // while that folder was shown, due at 10:30.
        ClassDesk::Upload late{"hanako", "hanako.c", 1234, sha, 3, "/srv/kadai,第3回"};
        late.deadline.due = QDateTime(QDate(2026, 12, 9), QTime(10, 30));
        journal->receive(late);
        journal->receive({"nobody", "nobody.txt", 0, sha});
        const QString stamp = m_grid->text(2, RosterGrid::Assignment);
        const QStringList lines =
            cp932::decode(readBytes(todaysJournal())).split(QStringLiteral("\r\n"));
        const QString submission = "提出," + stamp + ",hanako,hanako.c,1234," + sha +
                                   ",2026/12/09,締切後733秒,3,/srv/kadai,第3回";
        QCOMPARE(lines.mid(0, 3), (header + QStringList{mark, submission}));
        QCOMPARE(m_grid->lateNote(2), QStringLiteral("締切後 12分"));
        const RosterModel model(*m_grid);
        QVERIFY(model.index(1, RosterGrid::Assignment).data(RosterModel::LateRole).toBool());
        // A file from an ID the roster does not hold is recorded all the same.
        QVERIFY2(
            QRegularExpression("^提出,10:42:13,nobody,nobody.txt,0," + sha + ",2026/12/09,,1,$")
                .match(lines.value(3))
                .hasMatch(),
            qPrintable(lines.value(3)));
        QCOMPARE(lines.size(), 5); // and nothing after the last line end
    }

    void handoutDeliveriesAreJournaledAndLeaveRestoreAlone()
    {
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(10, 5, 7)); });
        const auto realClock = qScopeGuard([] { Clock::setSource({}); });
        load({"taro,太郎"});
        {
            AttendanceBook book(*m_grid);
            const auto journal = journalFor(book);
            QCOMPARE(journal->attend("taro", "192.168.0.12"), wire::AttendanceTaken);
            const QByteArray sha(64, 'c');
            journal->rules.deliver("taro", "第1回,資料.pdf", sha);
            journal->rules.deliver("192.168.0.20", "a.txt", sha);
            const QStringList lines =
                cp932::decode(readBytes(todaysJournal())).split(QStringLiteral("\r\n"));
            QCOMPARE(lines.mid(2), (QStringList{"配布,10:05:07,taro,第1回,資料.pdf," + sha,
                                                "配布,10:05:07,192.168.0.20,a.txt," + sha, ""}));
        }
        AttendanceBook book(*m_grid);
        const auto journal = journalFor(book);
        load({"taro,太郎"});
        QCOMPARE(m_grid->text(1, RosterGrid::Attendance), QStringLiteral("10:05:07"));
        QCOMPARE(m_grid->text(1, RosterGrid::Assignment), QString());
    }

    void aReceiptAtMidnightTakesItsDateAndTimeFromOneInstant()
    {
        QDateTime next(QDate(2026, 12, 9), QTime(23, 0));
        Clock::setSource([&next] { return next; });
        const auto realClock = qScopeGuard([] { Clock::setSource({}); });
        load({"taro,太郎"});
        AttendanceBook book(*m_grid);
        const auto journal = journalFor(book);
        QCOMPARE(journal->attend("taro", "192.168.0.12"), wire::AttendanceTaken);
        // The receipt's instant is the last one before midnight; every later
        // look at the clock sees the next day, a second late.
        m_lecture->setDeadline({QDateTime(QDate(2026, 12, 9), QTime(23, 59, 59)), {}});
        bool read = false;
        Clock::setSource([&read] {
            return std::exchange(read, true)
                       ? QDateTime(QDate(2026, 12, 10), QTime(0, 0, 0, 100))
                       : QDateTime(QDate(2026, 12, 9), QTime(23, 59, 59, 900));
        });
        journal->receive({"taro", "taro.c", 5, QByteArray(64, 'a'), 1, m_lecture->kadaidir()});
        QCOMPARE(m_grid->text(1, RosterGrid::Assignment), QStringLiteral("23:59:59"));
        QCOMPARE(m_grid->lateNote(1), QString());
        const QStringList lines =
            cp932::decode(readBytes(LectureJournal::pathFor("情報処理演習Ⅰ", QDate(2026, 12, 9))))
                .split(QStringLiteral("\r\n"));
        QCOMPARE(lines.value(2), "提出,23:59:59,taro,taro.c,5," + QByteArray(64, 'a') +
                                     ",2026/12/09,,1," + m_lecture->kadaidir());
    }

    void everyLectureNameGetsAJournalOfItsOwn()
    {
        const QStringList names{"情報処理演習Ⅰ",
                                "情報処理演習Ⅱ",
                                "a/b",
                                "a\\b",
                                "a:b",
                                "a*b?\"<>|",
                                "",
                                "..",
                                " . ",
                                QString(300, u'長'),
                                QString(300, u'長') + u'x',
                                "改行\r\nあり",
                                "😀 絵文字"};
        QSet<QString> paths;
        for (const QString &name : names) {
            const QString journal = LectureJournal::pathFor(name, QDate(2026, 12, 9));
            QCOMPARE(QFileInfo(journal).absolutePath(), LectureJournal::folder());
            const QString fileName = QFileInfo(journal).fileName();
            QVERIFY2(fileName.startsWith(QStringLiteral("2026-12-09_")), qPrintable(fileName));
            QVERIFY2(QFile::encodeName(fileName).size() <= 255, qPrintable(fileName));
            QVERIFY2(
                !fileName.contains(QRegularExpression(QStringLiteral("[\\x00-\\x1f:*?\"<>|\\\\]"))),
                qPrintable(fileName));
            paths.insert(journal);
            // The file can really be made, for the lecture's first event.
            m_lecture->setKougimei(name);
            AttendanceBook book(*m_grid);
            Recorded lecture(*m_lecture, book);
            lecture.receive({"taro", "taro.c", 1, QByteArray(64, '0')});
            QVERIFY2(readBytes(LectureJournal::pathFor(name, Clock::today()))
                         .startsWith(cp932::encode(QStringLiteral("講義,") + name)),
                     qPrintable(name));
        }
        QCOMPARE(paths.size(), names.size());
    }

    void reopeningTheRosterRestoresTodaysRecords()
    {
        journalATakenLecture();
        const QByteArray before = readBytes(todaysJournal());
        const QString marked = m_grid->text(1, RosterGrid::Attendance);
        const QString stamped = m_grid->text(1, RosterGrid::Assignment);
        // The same lecture again, without jiro and with students in another order.
        AttendanceBook book(*m_grid);
        const auto journal = journalFor(book);
        load({"hanako,花子", "taro,太郎"});
        QCOMPARE(m_desktop->messages.asked,
                 QStringList{
                     "本日の「情報処理演習Ⅰ」の記録が残っています (出席 2 人、課題提出 1 人)｡\r\n"
                     "記録を表に復元しますか?\r\n"
                     "いいえを選ぶと新しく記録を始めます｡前の記録は別の名前で残します｡"});
        QCOMPARE(m_grid->text(2, RosterGrid::Attendance), marked);
        QCOMPARE(m_grid->text(2, RosterGrid::Address), QStringLiteral("192.168.0.12"));
        QCOMPARE(m_grid->text(2, RosterGrid::Assignment), stamped);
        QCOMPARE(m_grid->text(1, RosterGrid::Attendance), QString());
        QCOMPARE(m_log->text(),
                 QStringLiteral("本日の記録から出席 1 人と課題提出 1 人を復元しました｡\r\n"
                                "名簿にないため復元しなかったユーザID: jiro\r\n"));
        // The journal goes on: a restored student stays present, a new one is added.
        QCOMPARE(journal->attend("taro", "192.168.0.50"), wire::AttendanceAlready);
        QCOMPARE(journal->attend("hanako", "192.168.0.13"), wire::AttendanceTaken);
        const QByteArray after = readBytes(todaysJournal());
        QVERIFY(after.startsWith(before));
        const QStringList added = cp932::decode(after.mid(before.size())).split("\r\n");
        QVERIFY2(QRegularExpression("^再申告,\\d\\d:\\d\\d:\\d\\d,2,taro,192.168.0.50$")
                     .match(added.value(0))
                     .hasMatch(),
                 qPrintable(added.value(0)));
        QCOMPARE(added.mid(1), (QStringList{"出席," + m_grid->text(1, RosterGrid::Attendance) +
                                                ",1,hanako,192.168.0.13",
                                            ""}));
        // Another lecture's roster offers nothing and starts no journal.
        load({"taro,太郎"}, QStringLiteral("情報処理演習Ⅱ"));
        QCOMPARE(m_desktop->messages.asked.size(), 1);
        QCOMPARE(m_grid->text(1, RosterGrid::Attendance), QString());
        QVERIFY(!QFileInfo::exists(todaysJournal(QStringLiteral("情報処理演習Ⅱ"))));
    }

    void flagsSurviveRestore()
    {
        load({"taro,太郎", "hanako,花子", "jiro,次郎"});
        {
            AttendanceBook book(*m_grid);
            const auto journal = journalFor(book);
            journal->attend("taro", "192.168.0.12");
            journal->attend("hanako", "192.168.0.12");
            journal->attend("jiro", "192.168.0.14");
            QCOMPARE(journal->attend("jiro", "192.168.0.15"), wire::AttendanceAlready);
        }
        AttendanceBook book(*m_grid);
        const auto journal = journalFor(book);
        load({"taro,太郎", "hanako,花子", "jiro,次郎"});
        QCOMPARE(m_grid->presentCount(), 3);
        QCOMPARE(m_grid->addressFlag(1), QStringLiteral("同じアドレスから出席: hanako"));
        QCOMPARE(m_grid->addressFlag(2), QStringLiteral("同じアドレスから出席: taro"));
        QCOMPARE(m_grid->addressFlag(3), QStringLiteral("別のアドレスからも申告: 192.168.0.15"));
    }

    void decliningKeepsTheOldJournalAndStartsAFreshOne()
    {
        journalATakenLecture();
        const QByteArray old = readBytes(todaysJournal());
        AttendanceBook book(*m_grid);
        const auto journal = journalFor(book);
        // hanako attends while the lecturer reads the question.
        m_desktop->messages.whileShown = [&](const QString &) {
            QCOMPARE(journal->attend("hanako", "192.168.0.13"), wire::AttendanceTaken);
        };
        m_desktop->messages.nextAnswers << false;
        load({"taro,太郎", "hanako,花子"});
        QCOMPARE(m_desktop->messages.asked.size(), 1);
        QCOMPARE(m_grid->text(1, RosterGrid::Attendance), QString());
        // The old journal stays as it was; the day goes on in a second file.
        const QString keptPath = todaysJournal();
        const QString fresh = keptPath.chopped(4) + QStringLiteral("_2.txt");
        QVERIFY(readBytes(keptPath).startsWith(old));
        QCOMPARE(readBytes(fresh), cp932Lines({"講義,情報処理演習Ⅰ",
                                               "出席," + m_grid->text(2, RosterGrid::Attendance) +
                                                   ",2,hanako,192.168.0.13"}));
        QCOMPARE(m_log->text(),
                 QStringLiteral("前の記録は %1 として残しました｡\r\n").arg(keptPath));
        // Declined once more with nobody attending meanwhile: the fresh
        // journal holds no event, and opening the roster again asks nothing.
        m_desktop->messages.whileShown = nullptr;
        m_desktop->messages.nextAnswers << false;
        load({"taro,太郎"});
        load({"taro,太郎"});
        QCOMPARE(m_desktop->messages.asked.size(), 2);
    }

    void unwritableJournalIsReportedOnceAndTheLectureGoesOn()
    {
        // A file where the journal folder should be.
        QVERIFY(QDir().mkpath(QFileInfo(LectureJournal::folder()).absolutePath()));
        writeBytes(LectureJournal::folder(), "not a folder");
        load({"taro,太郎", "hanako,花子"});
        AttendanceBook book(*m_grid);
        const auto journal = journalFor(book);
        QStringList failures;
        connect(&journal->journal, &LectureJournal::failed,
                [&](const QString &text) { failures << text; });
        QCOMPARE(journal->attend("taro", "192.168.0.12"), wire::AttendanceTaken);
        QCOMPARE(journal->attend("hanako", "192.168.0.13"), wire::AttendanceTaken);
        journal->receive({"taro", "taro.c", 5, QByteArray(64, 'a')});
        QCOMPARE(failures.size(), 1);
        QVERIFY2(
            failures[0].startsWith(
                QStringLiteral("出欠と課題提出の記録 %1 に書き込めません: ").arg(todaysJournal())),
            qPrintable(failures[0]));
        QVERIFY(RosterGrid::isTimeStamp(m_grid->text(2, RosterGrid::Attendance)));
    }

    void logShowsTheNewestEntriesAndSavesThemAllNewestFirst()
    {
        load({});
        QtTextLog log(nullptr, 3);
        RecordSaves saves(*m_grid, *m_lecture, log, m_desktop->dialogs, m_desktop->messages);
        QString all;
        for (int i = 1; i <= 7; ++i) {
            const QString entry = i == 4 ? QStringLiteral("四番目\r\n二行目\r\n")
                                         : QStringLiteral("entry %1\r\n").arg(i);
            log.insertAtTop(entry);
            all.prepend(entry);
        }
        // Entries arriving together are shown together, a moment later.
        QTRY_COMPARE(log.text(), QStringLiteral("entry 7\r\nentry 6\r\nentry 5\r\n"));
        QCOMPARE(log.blockCount(), 4);
        QCOMPARE(saveTo("all.log", saves, &RecordSaves::saveLog), cp932::encode(all + "\r\n"));
        // What the lecturer typed into the box is saved as it is shown.
        log.moveCursor(QTextCursor::Start);
        log.insertPlainText(QStringLiteral("メモ "));
        QCOMPARE(saveTo("edited.log", saves, &RecordSaves::saveLog),
                 cp932::encode("メモ " + all + "\r\n"));
        // After the lecturer emptied the box it fills up to the newest entries
        // again, and no entry is cut short.
        log.clear();
        for (int i = 8; i <= 11; ++i)
            log.insertAtTop(QStringLiteral("entry %1\r\n").arg(i));
        QTRY_COMPARE(log.text(), QStringLiteral("entry 11\r\nentry 10\r\nentry 9\r\n"));
        // What the lecturer emptied out stays out of the saved log, now and later.
        QCOMPARE(saveTo("emptied.log", saves, &RecordSaves::saveLog),
                 cp932::encode("entry 11\r\nentry 10\r\nentry 9\r\nentry 8\r\n" +
                               all.mid(all.indexOf(QStringLiteral("四番目"))) + "\r\n"));
        // In code page 932, with a line end after the last entry.
        m_log->insertAtTop(QStringLiteral("first\r\n"));
        m_log->insertAtTop(QStringLiteral("二番目\r\n"));
        QCOMPARE(saveTo("lecture.log", *m_saves, &RecordSaves::saveLog),
                 QByteArray("\x93\xf1\x94\xd4\x96\xda\r\nfirst\r\n\r\n"));
        QCOMPARE(m_log->text(), QStringLiteral("二番目\r\nfirst\r\n")); // saving changes nothing
        QCOMPARE(m_desktop->dialogs.proposedNames, QStringList(4, "情報処理演習Ⅰ.log"));
        QCOMPARE(m_desktop->dialogs.filters, QStringList(4, "logﾌｧｲﾙ (*.log)|*.log"));
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }

    void entrySpoolReadsNewestFirstAndSaysWhyItFails()
    {
        EntrySpool spool;
        QVERIFY(spool.append("one"));
        QVERIFY(spool.append("two"));
        QList<QByteArray> read;
        QVERIFY(spool.readNewestFirst([&](const QByteArray &entry) {
            read << entry;
            return true;
        }));
        QCOMPARE(read, (QList<QByteArray>{"two", "one"}));
        QVERIFY(!spool.readNewestFirst([](const QByteArray &) { return false; }));

        const QByteArray tmp = qgetenv("TMPDIR");
        const auto restore = qScopeGuard([&] { qputenv("TMPDIR", tmp); });
        // A file where the folder for temporary files should be: no spool
        // can be made there, whoever runs the test.
        QTemporaryFile notAFolder;
        QVERIFY(notAFolder.open());
        qputenv("TMPDIR", QFile::encodeName(notAFolder.fileName()));
        EntrySpool homeless;
        const Result<> stored = homeless.append("lost");
        QVERIFY(!stored);
        QVERIFY2(stored.error().contains(notAFolder.fileName()), qPrintable(stored.error()));
        QCOMPARE(homeless.append("later").error(), stored.error());
        QCOMPARE(homeless.readNewestFirst([](const QByteArray &) { return true; }).error(),
                 stored.error());
    }

    void tableFileHoldsHeaderAndStudentsInCodePage932()
    {
        // The heading row alone without a roster, and after it is closed.
        QCOMPARE(saveTableTo(QStringLiteral("none.txt")), HeaderBytes);
        load({"taro,太郎", "hanako,花子"});
        m_roster->close();
        QCOMPARE(saveTableTo(QStringLiteral("closed.txt")), HeaderBytes);
        QCOMPARE(m_desktop->dialogs.proposedNames, (QStringList{".txt", ".txt"}));

        load({"taro,山田,太郎", "hanako,花子", "ﾃｽﾄ1,"});
        markTaro();
        QCOMPARE(m_grid->rows(), 5); // the total line is in the grid, not in the file
        // An earlier, longer file is replaced.
        writeBytes(path(QStringLiteral("table.txt")), QByteArray(10000, 'x'));
        QCOMPARE(saveTableTo(QStringLiteral("table.txt")),
                 HeaderBytes + "taro,\x8e\x52\x93\x63,\x91\xbe\x98\x59,"
                               "09:15:00,10:00:00,192.168.0.12\r\n"
                               "hanako,\x89\xd4\x8e\x71,,,\r\n"
                               "\xc3\xbd\xc4"
                               "1,,,,\r\n");
        QCOMPARE(m_desktop->dialogs.proposedNames.last(), QStringLiteral("情報処理演習Ⅰ.txt"));
        QCOMPARE(m_desktop->dialogs.filters, QStringList(3, "txtﾌｧｲﾙ (*.txt)|*.txt"));
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }

    void cancelledOrFailedSavesWriteNothing()
    {
        load({"taro,太郎"});
        m_saves->saveTable();
        m_saves->saveLog();
        QCOMPARE(m_desktop->dialogs.proposedNames.size(), 2);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"roster.cfg"});
        QVERIFY(m_desktop->messages.shown.isEmpty());
        // A folder that does not exist: reported with the system's reason.
        const QString target = path(QStringLiteral("missing/table.txt"));
        m_desktop->dialogs.nextAnswers << target;
        m_saves->saveTable();
        QCOMPARE(m_desktop->messages.shown.size(), 1);
        const QString prefix = target + QStringLiteral(" に保存できませんでした｡\r\n");
        QVERIFY2(m_desktop->messages.shown[0].startsWith(prefix),
                 qPrintable(m_desktop->messages.shown[0]));
        QVERIFY(m_desktop->messages.shown[0].size() > prefix.size()); // the system's reason
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("missing"))));
    }

    void failedWriteKeepsTheEarlierFile()
    {
        QStringList students;
        for (int i = 0; i < 500; ++i)
            students << QStringLiteral("s%1,学生 %1").arg(i);
        load(students);
        const QByteArray good = HeaderBytes + "earlier table\r\n";
        writeBytes(path(QStringLiteral("table.txt")), good);
        {
            const FileSizeLimit diskFull(4096); // the table is about 10 KiB
            m_desktop->dialogs.nextAnswers << path(QStringLiteral("table.txt"));
            m_saves->saveTable();
        }
        QCOMPARE(m_desktop->messages.shown.size(), 1);
        const QString reason = QString::fromLocal8Bit(std::strerror(EFBIG));
        QVERIFY2(m_desktop->messages.shown[0].endsWith(QStringLiteral("\r\n") + reason),
                 qPrintable(m_desktop->messages.shown[0]));
        QCOMPARE(readBytes(path(QStringLiteral("table.txt"))), good);
        // No temporary file is left behind either.
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files),
                 (QStringList{"roster.cfg", "table.txt"}));
    }

    void clipboardTextUsesTheDelimiter_data()
    {
        QTest::addColumn<QString>("delimiter");
        QTest::newRow("tab") << QStringLiteral("\t");
        QTest::newRow("comma") << QStringLiteral(",");
    }
    void clipboardTextUsesTheDelimiter()
    {
        QFETCH(QString, delimiter);
        load({"taro,山田,太郎", "hanako,花子"});
        markTaro();
        m_export->configure(delimiter, QString());
        m_desktop->clipboard.text = QStringLiteral("earlier text");
        m_export->copy();
        QString expected = QStringLiteral("ユーザID|ユーザ名|出欠|課題|接続IPアドレス\r\n"
                                          "taro|山田,太郎|09:15:00|10:00:00|192.168.0.12\r\n"
                                          "hanako|花子|||\r\n");
        expected.replace(u'|', delimiter);
        QCOMPARE(m_desktop->clipboard.text, expected);
        QVERIFY(m_desktop->processes.commandLines.isEmpty());
        // The spreadsheet starts after the same copy.
        m_desktop->clipboard.text.clear();
        m_export->configure(delimiter, QStringLiteral("/opt/calc/bin/calc --calc"));
        m_export->copyAndLaunch();
        QCOMPARE(m_desktop->clipboard.text, expected);
        QCOMPARE(m_desktop->processes.commandLines, QStringList{"/opt/calc/bin/calc --calc"});
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }

    // The copy goes to a spreadsheet: an ID or a name it would take for a
    // formula keeps a leading "'". The saved table is the roster program's
    // own format and stays byte for byte as it was.
    void copiedTableKeepsFormulaLikeCellsAsText()
    {
        load({"=1+2,@SUM(A1)", "-x,+y", "taro,a-b"});
        m_export->configure(QStringLiteral("\t"), QString());
        m_export->copy();
        QCOMPARE(m_desktop->clipboard.text.split("\r\n").mid(1, 3),
                 (QStringList{"'=1+2\t'@SUM(A1)\t\t\t", "'-x\t'+y\t\t\t", "taro\ta-b\t\t\t"}));
        QCOMPARE(saveTableTo(QStringLiteral("table.txt")),
                 HeaderBytes + "=1+2,@SUM(A1),,,\r\n-x,+y,,,\r\ntaro,a-b,,,\r\n");
    }

    void spreadsheetFailureIsReported_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("empty") << QString();
        QTest::newRow("blanks") << QStringLiteral("   ");
        QTest::newRow("no such program") << QStringLiteral("/no/such/calc --calc");
        QTest::newRow("a folder") << QDir::tempPath();
    }
    void spreadsheetFailureIsReported()
    {
        QFETCH(QString, command);
        QtProcessStarter processes;
        TableExport exporter(*m_grid, m_desktop->clipboard, processes, m_desktop->messages);
        exporter.configure(QStringLiteral(","), command);
        exporter.copyAndLaunch();
        QCOMPARE(m_desktop->messages.shown, QStringList{LaunchFailure.arg(command)});
        QCOMPARE(m_desktop->clipboard.text,
                 QStringLiteral("ユーザID,ユーザ名,出欠,課題,接続IPアドレス\r\n"));
    }

    void processStarterPassesArguments()
    {
        QtProcessStarter processes;
        const QString plain = path(QStringLiteral("plain"));
        const QString blank = path(QStringLiteral("with blank"));
        // A program found on the PATH, a plain argument and a quoted one.
        QVERIFY(processes.startDetached(QStringLiteral("touch %1 \"%2\"").arg(plain, blank)));
        QTRY_VERIFY(QFileInfo::exists(plain) && QFileInfo::exists(blank));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 2);
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
