#pragma once

// The scenarios of the classroom load benchmark, each against a freshly
// started host:
//   attendance  N students connect at once, wait for 000 and 800, send their
//               user line and expect 101; the grid must show every one.
//   hall        the same for a lecture hall of 5,000, within 3 s.
//   crowd       M clients connect at once and must all be greeted.
//   uploads     one large upload, then many simultaneous ones, each measured
//               against a plain loopback copy of the same bytes into the same
//               folder, made by a plain receiver process in the same run.
//   soak        students repeat attendance and uploads (some cut off
//               mid-upload) for a while, asking for each receipt; memory
//               and descriptors are sampled, the receipts timed.
//   hostile     students attend and upload while one client storms the
//               server with connect/close and another floods it with text
//               it never reads the replies to.
// Every reply and every stored byte is checked; any mismatch is printed and
// makes the run fail.
#include "bench/classroom/support.h"

#include <array>
#include <random>
#include <set>
#include <string>
#include <vector>

class Classroom;
class Host;
struct Student;

// What to run and how large; bench_classroom --help gives the defaults.
struct Options
{
    std::string host;
    std::string work;
    std::set<std::string> only; // scenarios; empty: all of them
    int students = 0;
    int hall = 0;
    int crowd = 0;
    size_t bigMiB = 0;
    int uploads = 0;
    size_t uploadMiB = 0;
    int repeat = 0;
    int soakSeconds = 0;
    int soakStudents = 0;
    int soakClearSeconds = 0;
    size_t soakMaxKiB = 0;
    int hostileStudents = 0;
    int hostileSeconds = 0;
};

class Scenarios
{
public:
    explicit Scenarios(Options options);

    void attendance();
    void hall();
    void crowd();
    void uploads();
    void soak();
    void hostile();

private:
    void takeAttendance(const char *scenario, int students, double goalSeconds);
    void writeRoster(int students);
    // Writes a roster of `rosterSize` students (the class, when 0) and
    // starts the host on it.
    bool startHost(Host &host, int rosterSize = 0);
    void memoryLine(Host &host);
    void checkGrid(Host &host, int students);
    // Once every connection is gone, the folder holds exactly the stored
    // files: no temporary file is left behind.
    void checkFolderHolds(const std::vector<std::string> &expected);
    // The folder's entries once they equal `expected`, or after 5 s.
    std::vector<std::string> settledFolder(const std::vector<std::string> &expected);
    // The host's descriptors once they are back to its start, or after 10 s.
    int settledDescriptors(Host &host);

    // uploads
    double serverUpload(Host &host, int count, size_t size);
    double plainCopy(const char *label, uint16_t port, int count, size_t size);

    // soak
    void soakCycle(Student &student);
    void checkStored(Student &student);
    std::vector<std::string> soakStoredFiles(Classroom &room);

    // hostile
    void hostileCycle(Student &student);
    void recordReplies(Student &student);

    Options m_options;
    std::string m_kadai;
    std::string m_plain;
    std::string m_lecture;
    int m_classSize = 0; // the roster of every scenario but the hall
    std::vector<char> m_pattern;
    Clock::time_point m_soakEnd;
    long m_cycles = 0;
    long m_cutOff = 0;
    std::mt19937_64 m_random;
    Clock::time_point m_hostileEnd;
    std::vector<double> m_replySeconds;
    // The same, by what was asked: greeting, attendance, put, upload, hash.
    std::array<std::vector<double>, 5> m_replySecondsByKind;
    std::vector<std::string> m_receipts;  // per student: the start of its 403 line
    std::vector<double> m_receiptSeconds; // soak: from the hash line to its 403
    // soak: from the user line to its answer, the loop's own wait beside it
    std::vector<double> m_attendanceSeconds;
    std::vector<double> m_connectSeconds; // part of the greeting's
};
