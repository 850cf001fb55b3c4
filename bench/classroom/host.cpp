#include "bench/classroom/host.h"

#include "bench/classroom/support.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

int openDescriptors(pid_t pid)
{
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd/";
    int count = 0;
    for (const std::string &name : folderEntries(folder)) {
        char target[256];
        const ssize_t n = ::readlink((folder + name).c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        // The lecture's records stay open by design: the journal, the day's
        // log and the spool of older log entries.
        const bool records =
            std::strstr(target, "/journal/") || std::strstr(target, "/tavrelle-log-");
        if (!records && (target[0] == '/' || std::strncmp(target, "socket:", 7) == 0))
            ++count;
    }
    return count;
}

namespace {

// A program started from a Debian desktop gets a soft open-file limit of
// 1024, whatever this benchmark raised its own to.
void useDesktopOpenFileLimit()
{
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(DesktopOpenFiles, files.rlim_max);
    ::setrlimit(RLIMIT_NOFILE, &files);
}

} // namespace

bool Host::start(const std::string &program, const std::string &folder)
{
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return false;
    m_pid = forkHelper();
    if (m_pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        // Only its own descriptors count in the host's baseline.
        ::close_range(3, ~0U, 0);
        useDesktopOpenFileLimit();
        // A lecture of its own: no journal of an earlier scenario to restore.
        ::setenv("XDG_DATA_HOME", (folder + "/data-" + std::to_string(::getpid())).c_str(), 1);
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
    baselineKiB = residentKiB();
    baselineFds = descriptors();
    return true;
}

bool Host::alive()
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

std::vector<std::string> Host::ask(const std::string &command, const std::string &last)
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

long Host::heapInUse()
{
    const std::vector<std::string> reply = ask("heap", "HEAP ");
    return reply.empty() ? -1 : std::atol(reply.back().c_str() + 5);
}

long Host::logEntries()
{
    const std::vector<std::string> reply = ask("log", "LOG ");
    return reply.empty() ? -1 : std::atol(reply.back().c_str() + 4);
}

void Host::stop()
{
    closeDescriptor(m_toHost);
    // Without stdin the host leaves by itself; it is killed after 5 s.
    for (int i = 0; i < 100 && m_pid > 0; ++i) {
        if (::waitpid(m_pid, nullptr, WNOHANG) != 0)
            m_pid = -1;
        else
            ::usleep(50 * 1000);
    }
    endHelper(m_pid, SIGKILL);
    closeDescriptor(m_fromHost);
}

std::string Host::readLine(int timeoutSeconds)
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
        const int left = int(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (left <= 0 || ::poll(&waiting, 1, left) <= 0)
            return {};
        char chunk[4096];
        const ssize_t n = ::read(m_fromHost, chunk, sizeof chunk);
        if (n <= 0)
            return {};
        m_buffer.append(chunk, size_t(n));
    }
}
