#include "platform/qtprocessstarter.h"
#include "platform/qttextlog.h"
#include "server/roster/lecture.h"
#include "server/roster/recordsaves.h"
#include "server/roster/rostercommands.h"
#include "server/roster/rostergrid.h"
#include "server/roster/tableexport.h"
#include "support/fakedesktop.h"
#include "support/files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <sys/resource.h>

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

QStringList roster(const QStringList &students)
{
    return QStringList{"kougimei=情報処理演習Ⅰ", "tantousya=山田 太郎", "<start data>"} + students +
           QStringList{"<end data>"};
}

// Makes writes beyond `bytes` fail for this process, as a full disk would.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
};

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
    void load(const QStringList &students)
    {
        const QString file = path(QStringLiteral("roster.cfg"));
        writeBytes(file, cp932Lines(roster(students)));
        m_roster->load(file);
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }
    QByteArray saveTableTo(const QString &name)
    {
        m_desktop->dialogs.nextAnswers << path(name);
        m_saves->saveTable();
        return readBytes(path(name));
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
    }

    void tableFileHoldsHeaderAndStudentsInCodePage932()
    {
        load({"taro,山田,太郎", "hanako,花子", "ﾃｽﾄ1,"});
        markTaro();
        QCOMPARE(m_grid->rows(), 5); // the total line is in the grid, not in the file
        const QByteArray bytes = saveTableTo(QStringLiteral("table.txt"));
        QCOMPARE(bytes, HeaderBytes + "taro,\x8e\x52\x93\x63,\x91\xbe\x98\x59,"
                                      "09:15:00,10:00:00,192.168.0.12\r\n"
                                      "hanako,\x89\xd4\x8e\x71,,,\r\n"
                                      "\xc3\xbd\xc4"
                                      "1,,,,\r\n");
        QCOMPARE(m_desktop->dialogs.proposedNames, QStringList{"情報処理演習Ⅰ.txt"});
        QCOMPARE(m_desktop->dialogs.filters, QStringList{"txtﾌｧｲﾙ (*.txt)|*.txt"});
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }

    void tableFileIsHeaderOnlyWithoutRoster()
    {
        QCOMPARE(saveTableTo(QStringLiteral("none.txt")), HeaderBytes);
        load({"taro,太郎", "hanako,花子"});
        m_roster->close();
        QCOMPARE(saveTableTo(QStringLiteral("closed.txt")), HeaderBytes);
        QCOMPARE(m_desktop->dialogs.proposedNames, (QStringList{".txt", ".txt"}));
    }

    void savingAgainReplacesTheFile()
    {
        writeBytes(path(QStringLiteral("table.txt")), QByteArray(10000, 'x'));
        load({"taro,太郎"});
        QCOMPARE(saveTableTo(QStringLiteral("table.txt")),
                 HeaderBytes + "taro,\x91\xbe\x98\x59,,,\r\n");
    }

    void logFileIsNewestFirstWithTrailingLineEnd()
    {
        load({});
        m_log->insertAtTop(QStringLiteral("first\r\n"));
        m_log->insertAtTop(QStringLiteral("二番目\r\n"));
        m_desktop->dialogs.nextAnswers << path(QStringLiteral("lecture.log"));
        m_saves->saveLog();
        QCOMPARE(readBytes(path(QStringLiteral("lecture.log"))),
                 QByteArray("\x93\xf1\x94\xd4\x96\xda\r\nfirst\r\n\r\n"));
        QCOMPARE(m_desktop->dialogs.proposedNames, QStringList{"情報処理演習Ⅰ.log"});
        QCOMPARE(m_desktop->dialogs.filters, QStringList{"logﾌｧｲﾙ (*.log)|*.log"});
        // Saving leaves the log as it was.
        QCOMPARE(m_log->text(), QStringLiteral("二番目\r\nfirst\r\n"));
    }

    void cancelledDialogsWriteNothing()
    {
        load({"taro,太郎"});
        m_saves->saveTable();
        m_saves->saveLog();
        QCOMPARE(m_desktop->dialogs.proposedNames.size(), 2);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"roster.cfg"});
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }

    void failedSaveIsReportedAndNothingIsWritten()
    {
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
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }

    void spreadsheetStartsAfterTheCopy()
    {
        load({"taro,太郎"});
        m_export->configure(QStringLiteral("\t"), QStringLiteral("/opt/calc/bin/calc --calc"));
        m_export->copyAndLaunch();
        QCOMPARE(m_desktop->processes.commandLines, QStringList{"/opt/calc/bin/calc --calc"});
        QVERIFY(m_desktop->clipboard.text.startsWith(QStringLiteral("ユーザID\t")));
        QVERIFY(m_desktop->messages.shown.isEmpty());
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
