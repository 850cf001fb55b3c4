// The cost of keeping every version, and of the submissions list.
//
// 1. Uploads that each replace an earlier submission, all at once, with the
//    history on (hozon=10) and off (hozon=0): throughput in MiB/s, median of
//    alternating rounds. Target: with history >= 0.95 of without.
// 2. The list of 1,000 students with 10 versions each (journal receipts of
//    10,000 uploads): built from the receipts, then checked again, and the
//    CSV. Target: < 0.5 s.
//
// 3. The list made from a journal of --journal-mib MiB (default 1024) of
//    receipts, as `--submissions` reads it: streamed, so memory grows by
//    less than 64 MiB; < 5 s.
//
// bench_assignments [--uploads N] [--mib M] [--rounds R] [--journal-mib J] [--dir DIR]
#include "common/cp932.h"
#include "platform/textlog.h"
#include "server/app/classrules.h"
#include "server/folders/versionnames.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/net/classroomserver.h"
#include "server/records/lecturejournal.h"
#include "server/term/submissionsindex.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace {

class NoLog : public TextLog
{
public:
    void insertAtTop(const QString &) override {}
    QString text() const override { return {}; }
};

struct Options
{
    int uploads = 50;
    int mib = 20;
    int rounds = 3;
    int journalMib = 1024;
    QString dir;
};

Options parse(const QStringList &arguments)
{
    Options options;
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        if (arguments[i] == u"--uploads")
            options.uploads = arguments[i + 1].toInt();
        else if (arguments[i] == u"--mib")
            options.mib = arguments[i + 1].toInt();
        else if (arguments[i] == u"--rounds")
            options.rounds = arguments[i + 1].toInt();
        else if (arguments[i] == u"--journal-mib")
            options.journalMib = arguments[i + 1].toInt();
        else if (arguments[i] == u"--dir")
            options.dir = arguments[i + 1];
    }
    return options;
}

// One round: every client puts its file and sends it in 1 MiB pieces; the
// time runs from the first put line to the last 302.
double uploadRound(ClassroomServer &server, int uploads, const QByteArray &file)
{
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    int done = 0;
    for (int i = 0; i < uploads; ++i) {
        auto client = std::make_unique<QTcpSocket>();
        client->connectToHost(QHostAddress::LocalHost, server.port());
        client->waitForConnected(5000);
        clients.push_back(std::move(client));
    }
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < uploads; ++i) {
        QTcpSocket *client = clients[size_t(i)].get();
        auto sent = std::make_shared<qsizetype>(-1);
        QObject::connect(client, &QTcpSocket::readyRead, client, [client, sent, &file, &done] {
            const QByteArray replies = client->readAll();
            if (replies.contains("301")) {
                *sent = 0;
                Q_EMIT client->bytesWritten(0);
            }
            if (replies.contains("302"))
                ++done;
        });
        QObject::connect(client, &QTcpSocket::bytesWritten, client, [client, sent, &file] {
            constexpr qsizetype Piece = 1 << 20;
            if (*sent < 0 || *sent >= file.size() || client->bytesToWrite() > Piece)
                return;
            const qsizetype piece = qMin(Piece, file.size() - *sent);
            client->write(file.constData() + *sent, piece);
            *sent += piece;
        });
        // A file is taken from the student who attended on the connection.
        const QByteArray id = "s" + QByteArray::number(i);
        client->write("user " + id + "\r\nput " + id + ".bin," + QByteArray::number(file.size()) +
                      "\r\n");
    }
    while (done < uploads)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return double(clock.nsecsElapsed()) / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void benchHistory(const Options &options, const QString &root)
{
    RosterGrid grid;
    std::vector<RosterGrid::Row> rows;
    for (int i = 0; i < options.uploads; ++i)
        rows.push_back({QStringLiteral("s%1").arg(i), QStringLiteral("学生 %1").arg(i)});
    rows.push_back({QStringLiteral("計"), QString()});
    grid.replaceRowsFrom(1, std::move(rows));
    grid.setRosterCount(options.uploads);
    Lecture lecture;
    AttendanceBook book(grid);
    book.setProxyCheck(false);
    NoLog log;
    const QString kadai = root + "/uploads";
    QDir().mkpath(kadai);
    lecture.setKadaidir(kadai);
    // The server journals every receipt: into the run's folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + "/data"));
    LectureJournal journal(lecture, book);
    ClassRules rules(lecture, book, journal);
    ClassroomServer server(rules, log);
    if (!server.listen(0)) {
        std::printf("cannot listen\n");
        return;
    }
    QByteArray file(qsizetype(options.mib) << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < file.size(); ++i)
        file[i] = char(i * 2654435761u >> 24);
    server.setKeptVersions(0);
    uploadRound(server, options.uploads, file); // the earlier versions
    std::vector<double> without, with;
    for (int round = 0; round < options.rounds; ++round) {
        for (int kept : {0, 10}) {
            server.setKeptVersions(kept);
            file[round] = char(kept + round); // each upload a new version
            (kept ? with : without).push_back(uploadRound(server, options.uploads, file));
        }
    }
    const double mib = double(options.uploads) * options.mib;
    const double plain = mib / median(without), kept = mib / median(with);
    std::printf("%d x %d MiB replacing earlier uploads: without history %.0f MiB/s, with "
                "history %.0f MiB/s, ratio %.3f (target >= 0.95)\n",
                options.uploads, options.mib, plain, kept, kept / plain);
}

void benchList(const QString &root)
{
    constexpr int Students = 1000, Versions = 10;
    const QString kadai = root + "/list";
    QList<SubmissionsIndex::Student> students;
    QList<Receipt> receipts;
    const QDateTime start(QDate(2026, 12, 9), QTime(10, 0));
    for (int s = 0; s < Students; ++s) {
        const QString id = QStringLiteral("s%1").arg(s, 4, 10, QLatin1Char('0'));
        students.append({id, QStringLiteral("学生 %1").arg(s)});
        const QString history = versionnames::historyFolder(kadai, id + ".c");
        QDir().mkpath(history);
        for (int v = 0; v < Versions; ++v) {
            const QByteArray bytes =
                "int main() { return " + QByteArray::number(s * 100 + v) + "; }";
            const QByteArray sha =
                QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
            const QDateTime when = start.addSecs(s + v * 60);
            const bool current = v == Versions - 1;
            const QString path =
                current
                    ? kadai + "/" + id + ".c"
                    : history + "/" +
                          versionnames::versionFileName(when, QString::fromLatin1(sha), id + ".c");
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            file.write(bytes);
            file.flush(); // the time set below is the last one
            file.setFileTime(when, QFileDevice::FileModificationTime);
            receipts.append({id, id + ".c", bytes.size(), sha, when, 0, kadai, {}});
        }
    }
    QElapsedTimer clock;
    clock.start();
    SubmissionsIndex index(kadai, students);
    index.addReceipts(receipts);
    HashCache cache;
    const QList<SubmissionRow> rows = index.build(cache);
    const double first = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    index.build(cache);
    const double again = double(clock.nsecsElapsed()) / 1e6;
    clock.restart();
    const QByteArray csv = submissionsCsv(rows);
    const double csvMs = double(clock.nsecsElapsed()) / 1e6;
    std::printf("submissions list, %d students x %d versions: built in %.0f ms (%d files read), "
                "checked again in %.0f ms, CSV (%lld bytes) in %.0f ms (target < 500 ms)\n",
                Students, Versions, first, cache.hashed(), again, qint64(csv.size()), csvMs);
}

// A figure of /proc/self/status in KiB: VmRSS now, VmHWM the peak so far.
qint64 memoryKib(const QByteArray &key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

qint64 residentKib()
{
    return memoryKib("VmRSS:");
}

void benchJournal(const Options &options, const QString &root)
{
    constexpr int Students = 100;
    const QString kadai = root + "/journal-list", journals = root + "/journals";
    QDir().mkpath(kadai);
    QDir().mkpath(journals);
    QList<SubmissionsIndex::Student> students;
    for (int s = 0; s < Students; ++s)
        students.append({QStringLiteral("s%1").arg(s, 4, 10, QLatin1Char('0')), QString()});
    QFile journal(journals + "/2026-12-09_演習_0123456789.txt");
    journal.open(QIODevice::WriteOnly);
    journal.write(cp932::encode(QStringLiteral("講義,演習\r\n")));
    const QByteArray submitted = cp932::encode(QStringLiteral("提出,"));
    const QByteArray tail = ",2026/12/09,,3," + QFile::encodeName(kadai) + "\r\n";
    const qint64 target = qint64(options.journalMib) << 20;
    QByteArray block;
    for (qint64 n = 0; journal.size() + block.size() < target; ++n) {
        const QByteArray id = students[int(n % Students)].id.toLatin1();
        const QByteArray sha =
            QCryptographicHash::hash(QByteArray::number(n % 5000), QCryptographicHash::Sha256)
                .toHex();
        block += submitted + QTime(10, 0).addSecs(int(n % 36000)).toString("HH:mm:ss").toLatin1() +
                 "," + id + "," + id + ".c," + QByteArray::number(100 + n % 900) + "," + sha + tail;
        if (block.size() > (4 << 20))
            journal.write(std::exchange(block, {}));
    }
    journal.write(block);
    journal.close();
    const qint64 before = residentKib();
    const std::clock_t cpu = std::clock();
    QElapsedTimer clock;
    clock.start();
    SubmissionsIndex index(kadai, students);
    readReceiptsIn(journals,
                   [&index](const QList<Receipt> &receipts) { index.addReceipts(receipts); });
    HashCache cache;
    const QList<SubmissionRow> rows = index.build(cache);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    std::printf("submissions from a %d MiB journal: %lld rows in %.2f s (%.2f s of CPU), memory "
                "grew by %.1f MiB (targets < 5 s, < 64 MiB)\n",
                options.journalMib, qint64(rows.size()), seconds,
                double(std::clock() - cpu) / CLOCKS_PER_SEC,
                double(memoryKib("VmHWM:") - before) / 1024.0);
    if (qEnvironmentVariableIsEmpty("KEEP_JOURNAL"))
        QFile::remove(journal.fileName());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const Options options = parse(QCoreApplication::arguments());
    QTemporaryDir temporary;
    const QString root = options.dir.isEmpty() ? temporary.path() : options.dir;
    benchJournal(options, root);
    benchList(root);
    benchHistory(options, root);
    return 0;
}
