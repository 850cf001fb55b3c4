#include "bench/classroom/support.h"

#include "common/cp932.h"

#include <algorithm>
#include <csignal>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
int g_mismatches = 0;
}

double secondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

void mismatch(const char *format, ...)
{
    if (++g_mismatches > 30)
        return;
    std::fflush(stdout); // keep the scenario's own lines before the mismatch
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "MISMATCH: ");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
}

int mismatches()
{
    return g_mismatches;
}

std::string wireBytes(const QString &text)
{
    return cp932::encode(text).toStdString();
}

std::string studentId(int index)
{
    char id[16];
    std::snprintf(id, sizeof id, "s%04d", index + 1);
    return id;
}

std::string studentAddress(const std::string &id)
{
    const int number = std::atoi(id.c_str() + 1);
    char address[32];
    std::snprintf(address, sizeof address, "127.1.%d.%d", number / 250, number % 250 + 1);
    return address;
}

bool writeFile(const std::string &path, const std::string &bytes)
{
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

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

pid_t forkHelper()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    return pid;
}

void endHelper(pid_t &pid, int signal)
{
    if (pid > 0) {
        ::kill(pid, signal);
        ::waitpid(pid, nullptr, 0);
    }
    pid = -1;
}

void closeDescriptor(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}
