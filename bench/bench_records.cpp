// What a hostile student and an unlucky lecturer can do to the records:
//  - flood: one client announces a 65,000-character ID, attends as a student
//    of the roster and then loops on putting an empty file of its own for
//    60 s (BENCH_FLOOD_SECONDS) while a class of 20 takes
//    attendance from other machines: growth of the journal and the day log,
//    and the class's reply times;
//  - restore: the question and the restore for a 1 GiB journal (memory
//    growth, seconds to the question) and for a normal day (1,000 students,
//    10,000 receipts).
#include "bench/procmemory.h"
#include "common/clock.h"
#include "common/cp932.h"
#include "common/wire.h"
#include "platform/dialogs.h"
#include "platform/textlog.h"
#include "server/app/classrules.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/net/classroomserver.h"
#include "server/records/journaledlog.h"
#include "server/records/lecturejournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Texts of the conversation as they go over the socket.
std::string wireBytes(const QString &text)
{
    return cp932::encode(text).toStdString();
}

constexpr int Students = 1000;
constexpr int ClassSize = 20;

const QString LectureName = QStringLiteral("情報処理演習Ⅰ");

QString studentId(int number)
{
    return QStringLiteral("s%1").arg(number, 7, 10, QLatin1Char('0'));
}

void loadRoster(RosterGrid &grid)
{
    std::vector<RosterGrid::Row> rows;
    for (int i = 0; i < Students; ++i)
        rows.push_back({studentId(i), QStringLiteral("学生 %1").arg(i)});
    rows.push_back({QStringLiteral("計"), QString()});
    grid.replaceRowsFrom(1, std::move(rows));
    grid.setRosterCount(Students);
}

qint64 sizeOf(const QString &path)
{
    return QFileInfo(path).size();
}

int connectFrom(const char *from, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&server), sizeof server) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads until `lines` more line ends have come; false on a closed socket.
bool readLines(int fd, int lines)
{
    char buffer[4096];
    while (lines > 0) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        lines -= int(std::count(buffer, buffer + got, '\n'));
    }
    return true;
}

// The flooder: sends put lines as fast as the server takes them and reads
// whatever comes back.
void flood(quint16 port, std::atomic<bool> &stop, std::atomic<int> &done)
{
    const int fd = connectFrom("127.0.0.1", port);
    // Uploads are taken only from a student who attended: the last one of
    // the roster, who is not in the class below.
    const QString own = studentId(Students - 1);
    const std::string id =
        wireBytes(wire::userLine(QString(65000, u'A'))) + wireBytes(wire::userLine(own));
    ::send(fd, id.data(), id.size(), MSG_NOSIGNAL);
    std::string puts;
    for (int i = 0; i < 64; ++i)
        puts += wireBytes(wire::putLine(own + QStringLiteral(".txt"), 0));
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    char sink[65536];
    while (!stop) {
        ::send(fd, puts.data(), puts.size(), MSG_NOSIGNAL);
        while (::recv(fd, sink, sizeof sink, 0) > 0) {
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ::close(fd);
    ++done;
}

// The class: each student on a machine of its own asks for attendance in
// turn, again and again; the time of every round trip is kept (ms).
void attendUntilStopped(quint16 port, std::atomic<bool> &stop, std::vector<double> &times)
{
    std::vector<int> fds;
    for (int i = 0; i < ClassSize; ++i) {
        const std::string from = "127.0.2." + std::to_string(i + 1);
        fds.push_back(connectFrom(from.c_str(), port));
        readLines(fds.back(), 2);
    }
    for (int round = 0; !stop; ++round) {
        for (int i = 0; i < ClassSize && !stop; ++i) {
            const std::string line = wireBytes(wire::userLine(studentId(i)));
            const auto start = std::chrono::steady_clock::now();
            ::send(fds[size_t(i)], line.data(), line.size(), MSG_NOSIGNAL);
            if (!readLines(fds[size_t(i)], 1))
                return;
            times.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (int fd : fds)
        ::close(fd);
}

void attend(quint16 port, std::atomic<bool> &stop, std::atomic<int> &done,
            std::vector<double> &times)
{
    attendUntilStopped(port, stop, times);
    ++done;
}

void benchFlood(const QString &kadai)
{
    RosterGrid grid;
    loadRoster(grid);
    Lecture lecture;
    lecture.setKougimei(LectureName);
    lecture.setKadaidir(kadai);
    MemoryTextLog shown;
    JournaledLog log(shown);
    AttendanceBook book(grid);
    book.setProxyCheck(false);
    LectureJournal journal(lecture, book);
    ClassRules rules(lecture, book, journal);
    ClassroomServer server(rules, log);
    if (!server.listen(0)) {
        std::printf("flood: cannot listen\n");
        return;
    }
    const QString journalPath = LectureJournal::pathFor(LectureName, Clock::today());
    const QString dayLog = JournaledLog::pathFor(Clock::today());
    const qint64 before = sizeOf(journalPath) + sizeOf(dayLog);
    const int seconds = qEnvironmentVariableIntValue("BENCH_FLOOD_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("BENCH_FLOOD_SECONDS")
                            : 60;
    std::atomic<bool> stop{false};
    std::atomic<int> done{0};
    std::vector<double> times;
    const quint16 port = server.port();
    std::thread flooder(flood, port, std::ref(stop), std::ref(done));
    std::thread students(attend, port, std::ref(stop), std::ref(done), std::ref(times));
    QElapsedTimer run;
    run.start();
    // Just under the minute the budget is counted in.
    while (run.elapsed() < seconds * 1000 - 100)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    stop = true;
    const qint64 grownInTime = sizeOf(journalPath) + sizeOf(dayLog) - before;
    while (done < 2)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    flooder.join();
    students.join();
    const qint64 growth = grownInTime;
    std::sort(times.begin(), times.end());
    const auto at = [&](double share) {
        return times.empty() ? -1.0
                             : times[std::min(times.size() - 1, size_t(share * times.size()))];
    };
    std::printf("flood, %d s: journal + day log grew %.1f KiB (%lld + %lld bytes now)\n", seconds,
                double(growth) / 1024, sizeOf(journalPath), sizeOf(dayLog));
    std::printf("flood: class of %d, %zu replies, median %.1f ms, p99 %.1f ms, max %.1f ms\n",
                ClassSize, times.size(), at(0.5), at(0.99), at(1.0));
}

// Processor time of this process: the machine may be shared.
double cpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Answers every question with yes, noting when it came.
class TimedYes : public MessageBox
{
public:
    QElapsedTimer clock;
    double askedAfterMs = -1;
    double cpuAtQuestionMs = -1;
    qint64 peakAtQuestionKb = 0;
    void show(const QString &) override {}
    bool ask(const QString &) override
    {
        askedAfterMs = double(clock.nsecsElapsed()) / 1e6;
        cpuAtQuestionMs = cpuMs();
        peakAtQuestionKb = statusKiB("VmHWM:");
        return true;
    }
};

// A journal of `bytes`: marks for the class, then receipts over and over.
void writeJournal(const QString &path, qint64 bytes, int receipts)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QByteArray block =
        cp932::encode(QStringLiteral("講義,") + LectureName + QStringLiteral("\r\n"));
    for (int i = 0; i < Students; ++i)
        block += cp932::encode(QStringLiteral("出席,09:15:02,%1,%2,192.168.%3.%4\r\n")
                                   .arg(i + 1)
                                   .arg(studentId(i))
                                   .arg(i / 250)
                                   .arg(i % 250 + 1));
    file.write(block);
    qint64 written = block.size();
    const QByteArray hash(64, 'a');
    for (int n = 0; written < bytes || n < receipts; ++n) {
        const QByteArray line = cp932::encode(QStringLiteral("提出,10:%1:%2,%3,%3.c,1234,")
                                                  .arg(n / 60 % 60, 2, 10, QLatin1Char('0'))
                                                  .arg(n % 60, 2, 10, QLatin1Char('0'))
                                                  .arg(studentId(n % Students))) +
                                hash + "\r\n";
        file.write(line);
        written += line.size();
        if (receipts > 0 && n + 1 >= receipts && written >= bytes)
            break;
    }
}

void benchRestore(const char *what, qint64 bytes, int receipts)
{
    const QString path = LectureJournal::pathFor(LectureName, Clock::today());
    writeJournal(path, bytes, receipts);
    RosterGrid grid;
    loadRoster(grid);
    Lecture lecture;
    lecture.setKougimei(LectureName);
    AttendanceBook book(grid);
    MemoryTextLog log;
    TimedYes messages;
    {
        LectureJournal journal(lecture, book);
        resetPeak();
        const qint64 rss = statusKiB("VmRSS:");
        const double cpuBefore = cpuMs();
        messages.clock.start();
        journal.offerRestore(messages, log);
        const double totalMs = double(messages.clock.nsecsElapsed()) / 1e6;
        const qint64 peak = std::max(statusKiB("VmHWM:"), messages.peakAtQuestionKb);
        std::printf("restore %s (%.1f MiB): question after %.0f ms (%.0f ms of processor), "
                    "restored after %.0f ms, memory growth %.1f MiB, %d present\n",
                    what, double(sizeOf(path)) / (1024 * 1024), messages.askedAfterMs,
                    messages.cpuAtQuestionMs - cpuBefore, totalMs, double(peak - rss) / 1024,
                    grid.presentCount());
        if (messages.askedAfterMs < 0)
            std::printf("  MISS: the restore was not offered\n");
    }
    QFile::remove(path);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QDir().mkpath(data.filePath(QStringLiteral("kadai")));
    std::printf("records in %s\n", qPrintable(data.path()));
    // The journals begin in the morning: restore is offered for a session
    // begun within the last hours, whatever the hour the benchmark runs.
    Clock::setSource([today = QDate::currentDate()] { return QDateTime(today, QTime(10, 30)); });
    benchRestore("of a normal day", 0, 10000);
    benchRestore("of 1 GiB", qint64(1) << 30, 0);
    Clock::setSource({});
    if (!qEnvironmentVariableIsSet("BENCH_SKIP_FLOOD"))
        benchFlood(data.filePath(QStringLiteral("kadai")));
    return 0;
}
