#pragma once

// Scripted students: each one a loopback connection that follows a script of
// actions (connect, expect a reply, send, upload, close, ...), all of them on
// one epoll loop in this thread.
#include "bench/classroom/support.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
// Moments a student's script stamps, for latencies and throughput.
enum Mark {
    Started,
    Connected,
    Greeted,
    AskedAttendance,
    Answered,
    AskedUpload,
    Accepted,
    Sent,
    Completed,
    AskedReceipt,
    Receipted,
    MarkCount
};

struct Student;

struct Action
{
    Step step = Step::Connect;
    std::string text;           // Expect: the reply line; Send: the bytes
    Mark mark = MarkCount;      // stamped when the action is done
    std::string alternative;    // Expect: another reply that is right too
    bool prefix = false;        // Expect: the reply need only begin with the text
    const char *data = nullptr; // SendData
    size_t size = 0;
    int milliseconds = 0;               // Sleep
    std::function<void(Student &)> run; // Check, Repeat
};

Action act(Step step, const std::string &text = {}, Mark mark = MarkCount);
Action expect(const std::string &line, Mark mark = MarkCount);
Action expectEither(const std::string &line, const std::string &other, Mark mark = MarkCount);
// A reply that begins with `start` (the rest varies, such as a time).
Action expectStart(const std::string &start, Mark mark = MarkCount);
Action send(const std::string &bytes, Mark mark = MarkCount);
Action sendData(const char *data, size_t size, Mark mark = MarkCount);
Action check(std::function<void(Student &)> run);
Action sleepFor(int milliseconds);
// Starts the script over: `run` writes the student's next script.
Action repeat(std::function<void(Student &)> run);

struct Student
{
    int index = 0;
    std::string id;
    std::vector<Action> script;
    size_t next = 0;
    bool done = false;

    // Whether the whole script ran (not cut short by a failure).
    bool succeeded() const { return next >= script.size(); }

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

class Classroom
{
public:
    explicit Classroom(uint16_t port);
    Classroom(const Classroom &) = delete;
    Classroom &operator=(const Classroom &) = delete;
    ~Classroom();

    Student &add(std::string id, std::vector<Action> script);
    std::vector<std::unique_ptr<Student>> &students() { return m_students; }

    // Runs until every script is done, or the time is up (false).
    bool run(double timeoutSeconds);
    size_t unfinished() const { return m_students.size() - m_done; }
    void fail(Student &student, const std::string &what);

private:
    void finish(Student &student);
    bool openSocket(Student &student);
    void closeSocket(Student &student, bool abort);
    void onEvent(Student &student, uint32_t events);
    bool flush(Student &student);
    void advance(Student &student);

    uint16_t m_port;
    int m_epoll;
    std::vector<std::unique_ptr<Student>> m_students;
    size_t m_done = 0;
    int m_sleepers = 0;
};
