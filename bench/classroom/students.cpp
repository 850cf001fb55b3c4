#include "bench/classroom/students.h"

#include "common/wire.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

Action act(Step step, const std::string &text, Mark mark)
{
    Action action;
    action.step = step;
    action.text = text;
    action.mark = mark;
    return action;
}

Action expect(const std::string &line, Mark mark)
{
    return act(Step::Expect, line, mark);
}

Action expectEither(const std::string &line, const std::string &other, Mark mark)
{
    Action action = expect(line, mark);
    action.alternative = other;
    return action;
}

Action expectStart(const std::string &start, Mark mark)
{
    Action action = expect(start, mark);
    action.prefix = true;
    return action;
}

Action send(const std::string &bytes, Mark mark)
{
    return act(Step::Send, bytes, mark);
}

Action sendData(const char *data, size_t size, Mark mark)
{
    Action action = act(Step::SendData, {}, mark);
    action.data = data;
    action.size = size;
    return action;
}

namespace {

Action runAction(Step step, std::function<void(Student &)> run)
{
    Action action = act(step);
    action.run = std::move(run);
    return action;
}

} // namespace

Action check(std::function<void(Student &)> run)
{
    return runAction(Step::Check, std::move(run));
}

Action sleepFor(int milliseconds)
{
    Action action = act(Step::Sleep);
    action.milliseconds = milliseconds;
    return action;
}

Action repeat(std::function<void(Student &)> run)
{
    return runAction(Step::Repeat, std::move(run));
}

Classroom::Classroom(uint16_t port) : m_port(port), m_epoll(::epoll_create1(EPOLL_CLOEXEC))
{}

Classroom::~Classroom()
{
    for (auto &student : m_students) {
        if (student->fd >= 0)
            ::close(student->fd);
    }
    ::close(m_epoll);
}

Student &Classroom::add(std::string id, std::vector<Action> script)
{
    auto student = std::make_unique<Student>();
    student->index = int(m_students.size());
    student->id = std::move(id);
    student->script = std::move(script);
    m_students.push_back(std::move(student));
    return *m_students.back();
}

bool Classroom::run(double timeoutSeconds)
{
    const Clock::time_point deadline =
        Clock::now() +
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeoutSeconds));
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

void Classroom::fail(Student &student, const std::string &what)
{
    mismatch("%s (step %zu): %s", student.id.c_str(), student.next, what.c_str());
    closeSocket(student, false);
    finish(student);
}

void Classroom::finish(Student &student)
{
    if (student.sleeping)
        --m_sleepers;
    student.sleeping = false;
    student.done = true;
    ++m_done;
}

bool Classroom::openSocket(Student &student)
{
    student.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (student.fd < 0) {
        fail(student, std::string("socket: ") + std::strerror(errno));
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, studentAddress(student.id).c_str(), &local.sin_addr);
    const int yes = 1;
    // The port is picked at connect(): bind() alone would use up the ports.
    ::setsockopt(student.fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &yes, sizeof yes);
    if (::bind(student.fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        fail(student, std::string("bind: ") + std::strerror(errno));
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

void Classroom::closeSocket(Student &student, bool abort)
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

void Classroom::onEvent(Student &student, uint32_t events)
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

// Writes what is queued, text before file data. False when the connection failed.
bool Classroom::flush(Student &student)
{
    while (!student.out.empty()) {
        const ssize_t n = ::send(student.fd, student.out.data(), student.out.size(), MSG_NOSIGNAL);
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
        const ssize_t n = ::send(student.fd, student.data + student.dataSent, chunk, MSG_NOSIGNAL);
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

namespace {

std::optional<std::string> takeLine(Student &student)
{
    static const std::string eol = wireBytes(wire::Eol);
    const size_t end = student.in.find(eol);
    if (end == std::string::npos)
        return std::nullopt;
    std::string line = student.in.substr(0, end);
    student.in.erase(0, end + eol.size());
    return line;
}

} // namespace

void Classroom::advance(Student &student)
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
                    fail(student, "closed by the server while waiting for '" + action.text + "'");
                return;
            }
            const bool right =
                action.prefix ? line->rfind(action.text, 0) == 0 : *line == action.text;
            if (!right && (action.alternative.empty() || *line != action.alternative)) {
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
