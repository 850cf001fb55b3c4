#pragma once

// Students of a benchmark in a child process, on plain sockets: each
// connects, waits for the greeting, sends its request with the others at
// once and compares the reply with what it expects as it comes, so that the
// child keeps no copy. The lecturer's program runs in the parent.
#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace childstudents {

using Steady = std::chrono::steady_clock;

inline int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        std::perror("connect");
        ::_exit(1);
    }
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

// One student in the child: its greeting, then the reply compared with
// what is expected as it comes, so that the child keeps no copy.
struct Student
{
    const std::string *request = nullptr;
    const std::string *expected = nullptr;
    int fd = -1;
    std::string greeting;
    bool greeted = false;
    size_t got = 0;
    bool wrong = false;
    double seconds = 0;
};

inline void compare(Student &s, const char *data, size_t size)
{
    const std::string &expected = *s.expected;
    s.wrong = s.wrong || s.got + size > expected.size() ||
              std::memcmp(expected.data() + s.got, data, size) != 0;
    s.got += size;
}

inline void take(Student &s, const char *data, size_t size)
{
    if (s.greeted) {
        compare(s, data, size);
        return;
    }
    s.greeting.append(data, size);
    size_t end = 0;
    for (int line = 0; line < 2 && end != std::string::npos; ++line) {
        end = s.greeting.find("\r\n", end);
        end = end == std::string::npos ? end : end + 2;
    }
    if (end == std::string::npos)
        return;
    s.greeted = true;
    const std::string rest = s.greeting.substr(end);
    compare(s, rest.data(), rest.size());
}

// Reads every student until `done` holds for each.
template <typename Done> void pump(std::vector<Student> &students, Done done)
{
    std::vector<char> buffer(1 << 20);
    std::vector<pollfd> fds;
    std::vector<Student *> polled;
    for (;;) {
        fds.clear();
        polled.clear();
        for (Student &s : students) {
            if (!done(s)) {
                fds.push_back({s.fd, POLLIN, 0});
                polled.push_back(&s);
            }
        }
        if (fds.empty())
            return;
        if (::poll(fds.data(), nfds_t(fds.size()), 30000) == 0) {
            std::fprintf(stderr, "no reply for 30 s\n");
            ::_exit(1);
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t got = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (got <= 0) {
                std::fprintf(stderr, "a student's connection ended early\n");
                ::_exit(1);
            }
            take(*polled[i], buffer.data(), size_t(got));
        }
    }
}

// The child: the students, all greeted, send their requests at once; every
// reply must equal what the student expects. Writes the seconds from the
// requests to the last byte and those of the slowest student to `out`.
[[noreturn]] inline void students(quint16 port, std::vector<Student> all, int out)
{
    for (Student &s : all)
        s.fd = connectTo(port);
    pump(all, [](const Student &s) { return s.greeted; });
    const auto start = Steady::now();
    for (Student &s : all)
        if (::write(s.fd, s.request->data(), s.request->size()) != ssize_t(s.request->size()))
            ::_exit(1);
    pump(all, [&](Student &s) {
        if (s.seconds == 0 && s.got >= s.expected->size())
            s.seconds = std::chrono::duration<double>(Steady::now() - start).count();
        return s.wrong || s.got >= s.expected->size();
    });
    const double total = std::chrono::duration<double>(Steady::now() - start).count();
    double slowest = 0;
    for (const Student &s : all) {
        if (s.wrong || s.got != s.expected->size()) {
            std::fprintf(stderr, "a student received wrong bytes\n");
            ::_exit(1);
        }
        slowest = std::max(slowest, s.seconds);
    }
    const std::string result = std::to_string(total) + ' ' + std::to_string(slowest) + '\n';
    if (::write(out, result.data(), result.size()) < 0)
        ::_exit(1);
    ::_exit(0);
}

// `count` students sending the same request and expecting the same reply.
inline std::vector<Student> sameForAll(int count, const std::string &request,
                                       const std::string &expected)
{
    std::vector<Student> all(static_cast<size_t>(count));
    for (Student &s : all) {
        s.request = &request;
        s.expected = &expected;
    }
    return all;
}

struct Outcome
{
    double total = -1;
    double slowest = -1;
};

// Runs `students` in a child while this process's event loop serves them.
inline Outcome inChild(quint16 port, std::vector<Student> all)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        std::abort();
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        students(port, std::move(all), pipeFds[1]);
    }
    ::close(pipeFds[1]);
    bool finished = false;
    QSocketNotifier notifier(pipeFds[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] { finished = true; });
    while (!finished)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    char text[128] = {};
    const ssize_t got = ::read(pipeFds[0], text, sizeof text - 1);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    Outcome outcome;
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
        std::sscanf(text, "%lf %lf", &outcome.total, &outcome.slowest) != 2)
        return {};
    return outcome;
}

} // namespace childstudents
