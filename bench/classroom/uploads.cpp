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

} // namespace

void Scenarios::uploads()
{
    const size_t big = m_options.bigMiB << 20;
    const size_t each = m_options.uploadMiB << 20;
    const int count = m_options.uploads;
    m_pattern = pattern(std::max(big, each + size_t(count) * Stagger) + 8);
    std::printf("uploads: 1 x %zu MiB, then %d x %zu MiB at once; best of %d, plain copy "
                "as the baseline\n",
                m_options.bigMiB, count, m_options.uploadMiB, m_options.repeat);
    Host host;
    if (!startHost(host))
        return;
    PlainReceiver plain;
    if (!plain.start(m_plain)) {
        mismatch("the plain receiver did not start");
        return;
    }
    double serverSingle = 0, plainSingle = 0, serverMany = 0, plainMany = 0;
    for (int round = 0; round < m_options.repeat; ++round) {
        plainSingle = std::max(plainSingle, plainCopy(plain.port, 1, big));
        serverSingle = std::max(serverSingle, serverUpload(host, 1, big));
        plainMany = std::max(plainMany, plainCopy(plain.port, count, each));
        serverMany = std::max(serverMany, serverUpload(host, count, each));
    }
    plain.stop();
    const double singleRatio = plainSingle > 0 ? serverSingle / plainSingle : 0;
    const double manyRatio = plainMany > 0 ? serverMany / plainMany : 0;
    report({printed("one %zu MiB upload", m_options.bigMiB),
            printed("%.0f MiB/s, plain copy %.0f MiB/s", serverSingle, plainSingle),
            ">= 0.75 of plain", singleRatio, singleRatio >= 0.75});
    report({printed("%d x %zu MiB at once, byte-exact", count, m_options.uploadMiB),
            printed("%.0f MiB/s, plain copy %.0f MiB/s", serverMany, plainMany), ">= 0.50 of plain",
            manyRatio, manyRatio >= 0.5});
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

double Scenarios::plainCopy(uint16_t port, int count, size_t size)
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
    std::printf("  plain:  ");
    const double result = rate(room, Connected, count, size);
    return finished ? result : 0;
}
