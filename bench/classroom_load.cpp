// The classroom load benchmark: a whole lecture hall against the lecturer's
// program, in separate processes, over real loopback sockets.
//
// It starts bench_classroom_host (the real main window with its grid, log,
// sockets and uploads) once per scenario and plays the students from here,
// single-threaded on epoll:
//   attendance  N students connect at once, wait for 000 and 800, send their
//               user line and expect 101; the grid must show every one.
//   crowd       M clients connect at once and must all be greeted.
//   uploads     one large upload, then many simultaneous ones, each measured
//               against a plain loopback copy of the same bytes into the same
//               folder, made by a plain receiver process in the same run.
//   soak        students repeat attendance and uploads (some cut off
//               mid-upload) for a while; memory and descriptors are sampled.
// Every reply and every stored byte is checked; any mismatch is printed and
// makes the run fail. Run `bench_classroom --help` for the options.
#include "common/cp932.h"

#include <QString>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <random>
#include <set>
#include <string>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

const QString Kougimei = QStringLiteral("情報処理演習Ⅰ");
const QString Tantousya = QStringLiteral("中村　誠");
const std::string Hello = "000 hello I am tavrelle server";
const std::string Taken = "101 - syusseki totta ^^";
const std::string Already = "102 - sudeni syusseki totteru ^^";
const std::string ImageMode = "301 - image mode ok";
const std::string Received = "302 jyusin kanryo";

std::string lectureLine()
{
    const QByteArray bytes = "800 " + cp932::encode(Kougimei) + "," + cp932::encode(Tantousya);
    return bytes.toStdString();
}

std::string studentId(int index)
{
    char id[16];
    std::snprintf(id, sizeof id, "s%04d", index + 1);
    return id;
}

// ---------------------------------------------------------------- failures

int g_mismatches = 0;

void mismatch(const char *format, ...)
{
    if (++g_mismatches > 30)
        return;
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "MISMATCH: ");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
}

// ---------------------------------------------------------------- files

bool writeFile(const std::string &path, const std::string &bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// Compares the file at `path` with `expected`, byte for byte.
bool fileEquals(const std::string &path, const char *expected, size_t size)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    std::vector<char> buffer(1 << 20);
    size_t offset = 0;
    bool same = true;
    while (same) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) {
            same = n == 0 && offset == size;
            break;
        }
        same = offset + size_t(n) <= size &&
               std::memcmp(buffer.data(), expected + offset, size_t(n)) == 0;
        offset += size_t(n);
    }
    ::close(fd);
    return same;
}

std::vector<std::string> folderEntries(const std::string &path)
{
    std::vector<std::string> names;
    if (DIR *dir = ::opendir(path.c_str())) {
        while (const dirent *entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void removeFiles(const std::string &folder)
{
    for (const std::string &name : folderEntries(folder))
        ::unlink((folder + "/" + name).c_str());
}

// The bytes every upload is cut from: random, so a misplaced block shows.
std::vector<char> pattern(size_t size)
{
    std::vector<char> bytes(size);
    std::mt19937_64 random(20240607);
    for (size_t i = 0; i + 8 <= size; i += 8) {
        const uint64_t value = random();
        std::memcpy(bytes.data() + i, &value, 8);
    }
    return bytes;
}

// ---------------------------------------------------------------- processes

long statusKiB(pid_t pid, const char *field)
{
    FILE *file = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!file)
        return -1;
    char line[256];
    long value = -1;
    const size_t length = std::strlen(field);
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, field, length) == 0 && line[length] == ':')
            value = std::atol(line + length + 1);
    }
    std::fclose(file);
    return value;
}

// Sockets and files a process holds. The helper threads Qt starts and ends
// by itself hold event descriptors; those do not count.
int openDescriptors(pid_t pid)
{
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd/";
    int count = 0;
    for (const std::string &name : folderEntries(folder)) {
        char target[256];
        const ssize_t n = ::readlink((folder + name).c_str(), target, sizeof target - 1);
        if (n > 0 && (target[0] == '/' || std::strncmp(target, "socket:", 7) == 0))
            ++count;
    }
    return count;
}

// The lecturer's program: bench_classroom_host in its own process, talked to
// through its stdin and stdout.
class Host
{
public:
    ~Host() { stop(); }

    bool start(const std::string &program, const std::string &folder)
    {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0)
            return false;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            // Only its own descriptors count in the host's baseline.
            ::close_range(3, ~0U, 0);
            ::execl(program.c_str(), program.c_str(), folder.c_str(), nullptr);
            std::perror(program.c_str());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        m_toHost = in[1];
        m_fromHost = out[0];
        const std::string ready = readLine(60);
        if (ready.rfind("READY ", 0) != 0) {
            std::fprintf(stderr, "bench_classroom: the host did not start (%s)\n", ready.c_str());
            return false;
        }
        port = uint16_t(std::stoi(ready.substr(6)));
        ::usleep(300 * 1000); // let start-up settle before the baseline is taken
        baselineKiB = statusKiB(m_pid, "VmRSS");
        baselineFds = openDescriptors(m_pid);
        return true;
    }

    bool alive()
    {
        if (m_pid <= 0)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == 0)
            return true;
        std::fprintf(stderr, "bench_classroom: the host ended (status %d)\n", status);
        m_pid = -1;
        return false;
    }

    // Sends a command and collects the reply lines up to one that starts with `last`.
    std::vector<std::string> ask(const std::string &command, const std::string &last)
    {
        std::vector<std::string> lines;
        const std::string line = command + "\n";
        if (::write(m_toHost, line.data(), line.size()) != ssize_t(line.size()))
            return lines;
        for (;;) {
            std::string reply = readLine(60);
            if (reply.empty())
                return lines;
            const bool end = reply.rfind(last, 0) == 0;
            lines.push_back(std::move(reply));
            if (end)
                return lines;
        }
    }

    // Bytes the host has allocated and not freed.
    long heapInUse()
    {
        const std::vector<std::string> reply = ask("heap", "HEAP ");
        return reply.empty() ? -1 : std::atol(reply.back().c_str() + 5);
    }

    // Entries (lines) in the activity log.
    long logEntries()
    {
        const std::vector<std::string> reply = ask("log", "LOG ");
        return reply.empty() ? -1 : std::atol(reply.back().c_str() + 4);
    }

    void stop()
    {
        if (m_toHost >= 0)
            ::close(m_toHost);
        m_toHost = -1;
        if (m_pid > 0) {
            for (int i = 0; i < 100 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; ++i)
                ::usleep(50 * 1000);
            if (::kill(m_pid, 0) == 0) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
            }
        }
        m_pid = -1;
        if (m_fromHost >= 0)
            ::close(m_fromHost);
        m_fromHost = -1;
    }

    pid_t pid() const { return m_pid; }

    uint16_t port = 0;
    long baselineKiB = 0;
    int baselineFds = 0;

private:
    std::string readLine(int timeoutSeconds)
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
        for (;;) {
            const size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                std::string line = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return line;
            }
            pollfd waiting{m_fromHost, POLLIN, 0};
            const int left =
                int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                        .count());
            if (left <= 0 || ::poll(&waiting, 1, left) <= 0)
                return {};
            char chunk[4096];
            const ssize_t n = ::read(m_fromHost, chunk, sizeof chunk);
            if (n <= 0)
                return {};
            m_buffer.append(chunk, size_t(n));
        }
    }

    pid_t m_pid = -1;
    int m_toHost = -1;
    int m_fromHost = -1;
    std::string m_buffer;
};

// ---------------------------------------------------------------- students

enum class Step {
    Connect,
    Expect,
    ExpectClose,
    Send,
    SendData,
    Check,
    Close,
    Abort,
    Sleep,
    Repeat
};
enum Mark { Started, Connected, Greeted, Answered, Accepted, Completed, MarkCount };

struct Student;

struct Action
{
    Step step = Step::Connect;
    std::string text;           // Expect: the reply line; Send: the bytes
    Mark mark = MarkCount;      // stamped when the action is done
    std::string alternative;    // Expect: another reply that is right too
    const char *data = nullptr; // SendData
    size_t size = 0;
    int milliseconds = 0;               // Sleep
    std::function<void(Student &)> run; // Check, Repeat
};

Action act(Step step, const std::string &text = {})
{
    Action action;
    action.step = step;
    action.text = text;
    return action;
}
Action expect(const std::string &line, Mark mark = MarkCount)
{
    Action action = act(Step::Expect, line);
    action.mark = mark;
    return action;
}
Action expectEither(const std::string &line, const std::string &other)
{
    Action action = act(Step::Expect, line);
    action.alternative = other;
    return action;
}
Action send(const std::string &bytes)
{
    return act(Step::Send, bytes);
}
Action sendData(const char *data, size_t size)
{
    Action action = act(Step::SendData);
    action.data = data;
    action.size = size;
    return action;
}
Action check(std::function<void(Student &)> run)
{
    Action action = act(Step::Check);
    action.run = std::move(run);
    return action;
}

struct Student
{
    int index = 0;
    std::string id;
    std::vector<Action> script;
    size_t next = 0;
    bool done = false;

    int fd = -1;
    bool connected = false;
    bool peerClosed = false;
    std::string in;
    std::string out;
    const char *data = nullptr;
    size_t dataSize = 0;
    size_t dataSent = 0;
    bool sending = false;
    bool sleeping = false;
    Clock::time_point wake;
    Clock::time_point marks[MarkCount];

    // soak bookkeeping
    int cycle = 0;
    bool attended = false;
    size_t storedOffset = 0; // the last complete upload, as a slice of the pattern
    size_t storedSize = 0;
    bool stored = false;
};

// N students on one epoll loop, each running its script of actions.
class Classroom
{
public:
    explicit Classroom(uint16_t port) : m_port(port), m_epoll(::epoll_create1(EPOLL_CLOEXEC)) {}
    ~Classroom()
    {
        for (auto &student : m_students) {
            if (student->fd >= 0)
                ::close(student->fd);
        }
        ::close(m_epoll);
    }

    Student &add(std::string id, std::vector<Action> script)
    {
        auto student = std::make_unique<Student>();
        student->index = int(m_students.size());
        student->id = std::move(id);
        student->script = std::move(script);
        m_students.push_back(std::move(student));
        return *m_students.back();
    }

    std::vector<std::unique_ptr<Student>> &students() { return m_students; }

    // Runs until every script is done, or the time is up (false).
    bool run(double timeoutSeconds)
    {
        const Clock::time_point deadline =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(timeoutSeconds));
        for (auto &student : m_students)
            advance(*student);
        epoll_event events[256];
        while (m_done < m_students.size()) {
            const Clock::time_point now = Clock::now();
            if (now >= deadline)
                return false;
            const int n = ::epoll_wait(m_epoll, events, 256, m_sleepers > 0 ? 5 : 100);
            for (int i = 0; i < n; ++i)
                onEvent(*static_cast<Student *>(events[i].data.ptr), events[i].events);
            if (m_sleepers > 0) {
                const Clock::time_point later = Clock::now();
                for (auto &student : m_students) {
                    if (student->sleeping && later >= student->wake)
                        advance(*student);
                }
            }
        }
        return true;
    }

    size_t unfinished() const { return m_students.size() - m_done; }

    void fail(Student &student, const std::string &what)
    {
        mismatch("%s (step %zu): %s", student.id.c_str(), student.next, what.c_str());
        closeSocket(student, false);
        finish(student);
    }

private:
    void finish(Student &student)
    {
        if (student.sleeping)
            --m_sleepers;
        student.sleeping = false;
        student.done = true;
        ++m_done;
    }

    bool openSocket(Student &student)
    {
        student.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (student.fd < 0) {
            fail(student, std::string("socket: ") + std::strerror(errno));
            return false;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(m_port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        student.connected = student.peerClosed = false;
        student.in.clear();
        student.out.clear();
        student.marks[Started] = Clock::now();
        if (::connect(student.fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS) {
            fail(student, std::string("connect: ") + std::strerror(errno));
            return false;
        }
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;
        event.data.ptr = &student;
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, student.fd, &event);
        return true;
    }

    void closeSocket(Student &student, bool abort)
    {
        if (student.fd < 0)
            return;
        if (abort) {
            const linger reset{1, 0}; // RST, as when the machine is switched off
            ::setsockopt(student.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
        ::close(student.fd);
        student.fd = -1;
        student.connected = false;
        student.sending = false;
    }

    void onEvent(Student &student, uint32_t events)
    {
        if (student.done || student.fd < 0)
            return;
        if (!student.connected) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(student.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
                fail(student, std::string("connect: ") + std::strerror(error));
                return;
            }
            if (!(events & EPOLLOUT))
                return;
            student.connected = true;
            student.marks[Connected] = Clock::now();
        }
        if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) {
            char buffer[65536];
            for (;;) {
                const ssize_t n = ::recv(student.fd, buffer, sizeof buffer, 0);
                if (n > 0) {
                    student.in.append(buffer, size_t(n));
                    continue;
                }
                if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    student.peerClosed = true;
                if (n < 0 && errno == EINTR)
                    continue;
                break;
            }
        }
        if (!flush(student))
            return;
        advance(student);
    }

    // Writes what is queued, text before file data. False when the
    // connection failed.
    bool flush(Student &student)
    {
        while (!student.out.empty()) {
            const ssize_t n =
                ::send(student.fd, student.out.data(), student.out.size(), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN)
                    return true;
                fail(student, std::string("send: ") + std::strerror(errno));
                return false;
            }
            student.out.erase(0, size_t(n));
        }
        while (student.sending && student.dataSent < student.dataSize) {
            const size_t chunk = std::min<size_t>(student.dataSize - student.dataSent, 1 << 20);
            const ssize_t n =
                ::send(student.fd, student.data + student.dataSent, chunk, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN)
                    return true;
                fail(student, std::string("send: ") + std::strerror(errno));
                return false;
            }
            student.dataSent += size_t(n);
        }
        return true;
    }

    std::optional<std::string> takeLine(Student &student)
    {
        const size_t end = student.in.find("\r\n");
        if (end == std::string::npos)
            return std::nullopt;
        std::string line = student.in.substr(0, end);
        student.in.erase(0, end + 2);
        return line;
    }

    void advance(Student &student)
    {
        while (!student.done && student.next < student.script.size()) {
            Action &action = student.script[student.next];
            switch (action.step) {
            case Step::Connect:
                if (student.fd < 0) {
                    openSocket(student);
                    return;
                }
                if (!student.connected)
                    return;
                break;
            case Step::Expect: {
                const std::optional<std::string> line = takeLine(student);
                if (!line) {
                    if (student.peerClosed)
                        fail(student,
                             "closed by the server while waiting for '" + action.text + "'");
                    return;
                }
                if (*line != action.text &&
                    (action.alternative.empty() || *line != action.alternative)) {
                    fail(student, "expected '" + action.text + "', got '" + *line + "'");
                    return;
                }
                break;
            }
            case Step::ExpectClose:
                if (!student.in.empty()) {
                    fail(student, "expected the server to close, got '" + student.in + "'");
                    return;
                }
                if (!student.peerClosed)
                    return;
                break;
            case Step::Send:
                student.out += action.text;
                if (!flush(student))
                    return;
                break;
            case Step::SendData:
                if (!student.sending) {
                    student.sending = true;
                    student.data = action.data;
                    student.dataSize = action.size;
                    student.dataSent = 0;
                }
                if (!flush(student))
                    return;
                if (student.dataSent < student.dataSize)
                    return;
                student.sending = false;
                break;
            case Step::Check:
                action.run(student);
                if (student.done)
                    return;
                break;
            case Step::Close:
            case Step::Abort:
                closeSocket(student, action.step == Step::Abort);
                break;
            case Step::Sleep:
                if (!student.sleeping) {
                    student.sleeping = true;
                    student.wake = Clock::now() + std::chrono::milliseconds(action.milliseconds);
                    ++m_sleepers;
                    return;
                }
                if (Clock::now() < student.wake)
                    return;
                student.sleeping = false;
                --m_sleepers;
                break;
            case Step::Repeat: {
                // The action rewrites the script: keep it alive while it runs.
                const std::function<void(Student &)> restart = action.run;
                student.next = 0;
                student.script.clear();
                restart(student);
                continue;
            }
            }
            if (action.mark != MarkCount)
                student.marks[action.mark] = Clock::now();
            ++student.next;
        }
        if (!student.done)
            finish(student);
    }

    uint16_t m_port;
    int m_epoll;
    std::vector<std::unique_ptr<Student>> m_students;
    size_t m_done = 0;
    int m_sleepers = 0;
};

// ---------------------------------------------------------------- baseline

// The plain copy: a single-threaded receiver in its own process takes
// "<size>\n" and that many bytes per connection, writes them to a file with
// read() and write(), and answers "ok".
class PlainReceiver
{
public:
    ~PlainReceiver() { stop(); }

    bool start(const std::string &folder)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(m_listener, 4096) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return false;
        port = ntohs(address.sin_port);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            serve(folder);
            ::_exit(0);
        }
        ::close(m_listener);
        return m_pid > 0;
    }

    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

    uint16_t port = 0;

private:
    struct Transfer
    {
        int socket = -1;
        int file = -1;
        std::string header;
        size_t size = 0;
        size_t got = 0;
        bool sized = false;
    };

    void serve(const std::string &folder)
    {
        const int epoll = ::epoll_create1(0);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = nullptr;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, m_listener, &event);
        std::vector<char> buffer(128 * 1024);
        int number = 0;
        epoll_event events[64];
        for (;;) {
            const int n = ::epoll_wait(epoll, events, 64, -1);
            for (int i = 0; i < n; ++i) {
                auto *transfer = static_cast<Transfer *>(events[i].data.ptr);
                if (!transfer) {
                    auto *fresh = new Transfer;
                    fresh->socket = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK);
                    event.events = EPOLLIN;
                    event.data.ptr = fresh;
                    ::epoll_ctl(epoll, EPOLL_CTL_ADD, fresh->socket, &event);
                    continue;
                }
                const ssize_t got = ::read(transfer->socket, buffer.data(), buffer.size());
                if (got <= 0) {
                    if (got < 0 && errno == EAGAIN)
                        continue;
                    ::close(transfer->socket);
                    if (transfer->file >= 0)
                        ::close(transfer->file);
                    delete transfer;
                    continue;
                }
                size_t used = 0;
                if (!transfer->sized) {
                    while (used < size_t(got) && buffer[used] != '\n')
                        transfer->header += buffer[used++];
                    if (used == size_t(got))
                        continue;
                    ++used;
                    transfer->sized = true;
                    transfer->size = std::stoull(transfer->header);
                    const std::string path = folder + "/plain-" + std::to_string(++number) + ".bin";
                    transfer->file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                }
                for (size_t at = used; at < size_t(got);) {
                    const ssize_t written =
                        ::write(transfer->file, buffer.data() + at, size_t(got) - at);
                    if (written <= 0)
                        ::_exit(3);
                    at += size_t(written);
                }
                transfer->got += size_t(got) - used;
                if (transfer->got == transfer->size) {
                    ::close(transfer->file);
                    transfer->file = -1;
                    if (::write(transfer->socket, "ok\r\n", 4) != 4)
                        ::_exit(3);
                }
            }
        }
    }

    int m_listener = -1;
    pid_t m_pid = -1;
};

// ---------------------------------------------------------------- reporting

struct Row
{
    std::string goal;
    std::string figure;
    std::string target;
    double ratio; // of the figure to its limit, or to the plain copy
    bool met;
};

std::vector<Row> g_rows;

void report(const std::string &goal, const std::string &figure, const std::string &target,
            double ratio, bool met)
{
    g_rows.push_back({goal, figure, target, ratio, met});
    std::printf("  %-4s %s: %s (goal %s)\n", met ? "ok" : "MISS", goal.c_str(), figure.c_str(),
                target.c_str());
    std::fflush(stdout);
}

std::string printed(const char *pattern, ...)
{
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string percentiles(std::vector<double> values)
{
    if (values.empty())
        return "-";
    std::sort(values.begin(), values.end());
    const auto at = [&](double p) {
        return values[std::min(values.size() - 1, size_t(p * double(values.size())))] * 1000;
    };
    return printed("p50 %.1f ms, p90 %.1f ms, p99 %.1f ms, max %.1f ms", at(0.5), at(0.9), at(0.99),
                   values.back() * 1000);
}

double mib(double bytes)
{
    return bytes / (1024.0 * 1024.0);
}

// ---------------------------------------------------------------- scenarios

struct Sample
{
    double at; // seconds
    double mib;
};

struct Trend
{
    bool valid = false;
    double first = 0, last = 0; // MiB, after the warm-up
    double slope = 0;           // MiB per minute
};

// The least-squares slope of the samples after a warm-up quarter.
Trend trend(const std::vector<Sample> &samples)
{
    const size_t from = samples.size() / 4;
    Trend result;
    if (samples.size() - from < 8)
        return result;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double count = double(samples.size() - from);
    for (size_t i = from; i < samples.size(); ++i) {
        const double x = samples[i].at / 60.0, y = samples[i].mib;
        sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    result.valid = true;
    result.first = samples[from].mib;
    result.last = samples.back().mib;
    result.slope = (count * sxy - sx * sy) / (count * sxx - sx * sx);
    return result;
}

struct Options
{
    std::string host;
    std::string work;
    std::set<std::string> only;
    int students = 1000;
    int crowd = 2000;
    size_t bigMiB = 512;
    int uploads = 50;
    size_t uploadMiB = 20;
    int repeat = 3;
    int soakSeconds = 60;
    int soakStudents = 300;
    int soakClearSeconds = 5;
    size_t soakMaxKiB = 1024;
};

class Bench
{
public:
    explicit Bench(Options options) : m_options(std::move(options))
    {
        m_kadai = m_options.work + "/kadai";
        m_plain = m_options.work + "/plain";
        ::mkdir(m_options.work.c_str(), 0755);
        ::mkdir(m_kadai.c_str(), 0755);
        ::mkdir(m_plain.c_str(), 0755);
        removeFiles(m_kadai);
        removeFiles(m_plain);
        const int rosterSize =
            std::max({m_options.students, m_options.uploads, m_options.soakStudents, 1});
        writeRoster(rosterSize);
    }

    void attendance()
    {
        const int n = m_options.students;
        std::printf("attendance: %d students connect at once, greeting and attendance\n", n);
        Host host;
        if (!startHost(host))
            return;
        Classroom room(host.port);
        for (int i = 0; i < n; ++i) {
            room.add(studentId(i),
                     {act(Step::Connect), expect(Hello), expect(m_lecture, Greeted),
                      send("user " + studentId(i) + "\r\n"), expect(Taken, Answered)});
        }
        const bool finished = room.run(60);
        if (!finished)
            mismatch("attendance: %zu students unanswered after 60 s", room.unfinished());

        Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
        std::vector<double> greeting, answer;
        for (auto &student : room.students()) {
            first = std::min(first, student->marks[Started]);
            if (student->next < student->script.size())
                continue;
            last = std::max(last, student->marks[Answered]);
            greeting.push_back(secondsBetween(student->marks[Started], student->marks[Greeted]));
            answer.push_back(secondsBetween(student->marks[Started], student->marks[Answered]));
        }
        checkGrid(host, n);
        const double all = secondsBetween(first, last);
        std::printf("  greeting latency: %s\n", percentiles(greeting).c_str());
        std::printf("  connect to 101:   %s\n", percentiles(answer).c_str());
        report(printed("%d students answered 000/800/101", n),
               printed("%.3f s after the first connect", all), "<= 2 s", all / 2.0,
               finished && answer.size() == size_t(n) && all <= 2.0);
        memoryLine(host);
        host.stop();
    }

    void crowd()
    {
        const int n = m_options.crowd;
        std::printf("crowd: %d clients connect at once\n", n);
        Host host;
        if (!startHost(host))
            return;
        Classroom room(host.port);
        for (int i = 0; i < n; ++i)
            room.add(studentId(i), {act(Step::Connect), expect(Hello), expect(m_lecture, Greeted)});
        const bool finished = room.run(120);
        if (!finished)
            mismatch("crowd: %zu clients not greeted after 120 s", room.unfinished());
        std::vector<double> greeting;
        Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
        for (auto &student : room.students()) {
            first = std::min(first, student->marks[Started]);
            if (student->next < student->script.size())
                continue;
            last = std::max(last, student->marks[Greeted]);
            greeting.push_back(secondsBetween(student->marks[Started], student->marks[Greeted]));
        }
        const bool alive = host.alive();
        const double all = secondsBetween(first, last);
        std::printf("  greeting latency: %s\n", percentiles(greeting).c_str());
        report(printed("%d clients at once greeted", n),
               printed("%zu of %d in %.3f s, server %s", greeting.size(), n, all,
                       alive ? "running" : "GONE"),
               "all, no crash", double(greeting.size()) / n, alive && greeting.size() == size_t(n));
        memoryLine(host);
        host.stop();
    }

    void uploads()
    {
        const size_t big = m_options.bigMiB << 20;
        const size_t each = m_options.uploadMiB << 20;
        const int count = m_options.uploads;
        m_pattern = pattern(std::max(big, each + size_t(count) * 4099) + 8);
        std::printf("uploads: 1 x %zu MiB, then %d x %zu MiB at once; best of %d, plain copy "
                    "as the baseline\n",
                    m_options.bigMiB, count, m_options.uploadMiB, m_options.repeat);
        Host host;
        if (!startHost(host))
            return;
        PlainReceiver plain;
        if (!plain.start(m_plain)) {
            mismatch("the plain receiver did not start");
            return;
        }
        double serverSingle = 0, plainSingle = 0, serverMany = 0, plainMany = 0;
        for (int round = 0; round < m_options.repeat; ++round) {
            plainSingle = std::max(plainSingle, plainCopy(plain.port, 1, big));
            serverSingle = std::max(serverSingle, serverUpload(host, 1, big));
            plainMany = std::max(plainMany, plainCopy(plain.port, count, each));
            serverMany = std::max(serverMany, serverUpload(host, count, each));
        }
        plain.stop();
        const double singleRatio = plainSingle > 0 ? serverSingle / plainSingle : 0;
        const double manyRatio = plainMany > 0 ? serverMany / plainMany : 0;
        report(printed("one %zu MiB upload", m_options.bigMiB),
               printed("%.0f MiB/s, plain copy %.0f MiB/s", serverSingle, plainSingle),
               ">= 0.75 of plain", singleRatio, singleRatio >= 0.75);
        report(printed("%d x %zu MiB at once, byte-exact", count, m_options.uploadMiB),
               printed("%.0f MiB/s, plain copy %.0f MiB/s", serverMany, plainMany),
               ">= 0.50 of plain", manyRatio, manyRatio >= 0.5);
        const long growth = statusKiB(host.pid(), "VmHWM") - host.baselineKiB;
        report("server memory growth during uploads",
               printed("%.1f MiB (peak %.1f MiB over %.1f MiB at start)", growth / 1024.0,
                       statusKiB(host.pid(), "VmHWM") / 1024.0, host.baselineKiB / 1024.0),
               "< 64 MiB", growth / (64.0 * 1024), growth < 64 * 1024);
        checkFolderHolds({});
        host.stop();
    }

    void soak()
    {
        const int n = m_options.soakStudents;
        const int seconds = m_options.soakSeconds;
        if (m_pattern.size() < (m_options.soakMaxKiB << 10) * 4)
            m_pattern = pattern((m_options.soakMaxKiB << 10) * 4);
        std::printf("soak: %d students repeat attendance and uploads for %d s\n", n, seconds);
        Host host;
        if (!startHost(host))
            return;
        Classroom room(host.port);
        m_soakEnd = Clock::now() + std::chrono::seconds(seconds);
        m_cycles = m_cutOff = 0;
        m_random.seed(7);
        for (int i = 0; i < n; ++i) {
            Student &student = room.add(studentId(i), {});
            soakCycle(student);
        }

        // Sample while the students work: the loop runs in one-second slices.
        // The activity log keeps every entry by design, so it is emptied now
        // and then, as the lecturer can; the memory in use right after that
        // is what the connections and uploads hold, and must stay flat.
        host.ask("clear", "CLEARED");
        const double startInUse = host.heapInUse() / 1024.0 / 1024.0;
        std::vector<Sample> rss, inUse;
        long logEntries = 0;
        const int clearEvery = m_options.soakClearSeconds;
        const Clock::time_point start = Clock::now();
        Clock::time_point cleared = start;
        bool finished = false;
        while (!finished && host.alive()) {
            finished = room.run(1.0);
            const Clock::time_point now = Clock::now();
            const double at = secondsBetween(start, now);
            const long entries = host.logEntries();
            if (clearEvery == 0 || now - cleared >= std::chrono::seconds(clearEvery)) {
                if (clearEvery > 0)
                    host.ask("clear", "CLEARED");
                logEntries += clearEvery > 0 ? entries : 0;
                cleared = now;
                inUse.push_back({at, host.heapInUse() / 1024.0 / 1024.0});
            }
            rss.push_back({at, statusKiB(host.pid(), "VmRSS") / 1024.0});
            if (rss.size() % 30 == 0 || finished)
                std::printf("  %5.0f s: %ld uploads, RSS %.1f MiB, in use %.1f MiB, %d fds, log "
                            "%ld entries\n",
                            at, m_cycles, rss.back().mib, inUse.back().mib,
                            openDescriptors(host.pid()), entries);
            std::fflush(stdout);
            if (now > m_soakEnd + std::chrono::seconds(60)) {
                mismatch("soak: %zu students still busy 60 s after the end", room.unfinished());
                break;
            }
        }
        logEntries += host.logEntries();
        // Everybody has left: the server must give back every descriptor.
        int fds = openDescriptors(host.pid());
        for (int i = 0; i < 100 && fds > host.baselineFds; ++i) {
            ::usleep(100 * 1000);
            fds = openDescriptors(host.pid());
        }
        checkFolderHolds(soakStoredFiles(room));
        host.ask("clear", "CLEARED");
        const double endInUse = host.heapInUse() / 1024.0 / 1024.0;
        std::printf("  %ld uploads stored, %ld cut off mid-upload, %ld log entries\n", m_cycles,
                    m_cutOff, logEntries);
        const Trend used = trend(inUse), resident = trend(rss);
        if (!used.valid)
            mismatch("soak: too short to judge memory (%zu samples)", inUse.size());
        std::printf("  in use right after emptying the log: %.1f -> %.1f MiB after warm-up, "
                    "%+.2f MiB/min\n",
                    used.first, used.last, used.slope);
        // Whatever a connection or an upload leaves behind is still in use
        // once everybody has left and the log is empty.
        report(printed("soak %d students, %d s: memory in use after all left", n, seconds),
               printed("%.2f MiB (at start %.2f MiB)", endInUse, startInUse),
               "back to start (+1 MiB)", endInUse - startInUse, endInUse < startInUse + 1.0);
        report(printed("soak %d students, %d s: resident memory", n, seconds),
               printed("%.1f -> %.1f MiB after warm-up, %+.2f MiB/min", resident.first,
                       resident.last, resident.slope),
               "flat (< 1 MiB/min)", std::abs(resident.slope), std::abs(resident.slope) < 1.0);
        report(printed("soak %d students: sockets and files after all left", n),
               printed("%d (at start %d)", fds, host.baselineFds), "back to start",
               double(fds) / host.baselineFds, fds <= host.baselineFds);
        host.stop();
    }

    int finish()
    {
        std::printf("\n| Goal | Measured | Target | Ratio | |\n|---|---|---|---|---|\n");
        bool allMet = true;
        for (const Row &row : g_rows) {
            std::printf("| %s | %s | %s | %.2f | %s |\n", row.goal.c_str(), row.figure.c_str(),
                        row.target.c_str(), row.ratio, row.met ? "met" : "MISSED");
            allMet = allMet && row.met;
        }
        if (g_mismatches > 0) {
            std::printf("\nFAILED: %d mismatches (see above)\n", g_mismatches);
            return 1;
        }
        return allMet ? 0 : 3;
    }

private:
    void writeRoster(int students)
    {
        QString text = QStringLiteral("kougimei=") + Kougimei + QStringLiteral("\r\ntantousya=") +
                       Tantousya + QStringLiteral("\r\nkadaidir=") +
                       QString::fromStdString(m_kadai) + QStringLiteral("\r\n<start data>\r\n");
        for (int i = 0; i < students; ++i)
            text +=
                QString::fromStdString(studentId(i)) + QStringLiteral(",学生 %1\r\n").arg(i + 1);
        text += QStringLiteral("<end data>\r\n");
        if (!writeFile(m_options.work + "/roster.cfg", cp932::encode(text).toStdString()))
            mismatch("cannot write the roster in %s", m_options.work.c_str());
        m_lecture = lectureLine();
    }

    bool startHost(Host &host)
    {
        if (host.start(m_options.host, m_options.work))
            return true;
        mismatch("the host program did not start");
        return false;
    }

    void memoryLine(Host &host)
    {
        std::printf("  server memory: %.1f MiB at start, peak %.1f MiB\n",
                    host.baselineKiB / 1024.0, statusKiB(host.pid(), "VmHWM") / 1024.0);
    }

    void checkGrid(Host &host, int students)
    {
        const std::vector<std::string> rows = host.ask("grid", "END");
        int marked = 0;
        for (const std::string &row : rows) {
            if (row.rfind("ROW ", 0) != 0)
                continue;
            const size_t tab = row.find('\t');
            const std::string id = row.substr(4, tab - 4);
            const std::string rest = row.substr(tab + 1);
            const size_t next = rest.find('\t');
            const std::string time = rest.substr(0, next);
            const std::string address = rest.substr(rest.rfind('\t') + 1);
            const bool stamped = time.size() == 8 && time[2] == ':' && time[5] == ':';
            if (std::stoi(id.substr(1)) <= students) {
                if (stamped && address == "127.0.0.1")
                    ++marked;
                else
                    mismatch("grid row %s: attendance '%s', address '%s'", id.c_str(), time.c_str(),
                             address.c_str());
            }
        }
        if (marked != students)
            mismatch("grid: %d of %d students marked present", marked, students);
    }

    // Measures `count` uploads of `size` bytes each to the server, checks
    // every stored byte, and returns MiB/s.
    double serverUpload(Host &host, int count, size_t size)
    {
        Classroom room(host.port);
        for (int i = 0; i < count; ++i) {
            const std::string id = studentId(i);
            const char *data = m_pattern.data() + size_t(i) * 4099;
            room.add(id, {act(Step::Connect), expect(Hello), expect(m_lecture),
                          send("user " + id + "\r\n"), expectEither(Taken, Already),
                          send("put " + id + ".bin," + std::to_string(size) + "\r\n"),
                          expect(ImageMode, Accepted), sendData(data, size),
                          expect(Received, Completed), act(Step::Close)});
        }
        const bool finished = room.run(600);
        if (!finished)
            mismatch("uploads: %zu of %d unfinished after 600 s", room.unfinished(), count);
        Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
        for (auto &student : room.students()) {
            first = std::min(first, student->marks[Accepted]);
            last = std::max(last, student->marks[Completed]);
            const std::string path = m_kadai + "/" + student->id + ".bin";
            if (!fileEquals(path, m_pattern.data() + size_t(student->index) * 4099, size))
                mismatch("%s: stored bytes differ from the upload", path.c_str());
        }
        removeFiles(m_kadai);
        const double rate = mib(double(size) * count) / secondsBetween(first, last);
        std::printf("  server: %d x %zu MiB in %.3f s = %.0f MiB/s\n", count, size >> 20,
                    secondsBetween(first, last), rate);
        return finished ? rate : 0;
    }

    double plainCopy(uint16_t port, int count, size_t size)
    {
        Classroom room(port);
        for (int i = 0; i < count; ++i) {
            const char *data = m_pattern.data() + size_t(i) * 4099;
            room.add("plain" + std::to_string(i),
                     {act(Step::Connect), send(std::to_string(size) + "\n"), sendData(data, size),
                      expect("ok", Completed), act(Step::Close)});
        }
        const bool finished = room.run(600);
        if (!finished)
            mismatch("plain copy: %zu of %d unfinished", room.unfinished(), count);
        Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
        for (auto &student : room.students()) {
            first = std::min(first, student->marks[Connected]);
            last = std::max(last, student->marks[Completed]);
        }
        removeFiles(m_plain);
        const double rate = mib(double(size) * count) / secondsBetween(first, last);
        std::printf("  plain:  %d x %zu MiB in %.3f s = %.0f MiB/s\n", count, size >> 20,
                    secondsBetween(first, last), rate);
        return finished ? rate : 0;
    }

    // One round of a soak student: attendance, an upload of a random size
    // (every eighth one cut off halfway), leave in one of three ways, pause.
    void soakCycle(Student &student)
    {
        if (Clock::now() >= m_soakEnd)
            return; // an empty script: the student is done
        const size_t maxBytes = m_options.soakMaxKiB << 10;
        const size_t size = std::uniform_int_distribution<size_t>(0, maxBytes)(m_random);
        const size_t offset =
            std::uniform_int_distribution<size_t>(0, m_pattern.size() - maxBytes)(m_random);
        const bool cutOff = m_random() % 8 == 0 && size > 1;
        const int leave = int(m_random() % 3);
        const int pause = int(m_random() % 1000);
        const std::string id = student.id;
        std::vector<Action> &s = student.script;
        s.push_back(act(Step::Connect));
        s.push_back(check([this](Student &who) { checkStored(who); }));
        s.push_back(expect(Hello));
        s.push_back(expect(m_lecture));
        s.push_back(send("user " + id + "\r\n"));
        s.push_back(expect(student.attended ? Already : Taken));
        s.push_back(check([](Student &who) { who.attended = true; }));
        s.push_back(send("put " + id + ".dat," + std::to_string(size) + "\r\n"));
        if (size > 0)
            s.push_back(expect(ImageMode));
        if (cutOff) {
            s.push_back(sendData(m_pattern.data() + offset, size / 2));
            s.push_back(check([this](Student &) { ++m_cutOff; }));
            s.push_back(act(Step::Abort));
        } else {
            if (size > 0)
                s.push_back(sendData(m_pattern.data() + offset, size));
            s.push_back(expect(Received));
            s.push_back(check([this, offset, size](Student &who) {
                who.stored = true;
                who.storedOffset = offset;
                who.storedSize = size;
                checkStored(who);
                ++m_cycles;
            }));
            if (leave == 0) {
                s.push_back(send("bye\r\n"));
                s.push_back(act(Step::ExpectClose)); // silently
            }
            s.push_back(act(leave == 2 ? Step::Abort : Step::Close));
        }
        Action sleep = act(Step::Sleep);
        sleep.milliseconds = pause;
        s.push_back(sleep);
        Action again = act(Step::Repeat);
        again.run = [this](Student &who) {
            ++who.cycle;
            soakCycle(who);
        };
        s.push_back(again);
    }

    void checkStored(Student &student)
    {
        if (student.stored &&
            !fileEquals(m_kadai + "/" + student.id + ".dat",
                        m_pattern.data() + student.storedOffset, student.storedSize))
            mismatch("soak: %s.dat (cycle %d) is not the last complete upload", student.id.c_str(),
                     student.cycle);
    }

    std::vector<std::string> soakStoredFiles(Classroom &room)
    {
        std::vector<std::string> names;
        for (auto &student : room.students()) {
            if (student->stored)
                names.push_back(student->id + ".dat");
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Once every connection is gone, the folder holds exactly the stored
    // files: no temporary file is left behind.
    void checkFolderHolds(const std::vector<std::string> &expected)
    {
        std::vector<std::string> names;
        for (int i = 0; i < 50; ++i) {
            names = folderEntries(m_kadai);
            if (names == expected)
                return;
            ::usleep(100 * 1000);
        }
        mismatch("the assignment folder holds %zu entries, expected %zu (first: %s)", names.size(),
                 expected.size(), names.empty() ? "-" : names.front().c_str());
    }

    Options m_options;
    std::string m_kadai;
    std::string m_plain;
    std::string m_lecture;
    std::vector<char> m_pattern;
    Clock::time_point m_soakEnd;
    long m_cycles = 0;
    long m_cutOff = 0;
    std::mt19937_64 m_random;
};

void usage()
{
    std::printf(
        "usage: bench_classroom --host PATH --work DIR [options]\n"
        "  --only LIST         scenarios to run, comma separated: attendance,crowd,uploads,soak\n"
        "  --students N        attendance: students at once (1000)\n"
        "  --crowd N           crowd: clients at once (2000)\n"
        "  --big-mib N         uploads: size of the single upload (512)\n"
        "  --uploads N         uploads: simultaneous uploads (50)\n"
        "  --upload-mib N      uploads: size of each simultaneous upload (20)\n"
        "  --repeat N          uploads: rounds, the best counts (3)\n"
        "  --soak-seconds N    soak: duration (60)\n"
        "  --soak-students N   soak: students (300)\n"
        "  --soak-max-kib N    soak: largest upload (1024)\n"
        "  --soak-clear N      soak: empty the activity log every N s, 0 never (5)\n"
        "Exit status: 0 all goals met, 1 a reply or stored byte was wrong, 3 a goal missed.\n");
}

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            usage();
            return 0;
        }
        if (i + 1 >= argc) {
            usage();
            return 2;
        }
        const std::string value = argv[++i];
        if (name == "--host")
            options.host = value;
        else if (name == "--work")
            options.work = value;
        else if (name == "--only") {
            for (size_t start = 0; start <= value.size();) {
                const size_t comma = std::min(value.find(',', start), value.size());
                options.only.insert(value.substr(start, comma - start));
                start = comma + 1;
            }
        } else if (name == "--students")
            options.students = std::stoi(value);
        else if (name == "--crowd")
            options.crowd = std::stoi(value);
        else if (name == "--big-mib")
            options.bigMiB = std::stoul(value);
        else if (name == "--uploads")
            options.uploads = std::stoi(value);
        else if (name == "--upload-mib")
            options.uploadMiB = std::stoul(value);
        else if (name == "--repeat")
            options.repeat = std::max(1, std::stoi(value));
        else if (name == "--soak-seconds")
            options.soakSeconds = std::stoi(value);
        else if (name == "--soak-students")
            options.soakStudents = std::stoi(value);
        else if (name == "--soak-clear")
            options.soakClearSeconds = std::stoi(value);
        else if (name == "--soak-max-kib")
            options.soakMaxKiB = std::stoul(value);
        else {
            usage();
            return 2;
        }
    }
    if (options.host.empty() || options.work.empty()) {
        usage();
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    const auto wanted = [&](const char *scenario) {
        return options.only.empty() || options.only.count(scenario) > 0;
    };
    Bench bench(options);
    if (wanted("attendance"))
        bench.attendance();
    if (wanted("crowd"))
        bench.crowd();
    if (wanted("uploads"))
        bench.uploads();
    if (wanted("soak"))
        bench.soak();
    return bench.finish();
}
