#include "bench/classroom/scenarios.h"

#include "bench/classroom/host.h"
#include "bench/classroom/report.h"
#include "bench/classroom/students.h"
#include "common/wire.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString Kougimei = QStringLiteral("情報処理演習Ⅰ");
const QString Tantousya = QStringLiteral("中村　誠");

// Seconds from each student's connect to `mark`, for those whose script ran
// through, and the span from the first connect to the last of those marks.
struct Latencies
{
    std::vector<double> seconds;
    double span = 0;
};

Latencies latencies(Classroom &room, Mark mark)
{
    Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
    Latencies result;
    for (auto &student : room.students()) {
        first = std::min(first, student->marks[Started]);
        if (!student->succeeded())
            continue;
        last = std::max(last, student->marks[mark]);
        result.seconds.push_back(secondsBetween(student->marks[Started], student->marks[mark]));
    }
    result.span = secondsBetween(first, last);
    return result;
}

} // namespace

Scenarios::Scenarios(Options options) : m_options(std::move(options))
{
    m_kadai = m_options.work + "/kadai";
    m_plain = m_options.work + "/plain";
    ::mkdir(m_options.work.c_str(), 0755);
    ::mkdir(m_kadai.c_str(), 0755);
    ::mkdir(m_plain.c_str(), 0755);
    removeFiles(m_kadai);
    removeFiles(m_plain);
    m_classSize = std::max({m_options.students, m_options.uploads, m_options.soakStudents,
                            m_options.hostileStudents, 1});
    m_lecture = wireBytes(wire::lectureLine(Kougimei, Tantousya));
}

void Scenarios::attendance()
{
    takeAttendance("attendance", m_options.students, 2.0);
}

void Scenarios::hall()
{
    takeAttendance("hall", m_options.hall, 3.0);
}

void Scenarios::takeAttendance(const char *scenario, int n, double goalSeconds)
{
    std::printf("%s: %d students connect at once, greeting and attendance\n", scenario, n);
    Host host;
    if (!startHost(host, std::max(n, m_classSize)))
        return;
    Classroom room(host.port);
    const std::string hello = wireBytes(wire::Hello), taken = wireBytes(wire::AttendanceTaken);
    for (int i = 0; i < n; ++i) {
        room.add(studentId(i),
                 {act(Step::Connect), expect(hello), expect(m_lecture, Greeted),
                  send(wireBytes(wire::userLine(QString::fromStdString(studentId(i))))),
                  expect(taken, Answered)});
    }
    const bool finished = room.run(60);
    if (!finished)
        mismatch("%s: %zu students unanswered after 60 s", scenario, room.unfinished());

    const Latencies greeting = latencies(room, Greeted), answer = latencies(room, Answered);
    checkGrid(host, n);
    std::printf("  greeting latency: %s\n", percentiles(greeting.seconds).c_str());
    std::printf("  connect to 101:   %s\n", percentiles(answer.seconds).c_str());
    report({printed("%d students answered 000/800/101", n),
            printed("%zu in %.3f s after the first connect", answer.seconds.size(), answer.span),
            printed("all, <= %g s", goalSeconds), answer.span / goalSeconds,
            finished && answer.seconds.size() == size_t(n) && answer.span <= goalSeconds});
    memoryLine(host);
    host.stop();
}

void Scenarios::crowd()
{
    const int n = m_options.crowd;
    std::printf("crowd: %d clients connect at once\n", n);
    Host host;
    if (!startHost(host))
        return;
    Classroom room(host.port);
    for (int i = 0; i < n; ++i) {
        room.add(studentId(i),
                 {act(Step::Connect), expect(wireBytes(wire::Hello)), expect(m_lecture, Greeted)});
    }
    const bool finished = room.run(120);
    if (!finished)
        mismatch("crowd: %zu clients not greeted after 120 s", room.unfinished());
    const Latencies greeting = latencies(room, Greeted);
    const size_t greeted = greeting.seconds.size();
    const bool alive = host.alive();
    std::printf("  greeting latency: %s\n", percentiles(greeting.seconds).c_str());
    report({printed("%d clients at once greeted", n),
            printed("%zu of %d in %.3f s, server %s", greeted, n, greeting.span,
                    alive ? "running" : "GONE"),
            "all, no crash", double(greeted) / n, alive && greeted == size_t(n)});
    memoryLine(host);
    host.stop();
}

void Scenarios::writeRoster(int students)
{
    QString text = QStringLiteral("kougimei=") + Kougimei + QStringLiteral("\r\ntantousya=") +
                   Tantousya + QStringLiteral("\r\nkadaidir=") + QString::fromStdString(m_kadai) +
                   QStringLiteral("\r\n<start data>\r\n");
    for (int i = 0; i < students; ++i)
        text += QString::fromStdString(studentId(i)) + QStringLiteral(",学生 %1\r\n").arg(i + 1);
    text += QStringLiteral("<end data>\r\n");
    if (!writeFile(m_options.work + "/roster.cfg", wireBytes(text)))
        mismatch("cannot write the roster in %s", m_options.work.c_str());
}

bool Scenarios::startHost(Host &host, int rosterSize)
{
    writeRoster(rosterSize > 0 ? rosterSize : m_classSize);
    if (host.start(m_options.host, m_options.work))
        return true;
    mismatch("the host program did not start");
    return false;
}

void Scenarios::memoryLine(Host &host)
{
    std::printf("  server memory: %.1f MiB at start, peak %.1f MiB\n", host.baselineKiB / 1024.0,
                host.peakKiB() / 1024.0);
}

void Scenarios::checkGrid(Host &host, int students)
{
    const std::vector<std::string> rows = host.ask("grid", "END");
    int marked = 0;
    for (const std::string &row : rows) {
        if (row.rfind("ROW ", 0) != 0)
            continue;
        const size_t tab = row.find('\t');
        const std::string id = row.substr(4, tab - 4);
        const std::string rest = row.substr(tab + 1);
        const size_t next = rest.find('\t');
        const std::string time = rest.substr(0, next);
        const std::string address = rest.substr(rest.rfind('\t') + 1);
        const bool stamped = time.size() == 8 && time[2] == ':' && time[5] == ':';
        if (std::stoi(id.substr(1)) <= students) {
            if (stamped && address == studentAddress(id))
                ++marked;
            else
                mismatch("grid row %s: attendance '%s', address '%s'", id.c_str(), time.c_str(),
                         address.c_str());
        }
    }
    if (marked != students)
        mismatch("grid: %d of %d students marked present", marked, students);
}

void Scenarios::checkFolderHolds(const std::vector<std::string> &expected)
{
    const std::vector<std::string> names = settledFolder(expected);
    if (names != expected)
        mismatch("the assignment folder holds %zu entries, expected %zu (first: %s)", names.size(),
                 expected.size(), names.empty() ? "-" : names.front().c_str());
}

namespace {

// The assignment folder's entries. Earlier versions are kept by design in
// the history folder; only a temporary file in it would be a stray.
std::vector<std::string> assignmentEntries(const std::string &kadai)
{
    static const std::string History = ".tavrelle-versions";
    std::vector<std::string> names;
    for (const std::string &name : folderEntries(kadai)) {
        if (name != History) {
            names.push_back(name);
            continue;
        }
        for (const std::string &file : folderEntries(kadai + "/" + History)) {
            for (const std::string &version : folderEntries(kadai + "/" + History + "/" + file)) {
                if (version.rfind(".tavrelle-", 0) == 0)
                    names.push_back(History + "/" + file + "/" + version);
            }
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::vector<std::string> Scenarios::settledFolder(const std::vector<std::string> &expected)
{
    std::vector<std::string> names = assignmentEntries(m_kadai);
    for (int i = 0; i < 50 && names != expected; ++i) {
        ::usleep(100 * 1000);
        names = assignmentEntries(m_kadai);
    }
    return names;
}

int Scenarios::settledDescriptors(Host &host)
{
    int fds = host.descriptors();
    for (int i = 0; i < 100 && fds > host.baselineFds; ++i) {
        ::usleep(100 * 1000);
        fds = host.descriptors();
    }
    return fds;
}
