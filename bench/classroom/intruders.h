#pragma once

// Hostile clients, each in a process of its own so that it runs at full
// speed beside the students, and each bounded in time: it stops by itself
// at `until`. Both talk to loopback only, from addresses of their own
// (127.0.0.2, 127.0.0.3) so that they never take the students' ports.
#include "bench/classroom/support.h"

#include <cstdint>
#include <functional>
#include <sys/types.h>

class Intruder
{
public:
    Intruder() = default;
    Intruder(const Intruder &) = delete;
    Intruder &operator=(const Intruder &) = delete;
    ~Intruder() { stop(); }

    // Connects and closes again, as fast as it can.
    void storm(uint16_t port, Clock::time_point until);
    // Sends attendance lines without end and never reads the replies.
    void flood(uint16_t port, Clock::time_point until);

    // Waits for the intruder to end and returns what it did: connections
    // made (storm) or bytes sent (flood); -1 when it had to be killed.
    long stop();

private:
    void start(std::function<long()> work);

    pid_t m_pid = -1;
    int m_result = -1;
};
