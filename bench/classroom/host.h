#pragma once

// The lecturer's program under load: bench_classroom_host in its own
// process, talked to through its stdin and stdout, and what it holds
// (resident memory, sockets and files) read from /proc.
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// A "Vm..." field of /proc/PID/status in KiB, -1 when unreadable.
long statusKiB(pid_t pid, const char *field);

// Sockets and files a process holds. The helper threads Qt starts and ends
// by itself hold event descriptors; those do not count.
int openDescriptors(pid_t pid);

// The host starts with the soft open-file limit of a desktop session.
constexpr unsigned DesktopOpenFiles = 1024;

class Host
{
public:
    Host() = default;
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;
    ~Host() { stop(); }

    // Starts `program` on `folder` (which holds roster.cfg) and waits for it
    // to listen; then takes the memory and descriptor baseline.
    bool start(const std::string &program, const std::string &folder);
    // False (and says so) once the host has ended.
    bool alive();
    // Ends stdin, waits up to 5 s for the host to leave, then kills it.
    void stop();

    // Sends a command and collects the reply lines up to one that starts with `last`.
    std::vector<std::string> ask(const std::string &command, const std::string &last);
    // Bytes the host has allocated and not freed.
    long heapInUse();
    // Entries (lines) in the activity log.
    long logEntries();

    pid_t pid() const { return m_pid; }
    long residentKiB() const { return statusKiB(m_pid, "VmRSS"); }
    long peakKiB() const { return statusKiB(m_pid, "VmHWM"); }
    int descriptors() const { return openDescriptors(m_pid); }

    uint16_t port = 0;
    long baselineKiB = 0;
    int baselineFds = 0;

private:
    std::string readLine(int timeoutSeconds);

    pid_t m_pid = -1;
    int m_toHost = -1;
    int m_fromHost = -1;
    std::string m_buffer;
};
