// The term's ledger of a large course: 1,000 students and 30 sessions, each
// a journal of 1,000 marks and 2,000 receipts. Times the ledger built from
// the journals, the ledger window shown, and the CSV written, and the memory
// all of it took (peak resident size).
//
// With --archive: a department's four years instead, 8 terms × 30 lectures
// × 15 sessions × 100 students in one journal folder, and the ledger of
// every lecture and term built from it.
#include "common/cp932.h"
#include "platform/clipboard.h"
#include "platform/desktop.h"
#include "platform/folderchooser.h"
#include "platform/processstarter.h"
#include "quietdesktop.h"
#include "server/app/attendanceledger.h"
#include "server/records/lecturejournal.h"
#include "server/term/coursesettings.h"
#include "server/term/ledger.h"
#include "server/term/ledgercorrections.h"
#include "server/term/ledgercsv.h"
#include "server/ui/frmledger.h"

#include "bench/fixedfiledialogs.h"
#include "bench/procmemory.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {

constexpr int Students = 1000;
constexpr int Sessions = 30;
const QString LectureName = QStringLiteral("情報処理演習Ⅰ");

class NoFolders : public FolderChooser
{
public:
    FolderChoice chooseFolder(const QString &) override { return {}; }
};

QString studentId(int number)
{
    return QStringLiteral("s%1").arg(number, 7, 10, QLatin1Char('0'));
}

void writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(cp932::encode(text)) < 0)
        qFatal("cannot write %s", qPrintable(path));
}

QString rosterText()
{
    QString text = QStringLiteral("kougimei=%1\r\ntantousya=山田 太郎\r\nkaisi=09:00\r\n"
                                  "tikokukansan=3\r\nkaisu=30\r\nkikan=2026-04-01..2027-03-31\r\n"
                                  "<start data>\r\n")
                       .arg(LectureName);
    for (int i = 0; i < Students; ++i)
        text += studentId(i) + QStringLiteral(",学生 %1\r\n").arg(i);
    return text + QStringLiteral("<end data>\r\n");
}

// A lecture day: everyone marks between 08:55 and 09:40, then hands in two
// files.
QString journalText(int session)
{
    QString text = QStringLiteral("講義,%1\r\n").arg(LectureName);
    const QString sha(64, u'a');
    for (int i = 0; i < Students; ++i) {
        const int seconds = 8 * 3600 + 55 * 60 + (i * 7 + session * 13) % 2700;
        const QString time = QStringLiteral("%1:%2:%3")
                                 .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                                 .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                 .arg(seconds % 60, 2, 10, QLatin1Char('0'));
        text += QStringLiteral("出席,%1,%2,%3,192.168.%4.%5\r\n")
                    .arg(time)
                    .arg(i + 1)
                    .arg(studentId(i))
                    .arg(i / 250)
                    .arg(i % 250);
    }
    for (int i = 0; i < 2 * Students; ++i)
        text += QStringLiteral("提出,10:%1:00,%2,%2.c,1234,%3\r\n")
                    .arg(i % 60, 2, 10, QLatin1Char('0'))
                    .arg(studentId(i % Students), sha);
    return text;
}

double msSince(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

namespace archive {

constexpr int Terms = 8;
constexpr int Lectures = 30;
constexpr int Sessions = 15;
constexpr int Students = 100;

QString lectureName(int lecture)
{
    return QStringLiteral("演習%1").arg(lecture);
}

QDate termStart(int term)
{
    return CourseSettings::termOf(QDate(2023, 4, 1).addMonths(6 * term)).first;
}

void writeData(const QString &folder)
{
    for (int lecture = 0; lecture < Lectures; ++lecture) {
        QString roster = QStringLiteral("kougimei=%1\r\ntantousya=山田\r\nkaisi=09:00\r\n"
                                        "<start data>\r\n")
                             .arg(lectureName(lecture));
        for (int i = 0; i < Students; ++i)
            roster += studentId(i) + QStringLiteral(",学生 %1\r\n").arg(i);
        writeFile(folder + QStringLiteral("/roster%1.cfg").arg(lecture),
                  roster + QStringLiteral("<end data>\r\n"));
        for (int term = 0; term < Terms; ++term)
            for (int s = 0; s < Sessions; ++s) {
                QString text = QStringLiteral("講義,%1\r\n").arg(lectureName(lecture));
                for (int i = 0; i < Students; ++i)
                    text += QStringLiteral("出席,09:%1:00,%2,%3,192.168.0.%4\r\n")
                                .arg((i + s) % 40, 2, 10, QLatin1Char('0'))
                                .arg(i + 1)
                                .arg(studentId(i))
                                .arg(i + 1);
                writeFile(LectureJournal::pathFor(lectureName(lecture),
                                                  termStart(term).addDays(10 + 7 * s)),
                          text);
            }
    }
}

int run(const QString &folder)
{
    QDir().mkpath(LectureJournal::folder());
    writeData(folder);
    resetPeak();
    const qint64 before = statusKiB("VmHWM:");
    QElapsedTimer timer;
    timer.start();
    for (int lecture = 0; lecture < Lectures; ++lecture) {
        const QString roster = folder + QStringLiteral("/roster%1.cfg").arg(lecture);
        for (int term = 0; term < Terms; ++term) {
            Result<LedgerSource> source = readLedgerRoster(roster, termStart(term));
            if (!source)
                qFatal("%s", qPrintable(source.error()));
            const Ledger ledger = buildLedger(*source, LedgerCorrections());
            if (ledger.sessions.size() != Sessions || ledger.rows.size() != size_t(Students))
                qFatal("wrong ledger: %d sessions", int(ledger.sessions.size()));
        }
    }
    const double ms = msSince(timer);
    std::printf("%d terms x %d lectures x %d sessions x %d students\n", Terms, Lectures, Sessions,
                Students);
    std::printf("%-28s %9.1f ms   (target < 5000 ms)\n", "every ledger built", ms);
    std::printf("%-28s %9.1f MiB  (target < 128 MiB)\n", "peak memory growth",
                double(statusKiB("VmHWM:") - before) / 1024.0);
    return 0;
}

} // namespace archive

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrelle"));
    if (QCoreApplication::arguments().contains(QStringLiteral("--archive"))) {
        QTemporaryDir archiveData;
        qputenv("XDG_DATA_HOME", QFile::encodeName(archiveData.path()));
        return archive::run(archiveData.path());
    }
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    const QString roster = data.filePath(QStringLiteral("roster.cfg"));
    writeFile(roster, rosterText());
    QDir().mkpath(LectureJournal::folder());
    for (int s = 0; s < Sessions; ++s)
        writeFile(LectureJournal::pathFor(LectureName, QDate(2026, 4, 6).addDays(7 * s)),
                  journalText(s));

    FixedFileDialogs dialogs(roster);
    SilentBox messages;
    NoClipboard clipboard;
    NoProcesses processes;
    NoFolders folders;
    const Desktop desktop{dialogs, messages, clipboard, processes};
    const qint64 before = statusKiB("VmHWM:");

    QElapsedTimer timer;
    timer.start();
    AttendanceLedger ledger(dialogs, messages, clipboard);
    if (!ledger.open(roster))
        return 1;
    const double buildMs = msSince(timer);
    if (ledger.ledger().sessions.size() != Sessions || ledger.ledger().rows.size() != Students)
        qFatal("wrong ledger: %d sessions, %d rows", int(ledger.ledger().sessions.size()),
               int(ledger.ledger().rows.size()));

    timer.restart();
    FrmLedger window(desktop, folders);
    window.open(roster, QStringLiteral("\t"));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QApplication::processEvents();
    const double windowMs = msSince(timer);

    timer.restart();
    QSaveFile csv(data.filePath(QStringLiteral("ledger.csv")));
    if (!csv.open(QIODevice::WriteOnly) ||
        csv.write(cp932::encode(ledgerCsv(window.ledger().ledger()))) < 0 || !csv.commit())
        return 1;
    const double csvMs = msSince(timer);
    const qint64 after = statusKiB("VmHWM:");

    std::printf("%d students x %d sessions (%d journals of %d marks and %d receipts)\n", Students,
                Sessions, Sessions, Students, 2 * Students);
    std::printf("%-28s %9.1f ms   (target < 500 ms)\n", "ledger built", buildMs);
    std::printf("%-28s %9.1f ms   (target < 1000 ms, ledger built again)\n", "window shown",
                windowMs);
    std::printf("%-28s %9.1f ms   (target < 200 ms)\n", "CSV written", csvMs);
    std::printf("%-28s %9.1f MiB  (target < 64 MiB)\n", "peak memory growth",
                double(after - before) / 1024.0);
    std::printf("ledger summary: average %s%%, %d not eligible, %d at risk\n",
                qPrintable(ledger.ledger().averageRate()), ledger.ledger().notEligible(),
                ledger.ledger().atRisk());
    return 0;
}
