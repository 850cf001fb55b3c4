// A class beside students who flood the handout commands, the lecturer's
// program in this process and the students on a thread of their own:
//  1. 16 connections of one address send "list" without pause and 16 of
//     another fetch a 50 MiB handout again and again, while 300 students
//     connect, attend and hand in: the class's replies p99 < 0.5 s;
//  2. "list" of 200 handouts once hashed: p99 < 5 ms;
//  3. 256 fetches never read: memory growth < 32 MiB, and every descriptor
//     back once the time limit has ended them.
// Usage: bench_handout_flood [seconds of flooding, default 20]. Exits 3 when
// a goal is missed.
#include "bench/fixedfiledialogs.h"
#include "bench/procmemory.h"
#include "common/cp932.h"
#include "platform/dialogs.h"
#include "platform/textlog.h"
#include "server/app/classrules.h"
#include "server/app/processlimits.h"
#include "server/app/rostercommands.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/net/classroomserver.h"
#include "server/net/handoutsender.h"
#include "server/records/lecturejournal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;

constexpr int Flooders = 16;
constexpr int Students = 300;
constexpr int ListedHandouts = 200;
constexpr int Listings = 2000;
constexpr int Unread = 256;
constexpr double ClassGoalSeconds = 0.5;
constexpr double ListingGoalMs = 5;
constexpr qint64 GrowthBudgetKiB = 32 * 1024;
const char *const Steps[] = {"greeting", "attendance", "image mode", "receipt"};

class SilentLog : public TextLog
{
public:
    void insertAtTop(const QString &) override {}
    QString text() const override { return {}; }
};

class NoMessages : public MessageBox
{
public:
    void show(const QString &text) override { std::printf("message: %s\n", qPrintable(text)); }
};

double since(Steady::time_point start)
{
    return std::chrono::duration<double>(Steady::now() - start).count();
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(share * double(values.size())))];
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

// A non-blocking connection from `from` (127.x.y.z) to the server.
int connectFrom(quint32 from, quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(from);
    ::bind(fd, reinterpret_cast<sockaddr *>(&at), sizeof at);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to);
    return fd;
}

// One student: connects, waits for the greeting, attends, hands in 1 KiB,
// leaves, and comes back two seconds later. Every wait is a reply time.
struct Student
{
    int id = 0;
    int fd = -1;
    int step = 0; // 0 greeting, 1 attendance, 2 image mode, 3 receipt
    std::string input;
    Steady::time_point asked;
    Steady::time_point next;
};

struct ClassRun
{
    quint16 port = 0;
    double seconds = 20;
    int listers = Flooders;
    int getters = Flooders;
    std::vector<double> replies;
    std::vector<double> bySteps[4]; // by the student's step
    long long floodBytes = 0;
    int students = 0;
};

void ask(Student &s, const std::string &text)
{
    if (::write(s.fd, text.data(), text.size()) != ssize_t(text.size()))
        std::perror("student write");
    s.asked = Steady::now();
}

// The student has a whole line: the reply to its latest request.
void advance(Student &s, ClassRun &run)
{
    const int needed = s.step == 0 ? 2 : 1;
    int lines = 0;
    for (size_t at = s.input.find("\r\n"); at != std::string::npos;
         at = s.input.find("\r\n", at + 2))
        ++lines;
    if (lines < needed)
        return;
    run.replies.push_back(since(s.asked));
    run.bySteps[s.step].push_back(since(s.asked));
    s.input.clear();
    const std::string name = "s" + std::to_string(1000 + s.id);
    switch (s.step++) {
    case 0:
        ask(s, "user " + name + "\r\n");
        return;
    case 1:
        ask(s, "put " + name + ".txt,1024\r\n");
        return;
    case 2:
        ask(s, std::string(1024, 'a'));
        return;
    default:
        ::close(s.fd);
        s.fd = -1;
        s.next = Steady::now() + std::chrono::seconds(2);
    }
}

void runClass(ClassRun &run)
{
    std::vector<int> listers;
    std::vector<int> getters;
    for (int i = 0; i < run.listers; ++i)
        listers.push_back(connectFrom(0x7f000001, run.port));
    for (int i = 0; i < run.getters; ++i)
        getters.push_back(connectFrom(0x7f000002, run.port));
    std::vector<Student> students(Students);
    const auto start = Steady::now();
    for (int i = 0; i < Students; ++i) {
        students[size_t(i)].id = i;
        students[size_t(i)].next = start + std::chrono::milliseconds(i * 2000 / Students);
    }
    std::string lists;
    for (int i = 0; i < 64; ++i)
        lists += "list\r\n";
    const std::string gets = "get h.bin\r\nget h.bin\r\n";
    std::vector<char> buffer(1 << 18);
    while (since(start) < run.seconds) {
        std::vector<pollfd> fds;
        for (int fd : listers)
            fds.push_back({fd, POLLIN | POLLOUT, 0});
        for (int fd : getters)
            fds.push_back({fd, POLLIN | POLLOUT, 0});
        const auto now = Steady::now();
        for (Student &s : students) {
            if (s.fd < 0 && now >= s.next) {
                s.fd = connectFrom(0x7f000100 + quint32(s.id % 250), run.port);
                s.step = 0;
                s.asked = now;
                ++run.students;
            }
            if (s.fd >= 0)
                fds.push_back({s.fd, POLLIN, 0});
        }
        ::poll(fds.data(), nfds_t(fds.size()), 10);
        size_t i = 0;
        for (; i < listers.size() + getters.size(); ++i) {
            if (fds[i].revents & POLLIN)
                run.floodBytes +=
                    std::max<ssize_t>(0, ::read(fds[i].fd, buffer.data(), buffer.size()));
            if (fds[i].revents & POLLOUT) {
                const std::string &flood = i < listers.size() ? lists : gets;
                (void)!::write(fds[i].fd, flood.data(), flood.size());
            }
        }
        for (Student &s : students) {
            if (s.fd < 0 || i >= fds.size() || fds[i].fd != s.fd)
                continue;
            if (fds[i++].revents & (POLLIN | POLLHUP)) {
                const ssize_t got = ::read(s.fd, buffer.data(), buffer.size());
                if (got > 0) {
                    s.input.append(buffer.data(), size_t(got));
                    advance(s, run);
                }
            }
        }
    }
    for (int fd : listers)
        ::close(fd);
    for (int fd : getters)
        ::close(fd);
    for (Student &s : students)
        if (s.fd >= 0)
            ::close(s.fd);
}

// Runs `work` on a thread while this thread's event loop serves it.
template <typename Work> void served(Work work)
{
    std::atomic_bool done = false;
    std::thread thread([&] {
        work();
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    thread.join();
}

std::vector<double> listingTimes(quint16 port, size_t replyBytes)
{
    std::vector<double> times;
    const int fd = connectFrom(0x7f000003, port);
    ::fcntl(fd, F_SETFL, 0);
    std::vector<char> buffer(1 << 16);
    size_t got = 0;
    for (int lines = 0; lines < 2;) {
        const ssize_t n = ::read(fd, buffer.data(), 1);
        lines += n == 1 && buffer[0] == '\n';
    }
    for (int i = 0; i < Listings; ++i) {
        const auto start = Steady::now();
        if (::write(fd, "list\r\n", 6) != 6)
            break;
        for (got = 0; got < replyBytes;) {
            const ssize_t n = ::read(fd, buffer.data(), buffer.size());
            if (n <= 0)
                return times;
            got += size_t(n);
        }
        times.push_back(since(start) * 1000);
    }
    ::close(fd);
    return times;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

QString writeRoster(const QTemporaryDir &dir)
{
    QByteArray bytes = cp932::encode(QStringLiteral("kougimei=a\r\ntantousya=b\r\nkadaidir=%1\r\n"
                                                    "<start data>\r\n")
                                         .arg(dir.filePath("kadai")));
    for (int i = 0; i < Students; ++i)
        bytes += "s" + QByteArray::number(1000 + i) + ",x\r\n";
    bytes += "<end data>\r\n";
    writeFile(dir.filePath("roster.cfg"), bytes);
    return dir.filePath("roster.cfg");
}

void waitForListing(HandoutCatalog &catalog, HandoutCatalog::Listing *out)
{
    QObject context;
    bool listed = false;
    catalog.list(&context, [&](const HandoutCatalog::Listing &listing) {
        *out = listing;
        listed = true;
    });
    while (!listed)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace

int main(int argc, char *argv[])
{
    prepareServerProcess();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    for (const char *folder : {"kadai", "haifu", "haifu200"})
        QDir().mkpath(dir.filePath(folder));
    writeFile(dir.filePath("haifu/h.bin"), QByteArray(50 * 1024 * 1024, 'h'));
    for (int i = 0; i < ListedHandouts; ++i)
        writeFile(dir.filePath(QStringLiteral("haifu200/資料%1.pdf").arg(i + 100)),
                  QByteArray(4096 + i, char('a' + i % 26)));

    RosterGrid grid;
    Lecture lecture;
    AttendanceBook book(grid);
    book.setProxyCheck(false);
    FixedFileDialogs dialogs(writeRoster(dir));
    NoMessages messages;
    RosterCommands(grid, lecture, dialogs, messages).open();
    SilentLog log;
    // The server journals what it delivers: into the run's folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    LectureJournal journal(lecture, book);
    ClassRules rules(lecture, book, journal);
    ClassroomServer server(rules, log);
    if (!server.listen(0))
        qFatal("cannot listen");
    lecture.setHaifudir(dir.filePath("haifu"));
    HandoutCatalog::Listing listing;
    waitForListing(server.handouts(), &listing);
    int failed = 0;

    ClassRun run;
    run.port = server.port();
    run.seconds = argc > 1 ? std::atof(argv[1]) : 20;
    // To tell the two floods apart: LISTERS=16 GETTERS=0 and the other way.
    bool given = false;
    if (const int n = qEnvironmentVariableIntValue("LISTERS", &given); given)
        run.listers = n;
    if (const int n = qEnvironmentVariableIntValue("GETTERS", &given); given)
        run.getters = n;
    served([&] { runClass(run); });
    const double classP99 = percentile(run.replies, 0.99);
    std::printf("flood of %d list + %d get connections for %.0f s beside %d students (%d visits, "
                "%zu replies): p50 %.3f s, p99 %.3f s (goal %.1f s), slowest %.3f s; "
                "%.0f MiB went to the flooders\n",
                run.listers, run.getters, run.seconds, Students, run.students, run.replies.size(),
                percentile(run.replies, 0.5), classP99, ClassGoalSeconds,
                percentile(run.replies, 1.0), double(run.floodBytes) / (1 << 20));
    failed += classP99 < 0 || classP99 > ClassGoalSeconds;
    for (int step = 0; step < 4; ++step)
        std::printf("  %s: %zu replies, p50 %.3f s, p99 %.3f s\n", Steps[step],
                    run.bySteps[step].size(), percentile(run.bySteps[step], 0.5),
                    percentile(run.bySteps[step], 0.99));

    lecture.setHaifudir(dir.filePath("haifu200"));
    waitForListing(server.handouts(), &listing);
    std::vector<double> times;
    served([&] { times = listingTimes(server.port(), size_t(listing.reply.size())); });
    const double listP99 = percentile(times, 0.99);
    std::printf("list of %d handouts (%lld bytes), %zu times: p50 %.3f ms, p99 %.3f ms "
                "(goal %.0f ms)\n",
                ListedHandouts, qint64(listing.reply.size()), times.size(), percentile(times, 0.5),
                listP99, ListingGoalMs);
    failed += times.size() != size_t(Listings) || listP99 > ListingGoalMs;

    // The minute shortened: the run stays short.
    HandoutSender::setStallLimitForTests(std::chrono::seconds(5));
    lecture.setHaifudir(dir.filePath("haifu"));
    waitForListing(server.handouts(), &listing);
    const int fdsBefore = openDescriptors();
    const qint64 before = statusKiB("VmRSS:");
    resetPeak();
    const qint64 firstNumber = server.connCount() + 1;
    std::vector<int> unread;
    for (int i = 0; i < Unread; ++i) {
        unread.push_back(connectFrom(0x7f000200 + quint32(i % 250), server.port()));
        (void)!::write(unread.back(), "get h.bin\r\n", 11);
    }
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const int fdsDuring = openDescriptors() - Unread;
    const qint64 growth = statusKiB("VmHWM:") - before;
    const auto anyOpen = [&] {
        for (qint64 n = firstNumber; n <= server.connCount(); ++n)
            if (server.connection(n))
                return true;
        return false;
    };
    while (anyOpen() && clock.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double endedAfter = clock.elapsed() / 1000.0;
    for (int fd : unread)
        ::close(fd);
    clock.restart();
    while (clock.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const int fdsAfter = openDescriptors();
    std::printf("%d fetches never read: memory growth %.1f MiB (budget %lld MiB), server "
                "descriptors %d -> %d while stalled -> %d after (ended %.1f s after the "
                "requests, limit shortened to 5 s)\n",
                Unread, double(growth) / 1024, GrowthBudgetKiB >> 10, fdsBefore, fdsDuring,
                fdsAfter, endedAfter);
    failed += growth >= GrowthBudgetKiB || fdsAfter != fdsBefore || anyOpen();
    return failed ? 3 : 0;
}
