// The hostile scenario: students attend and upload, again and again, while
// one client storms the server with connect/close and another floods it with
// attendance lines and never reads the replies. The students must still be
// answered quickly, every upload must be stored byte for byte, the server's
// memory must stay bounded, and nothing may be left behind.
#include "bench/classroom/host.h"
#include "bench/classroom/intruders.h"
#include "bench/classroom/report.h"
#include "bench/classroom/scenarios.h"
#include "bench/classroom/students.h"
#include "common/sha256.h"
#include "common/wire.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr size_t UploadBytes = 256 * 1024;

// Each student's upload starts at its own offset into the pattern.
size_t offsetOf(const Student &student)
{
    return size_t(student.index) * 4099;
}

std::string storedName(const Student &student)
{
    return student.id + ".hst";
}

} // namespace

void Scenarios::hostile()
{
    const int n = m_options.hostileStudents;
    const int seconds = m_options.hostileSeconds;
    m_pattern = pattern(UploadBytes + size_t(n) * 4099 + 8);
    std::printf("hostile: %d students attend and upload for %d s under a connect/close storm "
                "and a flood that never reads\n",
                n, seconds);
    // The receipt each student's upload must bring: its size and SHA-256.
    m_receipts.clear();
    for (int i = 0; i < n; ++i) {
        Sha256 hash;
        hash.add(QByteArrayView(m_pattern.data() + size_t(i) * 4099, qsizetype(UploadBytes)));
        m_receipts.push_back("403 " + std::to_string(UploadBytes) + "," +
                             hash.hexResult().toStdString() + ",");
    }
    removeFiles(m_kadai); // what earlier scenarios stored would count as left behind
    Host host;
    if (!startHost(host))
        return;
    const int mismatchesBefore = mismatches();
    m_hostileEnd = Clock::now() + std::chrono::seconds(seconds);
    m_replySeconds.clear();
    for (auto &kind : m_replySecondsByKind)
        kind.clear();
    m_connectSeconds.clear();
    m_cycles = 0;
    m_random.seed(11);
    Intruder storm, flood;
    storm.storm(host.port, m_hostileEnd);
    flood.flood(host.port, m_hostileEnd);
    bool finished = false;
    size_t unfinished = 0;
    std::vector<std::string> stored;
    {
        Classroom room(host.port);
        for (int i = 0; i < n; ++i)
            hostileCycle(room.add(studentId(i), {}));
        finished = room.run(seconds + 60.0);
        unfinished = room.unfinished();
        for (auto &student : room.students()) {
            if (student->stored)
                stored.push_back(storedName(*student));
        }
    } // every student has left
    std::sort(stored.begin(), stored.end());
    const long storms = storm.stop(), flooded = flood.stop();
    const long peak = host.peakKiB();
    const bool alive = host.alive();
    std::printf("  storm: %ld connections; flood: %.1f MiB of attendance lines\n", storms,
                mib(double(flooded)));
    std::printf("  reply latency: %s\n", percentiles(m_replySeconds).c_str());
    const char *kinds[] = {"greeting", "attendance", "put", "upload", "hash"};
    for (size_t k = 0; k < m_replySecondsByKind.size(); ++k)
        std::printf("    %-10s %s\n", kinds[k], percentiles(m_replySecondsByKind[k]).c_str());
    std::printf("    (connect   %s)\n", percentiles(m_connectSeconds).c_str());

    const int fds = alive ? settledDescriptors(host) : -1;
    std::vector<std::string> strays;
    for (const std::string &name : settledFolder(stored)) {
        if (!std::binary_search(stored.begin(), stored.end(), name))
            strays.push_back(name);
    }

    const double p99 = percentile(m_replySeconds, 0.99);
    report({printed("hostile: %d students' replies under storm and flood", n),
            printed("p99 %.0f ms over %zu replies, %zu students unfinished, server %s", p99 * 1000,
                    m_replySeconds.size(), unfinished, alive ? "running" : "GONE"),
            "p99 <= 1 s, all answered", p99, finished && alive && p99 <= 1.0});
    const int wrong = mismatches() - mismatchesBefore;
    report({"hostile: every reply right, every upload byte-exact",
            printed("%ld uploads stored, %d wrong replies or bytes", m_cycles, wrong), "all right",
            double(wrong), m_cycles > 0 && wrong == 0});
    const long growth = peak - host.baselineKiB;
    report({"hostile: server resident memory growth",
            printed("%.1f MiB (peak %.1f MiB over %.1f MiB at start)", growth / 1024.0,
                    peak / 1024.0, host.baselineKiB / 1024.0),
            "< 100 MiB", growth / (100.0 * 1024), alive && growth < 100 * 1024});
    report({"hostile: sockets and files after all left",
            printed("%d descriptors (at start %d), %zu stray files in the assignment folder%s", fds,
                    host.baselineFds, strays.size(),
                    strays.empty() ? "" : printed(" (first: %s)", strays.front().c_str()).c_str()),
            "back to start, none", double(fds) / host.baselineFds,
            alive && fds <= host.baselineFds && strays.empty()});
    host.stop();
}

// One round of a hostile-scenario student: attendance and an upload, each
// reply timed from the request it answers, then a short pause.
void Scenarios::hostileCycle(Student &student)
{
    if (Clock::now() >= m_hostileEnd)
        return; // an empty script: the student is done
    const QString id = QString::fromStdString(student.id);
    const int pause = int(m_random() % 500);
    std::vector<Action> &s = student.script;
    s.push_back(act(Step::Connect));
    s.push_back(expect(wireBytes(wire::Hello)));
    s.push_back(expect(m_lecture, Greeted));
    s.push_back(send(wireBytes(wire::userLine(id)), AskedAttendance));
    s.push_back(expect(
        wireBytes(student.attended ? wire::AttendanceAlready : wire::AttendanceTaken), Answered));
    s.push_back(
        send(wireBytes(wire::putLine(QString::fromStdString(storedName(student)), UploadBytes)),
             AskedUpload));
    s.push_back(expect(wireBytes(wire::ImageModeOk), Accepted));
    s.push_back(sendData(m_pattern.data() + offsetOf(student), UploadBytes, Sent));
    s.push_back(expect(wireBytes(wire::ReceiveComplete), Completed));
    s.push_back(
        send(wireBytes(wire::hashLine(QString::fromStdString(storedName(student)))), AskedReceipt));
    s.push_back(expectStart(m_receipts[size_t(student.index)], Receipted));
    s.push_back(check([this](Student &who) { recordReplies(who); }));
    s.push_back(act(Step::Close));
    s.push_back(sleepFor(pause));
    s.push_back(repeat([this](Student &who) {
        ++who.cycle;
        hostileCycle(who);
    }));
}

void Scenarios::recordReplies(Student &student)
{
    const auto between = [&](size_t kind, Mark from, Mark to) {
        const double seconds = secondsBetween(student.marks[from], student.marks[to]);
        m_replySeconds.push_back(seconds);
        m_replySecondsByKind[kind].push_back(seconds);
    };
    m_connectSeconds.push_back(secondsBetween(student.marks[Started], student.marks[Connected]));
    between(0, Started, Greeted);
    between(1, AskedAttendance, Answered);
    between(2, AskedUpload, Accepted);
    between(3, Sent, Completed);
    between(4, AskedReceipt, Receipted);
    student.attended = student.stored = true;
    ++m_cycles;
    if (!fileEquals(m_kadai + "/" + storedName(student), m_pattern.data() + offsetOf(student),
                    UploadBytes))
        mismatch("hostile: %s (cycle %d) differs from the upload", storedName(student).c_str(),
                 student.cycle);
}
