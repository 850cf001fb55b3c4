#pragma once

// The plain copy the uploads are measured against: a single-threaded
// receiver in its own process takes "<size>\n" and that many bytes per
// connection, writes them to a file with read() and write(), and answers
// "ok" followed by a line end. A hashing receiver also computes each file's
// SHA-256 as the bytes arrive (OpenSSL libcrypto), as the server does for its
// receipts, so that the comparison is like with like.
#include <cstdint>
#include <string>
#include <sys/types.h>

class PlainReceiver
{
public:
    PlainReceiver() = default;
    PlainReceiver(const PlainReceiver &) = delete;
    PlainReceiver &operator=(const PlainReceiver &) = delete;
    ~PlainReceiver() { stop(); }

    // Listens on loopback and starts serving into `folder`.
    bool start(const std::string &folder, bool hashing);
    void stop();

    uint16_t port = 0;

private:
    [[noreturn]] void serve(const std::string &folder, bool hashing);

    int m_listener = -1;
    pid_t m_pid = -1;
};
