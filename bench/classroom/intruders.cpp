#include "bench/classroom/intruders.h"

#include "common/wire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A blocking loopback connection from `from` to the server, or -1. Every
// call waits at most 200 ms, so that the intruder keeps to its time.
int connectFrom(const char *from, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int yes = 1;
    // The port is picked at connect(): bind() alone would use up the ports.
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &yes, sizeof yes);
    const timeval wait{0, 200 * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr *>(&server), sizeof server) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

long stormUntil(uint16_t port, Clock::time_point until)
{
    long made = 0;
    while (Clock::now() < until) {
        const int fd = connectFrom("127.0.0.2", port);
        if (fd >= 0) {
            ++made;
            ::close(fd);
        }
    }
    return made;
}

long floodUntil(uint16_t port, Clock::time_point until)
{
    std::string lines;
    const std::string line = wireBytes(wire::userLine(QStringLiteral("taro")));
    while (lines.size() < 64 * 1024)
        lines += line;
    long sent = 0;
    while (Clock::now() < until) {
        const int fd = connectFrom("127.0.0.3", port);
        if (fd < 0)
            continue;
        // A full send buffer (the server stopped reading) only waits.
        for (ssize_t n = 0; Clock::now() < until && (n >= 0 || errno == EAGAIN);) {
            n = ::send(fd, lines.data(), lines.size(), MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
        }
        ::close(fd);
    }
    return sent;
}

} // namespace

void Intruder::storm(uint16_t port, Clock::time_point until)
{
    start([=] { return stormUntil(port, until); });
}

void Intruder::flood(uint16_t port, Clock::time_point until)
{
    start([=] { return floodUntil(port, until); });
}

void Intruder::start(std::function<long()> work)
{
    int result[2];
    if (::pipe2(result, O_CLOEXEC) != 0)
        return;
    m_pid = forkHelper();
    if (m_pid == 0) {
        ::close(result[0]);
        const long done = work();
        const ssize_t written = ::write(result[1], &done, sizeof done);
        ::_exit(written == sizeof done ? 0 : 1);
    }
    ::close(result[1]);
    m_result = result[0];
}

long Intruder::stop()
{
    long done = -1;
    if (m_pid > 0) {
        pollfd waiting{m_result, POLLIN, 0};
        if (::poll(&waiting, 1, 5000) <= 0 || ::read(m_result, &done, sizeof done) != sizeof done)
            done = -1;
    }
    endHelper(m_pid, SIGKILL);
    closeDescriptor(m_result);
    return done;
}
