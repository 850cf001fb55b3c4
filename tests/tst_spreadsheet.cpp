#include "common/cp932.h"
#include "server/term/ledger.h"
#include "server/term/ledgercsv.h"
#include "server/term/submissionsindex.h"
#include "support/files.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The ledger and the submissions list as the lecturer opens them in a real
// spreadsheet: LibreOffice Calc reads each CSV as code page 932, saves it as
// .xlsx, and writes that back as CSV with every text cell quoted, so that
// the cells and their kinds (text or number) can be compared.

namespace {

constexpr int Skipped = 77; // ctest's SKIP_RETURN_CODE
constexpr int Cp932 = 60;   // LibreOffice's number for code page 932
constexpr int Japanese = 1041;

LedgerRow ledgerRow(const QString &id, const QString &name, SessionStatus first,
                    SessionStatus second, const QString &rate)
{
    LedgerRow row{id, name, true, {{first, -1, false}, {second, -1, false}}, {}};
    row.totals.present = (first == SessionStatus::Present) + (second == SessionStatus::Present);
    row.totals.absent = (first == SessionStatus::Absent) + (second == SessionStatus::Absent);
    row.totals.late = (first == SessionStatus::Late) + (second == SessionStatus::Late);
    row.totals.rate = rate;
    row.totals.absencesLeft = 4;
    return row;
}

QByteArray ledgerBytes()
{
    Ledger ledger;
    ledger.sessions = {QDate(2026, 10, 5), QDate(2026, 10, 12)};
    ledger.rows.push_back(
        ledgerRow("s2401", "佐藤, 一郎", SessionStatus::Present, SessionStatus::Late, "75.0"));
    ledger.rows.push_back(ledgerRow("s2402", "鈴木　花子 \"はな\"", SessionStatus::Absent,
                                    SessionStatus::Present, "50.0"));
    ledger.rows.push_back(
        ledgerRow("髙橋", "髙橋 ①", SessionStatus::Present, SessionStatus::Present, "100.0"));
    // Cells a spreadsheet would take for formulas stay text.
    ledger.rows.push_back(
        ledgerRow("=1+2", "@SUM(A1)", SessionStatus::Present, SessionStatus::Present, "100.0"));
    return cp932::encode(ledgerCsv(ledger));
}

QByteArray submissionsBytes()
{
    SubmissionRow handedIn;
    handedIn.userId = "s2401";
    handedIn.userName = "佐藤, 一郎";
    handedIn.receipt = {"s2401",
                        "s2401.docx",
                        1536,
                        QByteArray(64, 'a'),
                        QDateTime(QDate(2026, 12, 9), QTime(10, 5, 7)),
                        125,
                        {}};
    handedIn.versions = 2;
    handedIn.check = SubmissionRow::Match;
    SubmissionRow absent;
    absent.userId = "s2402";
    absent.userName = "鈴木　花子";
    return submissionsCsv({handedIn, absent});
}

// Runs soffice with its own home and profile, so that no other run's
// profile lock can make it wait.
bool soffice(const QString &home, const QStringList &arguments, QString *output)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    // Calc as a Japanese desktop runs it: dates read and shown the Japanese way.
    environment.insert("LANG", "ja_JP.UTF-8");
    environment.insert("LC_ALL", "ja_JP.UTF-8");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start("soffice", QStringList{"-env:UserInstallation=file://" + home + "/profile",
                                         "--headless", "--norestore", "--nologo"} +
                                 arguments);
    const bool finished = process.waitForFinished(90000);
    *output = QString::fromLocal8Bit(process.readAll());
    if (!finished)
        process.kill();
    return finished && process.exitCode() == 0;
}

} // namespace

class TestSpreadsheet : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QHash<QString, QStringList> m_back; // file name: lines after the round trip

private Q_SLOTS:
    void initTestCase()
    {
        const QString csv = m_dir.filePath("csv");
        QDir().mkpath(csv);
        writeBytes(csv + "/ledger.csv", ledgerBytes());
        writeBytes(csv + "/submissions.csv", submissionsBytes());
        const QString options = QStringLiteral("44,34,%1,1,,%2").arg(Cp932).arg(Japanese);
        QString output;
        QVERIFY2(soffice(m_dir.path(),
                         {"--infilter=Text - txt - csv (StarCalc):" + options, "--convert-to",
                          "xlsx", "--outdir", m_dir.filePath("xlsx"), csv + "/ledger.csv",
                          csv + "/submissions.csv"},
                         &output),
                 qPrintable(output));
        // Token 7: every text cell quoted, numbers bare.
        QVERIFY2(soffice(m_dir.path(),
                         {"--convert-to", "csv:Text - txt - csv (StarCalc):" + options + ",true",
                          "--outdir", m_dir.filePath("back"), m_dir.filePath("xlsx/ledger.xlsx"),
                          m_dir.filePath("xlsx/submissions.xlsx")},
                         &output),
                 qPrintable(output));
        for (const QString name : {"ledger.csv", "submissions.csv"}) {
            const QByteArray bytes = readBytes(m_dir.filePath("back/") + name);
            QVERIFY2(!bytes.isEmpty(), qPrintable(name + u' ' + output));
            QStringList lines = cp932::decode(bytes).split(QRegularExpression("\r?\n"));
            if (lines.last().isEmpty())
                lines.removeLast();
            m_back.insert(name, lines);
        }
    }

    void ledgerCellsSurvive()
    {
        QCOMPARE(
            m_back.value("ledger.csv"),
            (QStringList{"\"ユーザID\",\"ユーザ名\",10月5日,10月12日,\"出席\",\"遅刻\","
                         "\"欠席\",\"公欠\",\"出席率\",\"受験資格\",\"あと欠席可\"",
                         "\"s2401\",\"佐藤, 一郎\",\"出\",\"遅\",1,1,0,0,75,\"可\",4",
                         "\"s2402\",\"鈴木　花子 \"\"はな\"\"\",\"欠\",\"出\",1,0,1,0,50,\"可\",4",
                         "\"髙橋\",\"髙橋 ①\",\"出\",\"出\",2,0,0,0,100,\"可\",4",
                         "\"'=1+2\",\"'@SUM(A1)\",\"出\",\"出\",2,0,0,0,100,\"可\",4"}));
    }

    void submissionsCellsSurvive()
    {
        const QStringList lines = m_back.value("submissions.csv");
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], "\"ユーザID\",\"ユーザ名\",\"ファイル名\",\"提出時刻\",\"サイズ\","
                           "\"SHA-256\",\"締切後秒\",\"版数\",\"同一\",\"照合\",\"個別締切\"");
        QCOMPARE(lines[1], "\"s2401\",\"佐藤, 一郎\",\"s2401.docx\",2026/12/9 10:05,1536,"
                           "\"" +
                               QString(64, u'a') + "\",125,2,,\"一致\",");
        QCOMPARE(lines[2], QStringLiteral("\"s2402\",\"鈴木　花子\",,,,,,,,,"));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable("soffice").isEmpty()) {
        std::puts("soffice is missing (scripts/install-deps.sh installs libreoffice-calc-nogui): "
                  "skipped");
        return Skipped;
    }
    TestSpreadsheet test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_spreadsheet.moc"
