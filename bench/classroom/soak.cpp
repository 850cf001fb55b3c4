// The soak scenario: students repeat attendance and uploads (some cut off
// mid-upload) for a while, asking for each receipt after 302; memory and
// descriptors must stay flat, and each receipt must come at once.
#include "bench/classroom/host.h"
#include "bench/classroom/report.h"
#include "bench/classroom/scenarios.h"
#include "bench/classroom/students.h"
#include "common/sha256.h"
#include "common/wire.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

struct Sample
{
    double at; // seconds
    double mib;
};

struct Trend
{
    bool valid = false;
    double first = 0, last = 0; // MiB, after the warm-up
    double slope = 0;           // MiB per minute
};

// The least-squares slope of the samples taken while the class worked
// (until `end` seconds), after a warm-up quarter. Once the students leave,
// the server gives memory back: that fall is no trend.
Trend trend(std::vector<Sample> samples, double end)
{
    std::erase_if(samples, [end](const Sample &sample) { return sample.at > end; });
    const size_t from = samples.size() / 4;
    Trend result;
    if (samples.size() - from < 8)
        return result;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double count = double(samples.size() - from);
    for (size_t i = from; i < samples.size(); ++i) {
        const double x = samples[i].at / 60.0, y = samples[i].mib;
        sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    result.valid = true;
    result.first = samples[from].mib;
    result.last = samples.back().mib;
    result.slope = (count * sxy - sx * sy) / (count * sxx - sx * sx);
    return result;
}

double heapMiB(Host &host)
{
    return host.heapInUse() / 1024.0 / 1024.0;
}

} // namespace

void Scenarios::soak()
{
    const int n = m_options.soakStudents;
    const int seconds = m_options.soakSeconds;
    if (m_pattern.size() < (m_options.soakMaxKiB << 10) * 4)
        m_pattern = pattern((m_options.soakMaxKiB << 10) * 4);
    std::printf("soak: %d students repeat attendance and uploads for %d s\n", n, seconds);
    Host host;
    if (!startHost(host))
        return;
    Classroom room(host.port);
    m_soakEnd = Clock::now() + std::chrono::seconds(seconds);
    m_cycles = m_cutOff = 0;
    m_receiptSeconds.clear();
    m_attendanceSeconds.clear();
    m_random.seed(7);
    for (int i = 0; i < n; ++i) {
        Student &student = room.add(studentId(i), {});
        soakCycle(student);
    }

    // Sample while the students work: the loop runs in one-second slices.
    // The activity log keeps every entry by design, so it is emptied now
    // and then, as the lecturer can; the memory in use right after that
    // is what the connections and uploads hold, and must stay flat.
    host.ask("clear", "CLEARED");
    const double startInUse = heapMiB(host);
    std::vector<Sample> rss, inUse;
    long logEntries = 0;
    const int clearEvery = m_options.soakClearSeconds;
    const Clock::time_point start = Clock::now();
    Clock::time_point cleared = start;
    bool finished = false;
    while (!finished && host.alive()) {
        finished = room.run(1.0);
        const Clock::time_point now = Clock::now();
        const double at = secondsBetween(start, now);
        const long entries = host.logEntries();
        if (clearEvery == 0 || now - cleared >= std::chrono::seconds(clearEvery)) {
            if (clearEvery > 0)
                host.ask("clear", "CLEARED");
            logEntries += clearEvery > 0 ? entries : 0;
            cleared = now;
            inUse.push_back({at, heapMiB(host)});
        }
        rss.push_back({at, host.residentKiB() / 1024.0});
        if (rss.size() % 30 == 0 || finished)
            std::printf("  %5.0f s: %ld uploads, RSS %.1f MiB, in use %.1f MiB, %d fds, log "
                        "%ld entries\n",
                        at, m_cycles, rss.back().mib, inUse.empty() ? 0.0 : inUse.back().mib,
                        host.descriptors(), entries);
        std::fflush(stdout);
        if (now > m_soakEnd + std::chrono::seconds(60)) {
            mismatch("soak: %zu students still busy 60 s after the end", room.unfinished());
            break;
        }
    }
    logEntries += host.logEntries();
    // Everybody has left: the server must give back every descriptor.
    const int fds = settledDescriptors(host);
    checkFolderHolds(soakStoredFiles(room));
    host.ask("clear", "CLEARED");
    const double endInUse = heapMiB(host);
    std::printf("  %ld uploads stored, %ld cut off mid-upload, %ld log entries\n", m_cycles,
                m_cutOff, logEntries);
    const Trend used = trend(inUse, seconds), resident = trend(rss, seconds);
    if (!used.valid)
        mismatch("soak: too short to judge memory (%zu samples)", inUse.size());
    std::printf("  in use right after emptying the log: %.1f -> %.1f MiB after warm-up, "
                "%+.2f MiB/min\n",
                used.first, used.last, used.slope);
    // Whatever a connection or an upload leaves behind is still in use
    // once everybody has left and the log is empty.
    report({printed("soak %d students, %d s: memory in use after all left", n, seconds),
            printed("%.2f MiB (at start %.2f MiB)", endInUse, startInUse), "back to start (+1 MiB)",
            endInUse - startInUse, endInUse < startInUse + 1.0});
    report({printed("soak %d students, %d s: resident memory", n, seconds),
            printed("%.1f -> %.1f MiB after warm-up, %+.2f MiB/min", resident.first, resident.last,
                    resident.slope),
            "flat (< 1 MiB/min)", std::abs(resident.slope), std::abs(resident.slope) < 1.0});
    // Answered from the receipt recorded at 302: no file is read for it.
    const double receiptP99 = percentile(m_receiptSeconds, 0.99);
    std::printf("  hash after 302: %s\n", percentiles(m_receiptSeconds).c_str());
    // The same wait for the plainest answer: what the loop adds to any reply.
    std::printf("  attendance, beside it: %s\n", percentiles(m_attendanceSeconds).c_str());
    report({printed("soak %d students handing in: hash answered", n),
            printed("p99 %.2f ms over %zu receipts", receiptP99 * 1000, m_receiptSeconds.size()),
            "p99 < 5 ms", receiptP99 / 0.005, !m_receiptSeconds.empty() && receiptP99 < 0.005});
    report({printed("soak %d students: sockets and files after all left", n),
            printed("%d (at start %d)", fds, host.baselineFds), "back to start",
            double(fds) / host.baselineFds, fds <= host.baselineFds});
    host.stop();
}

namespace {

// "403 <size>,<SHA-256>," of the bytes: the time after it varies.
std::string receiptStart(const char *data, size_t size)
{
    Sha256 hash;
    hash.add(QByteArrayView(data, qsizetype(size)));
    return "403 " + std::to_string(size) + "," + hash.hexResult().toStdString() + ",";
}

} // namespace

// One round of a soak student: attendance, an upload of a random size
// (every eighth one cut off halfway), leave in one of three ways, pause.
void Scenarios::soakCycle(Student &student)
{
    if (Clock::now() >= m_soakEnd)
        return; // an empty script: the student is done
    const size_t maxBytes = m_options.soakMaxKiB << 10;
    const size_t size = std::uniform_int_distribution<size_t>(0, maxBytes)(m_random);
    const size_t offset =
        std::uniform_int_distribution<size_t>(0, m_pattern.size() - maxBytes)(m_random);
    const bool cutOff = m_random() % 8 == 0 && size > 1;
    const int leave = int(m_random() % 3);
    const int pause = int(m_random() % 1000);
    const QString id = QString::fromStdString(student.id);
    std::vector<Action> &s = student.script;
    s.push_back(act(Step::Connect));
    s.push_back(check([this](Student &who) { checkStored(who); }));
    s.push_back(expect(wireBytes(wire::Hello)));
    s.push_back(expect(m_lecture));
    s.push_back(send(wireBytes(wire::userLine(id)), AskedAttendance));
    s.push_back(expect(
        wireBytes(student.attended ? wire::AttendanceAlready : wire::AttendanceTaken), Answered));
    s.push_back(check([this](Student &who) {
        who.attended = true;
        m_attendanceSeconds.push_back(
            secondsBetween(who.marks[AskedAttendance], who.marks[Answered]));
    }));
    s.push_back(send(wireBytes(wire::putLine(id + QStringLiteral(".dat"), qint64(size)))));
    if (size > 0)
        s.push_back(expect(wireBytes(wire::ImageModeOk)));
    if (cutOff) {
        s.push_back(sendData(m_pattern.data() + offset, size / 2));
        s.push_back(check([this](Student &) { ++m_cutOff; }));
        s.push_back(act(Step::Abort));
    } else {
        if (size > 0)
            s.push_back(sendData(m_pattern.data() + offset, size));
        s.push_back(expect(wireBytes(wire::ReceiveComplete)));
        s.push_back(check([this, offset, size](Student &who) {
            who.stored = true;
            who.storedOffset = offset;
            who.storedSize = size;
            checkStored(who);
            ++m_cycles;
        }));
        s.push_back(send(wireBytes(wire::hashLine(id + QStringLiteral(".dat"))), AskedReceipt));
        s.push_back(expectStart(receiptStart(m_pattern.data() + offset, size), Receipted));
        s.push_back(check([this](Student &who) {
            m_receiptSeconds.push_back(
                secondsBetween(who.marks[AskedReceipt], who.marks[Receipted]));
        }));
        if (leave == 0) {
            // The close command: the server leaves silently.
            s.push_back(send(wireBytes(QStringLiteral("bye") + wire::Eol)));
            s.push_back(act(Step::ExpectClose));
        }
        s.push_back(act(leave == 2 ? Step::Abort : Step::Close));
    }
    s.push_back(sleepFor(pause));
    s.push_back(repeat([this](Student &who) {
        ++who.cycle;
        soakCycle(who);
    }));
}

void Scenarios::checkStored(Student &student)
{
    if (student.stored && !fileEquals(m_kadai + "/" + student.id + ".dat",
                                      m_pattern.data() + student.storedOffset, student.storedSize))
        mismatch("soak: %s.dat (cycle %d) is not the last complete upload", student.id.c_str(),
                 student.cycle);
}

std::vector<std::string> Scenarios::soakStoredFiles(Classroom &room)
{
    std::vector<std::string> names;
    for (auto &student : room.students()) {
        if (student->stored)
            names.push_back(student->id + ".dat");
    }
    std::sort(names.begin(), names.end());
    return names;
}
