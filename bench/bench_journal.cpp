// The lecture journal on the road of every attendance: the cost of one mark
// written to the journal (median and 99th percentile), what forcing the file
// to the disk would add to each reply, 1,000 students marked at once, and
// the event loop's longest pause while the once-a-second flush runs on a
// slow disk (an injected 200 ms flush, or the real one on the folder named
// by BENCH_JOURNAL_DIR, for example a throttled or network mount).
#include "server/app/classrules.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/records/journalfile.h"
#include "server/records/lecturejournal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Students = 1000;
constexpr int Rounds = 20;

struct Percentiles
{
    double median;
    double p99;
};

Percentiles percentiles(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

RosterGrid::Row student(int number)
{
    RosterGrid::Row row;
    row[RosterGrid::UserId] = QStringLiteral("s%1").arg(number, 7, 10, QLatin1Char('0'));
    row[RosterGrid::UserName] = QStringLiteral("学生 %1").arg(number);
    return row;
}

void loadRoster(RosterGrid &grid)
{
    std::vector<RosterGrid::Row> rows;
    for (int i = 0; i < Students; ++i)
        rows.push_back(student(i));
    rows.push_back({QStringLiteral("計"), QStringLiteral("%1 人").arg(Students)});
    grid.replaceRowsFrom(1, std::move(rows));
    grid.setRosterCount(Students);
}

// Microseconds of each mark (the book's decision, the grid and the journal
// line), over rounds of a whole class attending.
std::vector<double> timeMarks(Lecture &lecture, bool journalOn, double *classMs)
{
    std::vector<double> samples;
    *classMs = 0;
    for (int round = 0; round < Rounds; ++round) {
        RosterGrid grid;
        loadRoster(grid);
        AttendanceBook book(grid);
        LectureJournal journal(lecture, book);
        ClassRules rules(lecture, book, journal);
        QElapsedTimer whole;
        whole.start();
        for (int i = 0; i < Students; ++i) {
            QElapsedTimer one;
            one.start();
            const QString id = grid.text(i + 1, RosterGrid::UserId);
            const QString address = QStringLiteral("192.168.0.12");
            // With the journal: the server's own rules; without: the book alone.
            if (journalOn)
                rules.attend(id, address, true);
            else
                book.markPresent(id, address);
            samples.push_back(double(one.nsecsElapsed()) / 1000.0);
        }
        *classMs = std::max(*classMs, double(whole.nsecsElapsed()) / 1e6);
    }
    return samples;
}

Percentiles timeSyncs(const QString &path)
{
    JournalFile file;
    file.open(path);
    std::vector<double> samples;
    for (int i = 0; i < 200; ++i) {
        file.append(QByteArrayLiteral("出席,09:15:02,1,s0000001,192.168.0.12\r\n"));
        QElapsedTimer timer;
        timer.start();
        file.sync();
        samples.push_back(double(timer.nsecsElapsed()) / 1000.0);
    }
    return percentiles(samples);
}

int slowSync(int fd)
{
    ::usleep(200 * 1000);
    return ::fdatasync(fd);
}

// The longest gap (ms) between turns of the event loop over `seconds`, with
// a line appended every 20 ms and the file's own timed flush; with
// `syncHere`, the flush is instead forced on this thread once a second, as
// it was before it moved to a thread of its own.
double longestPause(const QString &path, int seconds, bool syncHere)
{
    JournalFile file;
    file.open(path);
    QElapsedTimer run;
    QElapsedTimer sinceTurn;
    run.start();
    sinceTurn.start();
    double longest = 0;
    qint64 lastSync = 0;
    QTimer turn;
    turn.setInterval(5);
    QObject::connect(&turn, &QTimer::timeout, [&] {
        longest = std::max(longest, double(sinceTurn.nsecsElapsed()) / 1e6);
        sinceTurn.restart();
    });
    QTimer writer;
    writer.setInterval(20);
    QObject::connect(&writer, &QTimer::timeout, [&] {
        file.append(QByteArrayLiteral("出席,09:15:02,1,s0000001,192.168.0.12\r\n"));
        if (syncHere && run.elapsed() - lastSync >= 1000) {
            lastSync = run.elapsed();
            file.sync();
        }
    });
    turn.start();
    writer.start();
    while (run.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return longest - 5; // the timer's own interval is no pause
}

void reportPauses(const QString &folder, const char *disk)
{
    const QString path = folder + QStringLiteral("/pause.txt");
    std::printf("longest event-loop pause, %s: %.1f ms with the flush on its own thread, "
                "%.1f ms with it on the loop's\n",
                disk, longestPause(path, 5, false), longestPause(path, 5, true));
    QFile::remove(path);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    Lecture lecture;
    lecture.setKougimei(QStringLiteral("情報処理演習Ⅰ（月曜3限）"));

    double offMs = 0;
    double onMs = 0;
    const Percentiles off = percentiles(timeMarks(lecture, false, &offMs));
    const Percentiles on = percentiles(timeMarks(lecture, true, &onMs));
    const Percentiles sync = timeSyncs(data.filePath(QStringLiteral("sync.txt")));
    std::printf("journals in %s\n", qPrintable(data.path()));
    std::printf("%-34s %12s %12s\n", "", "median (us)", "p99 (us)");
    std::printf("%-34s %12.1f %12.1f\n", "mark without journal", off.median, off.p99);
    std::printf("%-34s %12.1f %12.1f\n", "mark with journal line", on.median, on.p99);
    std::printf("%-34s %12.1f %12.1f\n", "journal line alone (difference)", on.median - off.median,
                on.p99 - off.p99);
    std::printf("%-34s %12.1f %12.1f\n", "fdatasync of one line", sync.median, sync.p99);
    std::printf("%d students marked, slowest of %d rounds: %.1f ms without, %.1f ms with journal\n",
                Students, Rounds, offMs, onMs);
    reportPauses(data.path(), "this disk");
    if (qEnvironmentVariableIsSet("BENCH_JOURNAL_DIR"))
        reportPauses(qEnvironmentVariable("BENCH_JOURNAL_DIR"), "BENCH_JOURNAL_DIR");
    JournalFile::setSyncCall(slowSync);
    reportPauses(data.path(), "a 200 ms flush");
    JournalFile::setSyncCall(&::fdatasync);
    return 0;
}
