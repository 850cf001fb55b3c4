// The uploads scenario: one large upload, then many at once, each against a
// plain loopback copy of the same bytes.
#include "bench/classroom/host.h"
#include "bench/classroom/plainreceiver.h"
#include "bench/classroom/report.h"
#include "bench/classroom/scenarios.h"
#include "bench/classroom/students.h"
#include "common/wire.h"

#include <algorithm>
#include <cstdio>

namespace {

// Every upload starts at its own odd offset into the pattern, so that a
// block stored for the wrong student shows.
constexpr size_t Stagger = 4099;

// MiB/s from the first to the last of the students' marks.
double rate(Classroom &room, Mark from, int count, size_t size)
{
    Clock::time_point first = Clock::time_point::max(), last = Clock::time_point::min();
    for (auto &student : room.students()) {
        first = std::min(first, student->marks[from]);
        last = std::max(last, student->marks[Completed]);
    }
    const double seconds = secondsBetween(first, last);
    const double result = mib(double(size) * count) / seconds;
    std::printf("%d x %zu MiB in %.3f s = %.0f MiB/s\n", count, size >> 20, seconds, result);
    return result;
}

// Best MiB/s of the server and of the two plain copies.
struct Throughput
{
    double server = 0;
    double hashing = 0;
    double plain = 0;
};

// The goal is against the copy that hashes, as the server does; the ratio
// to the copy that does not is shown beside it.
void reportThroughput(const std::string &goal, const Throughput &measured, double share)
{
    const double ratio = measured.hashing > 0 ? measured.server / measured.hashing : 0;
    const double plainRatio = measured.plain > 0 ? measured.server / measured.plain : 0;
    report({goal,
            printed("%.0f MiB/s; hashing copy %.0f MiB/s; plain copy %.0f MiB/s (%.2f of it)",
                    measured.server, measured.hashing, measured.plain, plainRatio),
            printed(">= %.2f of hashing copy", share), ratio, ratio >= share});
}

} // namespace

void Scenarios::uploads()
{
    const size_t big = m_options.bigMiB << 20;
    const size_t each = m_options.uploadMiB << 20;
    const int count = m_options.uploads;
    m_pattern = pattern(std::max(big, each + size_t(count) * Stagger) + 8);
    std::printf("uploads: 1 x %zu MiB, then %d x %zu MiB at once; best of %d, a plain copy "
                "that hashes (SHA-256) as the baseline, and one that does not\n",
                m_options.bigMiB, count, m_options.uploadMiB, m_options.repeat);
    Host host;
    if (!startHost(host))
        return;
    PlainReceiver plain, hashing;
    if (!plain.start(m_plain, false) || !hashing.start(m_plain, true)) {
        mismatch("the plain receiver did not start");
        return;
    }
    Throughput single, many;
    for (int round = 0; round < m_options.repeat; ++round) {
        single.plain = std::max(single.plain, plainCopy("plain: ", plain.port, 1, big));
        single.hashing = std::max(single.hashing, plainCopy("hashed:", hashing.port, 1, big));
        single.server = std::max(single.server, serverUpload(host, 1, big));
        many.plain = std::max(many.plain, plainCopy("plain: ", plain.port, count, each));
        many.hashing = std::max(many.hashing, plainCopy("hashed:", hashing.port, count, each));
        many.server = std::max(many.server, serverUpload(host, count, each));
    }
    plain.stop();
    hashing.stop();
    reportThroughput(printed("one %zu MiB upload", m_options.bigMiB), single, 0.75);
    reportThroughput(printed("%d x %zu MiB at once, byte-exact", count, m_options.uploadMiB), many,
                     0.5);
    const long peak = host.peakKiB();
    const long growth = peak - host.baselineKiB;
    report({"server memory growth during uploads",
            printed("%.1f MiB (peak %.1f MiB over %.1f MiB at start)", growth / 1024.0,
                    peak / 1024.0, host.baselineKiB / 1024.0),
            "< 64 MiB", growth / (64.0 * 1024), growth < 64 * 1024});
    checkFolderHolds({});
    host.stop();
}

// Measures `count` uploads of `size` bytes each to the server, checks every
// stored byte, and returns MiB/s (0 when some did not finish).
double Scenarios::serverUpload(Host &host, int count, size_t size)
{
    Classroom room(host.port);
    const std::string hello = wireBytes(wire::Hello);
    for (int i = 0; i < count; ++i) {
        const QString id = QString::fromStdString(studentId(i));
        const char *data = m_pattern.data() + size_t(i) * Stagger;
        room.add(
            id.toStdString(),
            {act(Step::Connect), expect(hello), expect(m_lecture),
             send(wireBytes(wire::userLine(id))),
             expectEither(wireBytes(wire::AttendanceTaken), wireBytes(wire::AttendanceAlready)),
             send(wireBytes(wire::putLine(id + QStringLiteral(".bin"), qint64(size)))),
             expect(wireBytes(wire::ImageModeOk), Accepted), sendData(data, size),
             expect(wireBytes(wire::ReceiveComplete), Completed), act(Step::Close)});
    }
    const bool finished = room.run(600);
    if (!finished)
        mismatch("uploads: %zu of %d unfinished after 600 s", room.unfinished(), count);
    for (auto &student : room.students()) {
        const std::string path = m_kadai + "/" + student->id + ".bin";
        if (!fileEquals(path, m_pattern.data() + size_t(student->index) * Stagger, size))
            mismatch("%s: stored bytes differ from the upload", path.c_str());
    }
    removeFiles(m_kadai);
    std::printf("  server: ");
    const double result = rate(room, Accepted, count, size);
    return finished ? result : 0;
}

double Scenarios::plainCopy(const char *label, uint16_t port, int count, size_t size)
{
    Classroom room(port);
    for (int i = 0; i < count; ++i) {
        const char *data = m_pattern.data() + size_t(i) * Stagger;
        room.add("plain" + std::to_string(i),
                 {act(Step::Connect), send(std::to_string(size) + "\n"), sendData(data, size),
                  expect("ok", Completed), act(Step::Close)});
    }
    const bool finished = room.run(600);
    if (!finished)
        mismatch("plain copy: %zu of %d unfinished", room.unfinished(), count);
    removeFiles(m_plain);
    std::printf("  %s ", label);
    const double result = rate(room, Connected, count, size);
    return finished ? result : 0;
}
