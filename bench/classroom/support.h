#pragma once

// What every part of the classroom load benchmark shares: the clock, the
// failure count, the students' IDs, the bytes they upload and the helper
// processes' lifetime.
#include <QString>

#include <chrono>
#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to);

// Prints a wrong reply or byte (the first 30) and counts it: any makes the run fail.
void mismatch(const char *format, ...) __attribute__((format(printf, 1, 2)));
int mismatches();

// The text as it goes over the wire: code page 932.
std::string wireBytes(const QString &text);

// "s0001", "s0002", ... for index 0, 1, ...
std::string studentId(int index);
// Every student sits at a machine of its own: a loopback address of its own,
// 127.1.x.y, derived from its ID ("s0001" -> 127.1.0.1).
std::string studentAddress(const std::string &id);

bool writeFile(const std::string &path, const std::string &bytes);
// Compares the file at `path` with `expected`, byte for byte.
bool fileEquals(const std::string &path, const char *expected, size_t size);
std::vector<std::string> folderEntries(const std::string &path);
void removeFiles(const std::string &folder);

// The bytes every upload is cut from: random, so a misplaced block shows.
std::vector<char> pattern(size_t size);

// fork() for a helper process: the child is killed when the benchmark ends,
// however it ends, so that none outlives it.
pid_t forkHelper();
// Sends `signal` to a running helper and waits for it to end; `pid` becomes -1.
void endHelper(pid_t &pid, int signal);
// Closes `fd` when it is open; it becomes -1.
void closeDescriptor(int &fd);
