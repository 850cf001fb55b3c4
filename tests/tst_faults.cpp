// The lecturer's program when things go wrong: a student's program killed
// mid-upload, the assignment folder taken away or made read-only, a full
// disk, a stream of connections that come and go, a sender faster than the
// server, a client that stalls. Real loopback sockets and the real handlers
// throughout.
#include "platform/socket.h"
#include "server/folders/versionhistory.h"
#include "server/folders/versionnames.h"
#include "server/net/handoutsender.h"
#include "support/classroom.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <malloc.h>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace {

// Set by main(): the process has a mount namespace of its own, so it can
// mount a tiny tmpfs or a read-only view of a folder without touching the
// rest of the system.
bool g_privateMounts = false;

bool enterPrivateMountNamespace()
{
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::System | QDir::NoDotAndDotDot)
                   .size());
}

// A log that keeps only its last entry, so that memory figures are not the
// log's (which keeps every entry by design), and counts taro's lines.
class LastEntryLog : public TextLog
{
public:
    QString last;
    qint64 taroLines = 0;
    void insertAtTop(const QString &block) override
    {
        last = block;
        taroLines += block.startsWith(u"user taro");
    }
    QString text() const override { return last; }
};

sockaddr_in address(const char *ip, quint16 port = 0)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &address.sin_addr);
    return address;
}

int connectTo(quint16 port, const sockaddr_in *from = nullptr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (from)
        ::bind(fd, reinterpret_cast<const sockaddr *>(from), sizeof *from);
    const sockaddr_in server = address("127.0.0.1", port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A student's script in a process of its own: connects from `from` and
// closes at once, as fast as it can, until killed. Only system calls.
pid_t startStorm(quint16 port, const char *from)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const sockaddr_in local = address(from);
    for (;;) {
        if (const int fd = connectTo(port, &local); fd >= 0)
            ::close(fd);
    }
}

// Runs a tool to its end; its chatter is not the test's output.
int runQuietly(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
               ? process.exitCode()
               : -1;
}

// This process's descriptor of the server's end of the connection whose
// client end is bound to `clientPort`; -1 if none.
int serverEndOf(quint16 clientPort)
{
    for (int fd = 0; fd < 4096; ++fd) {
        sockaddr_in6 peer{}; // the listener is dual-stack: IPv4 peers as ::ffff:a.b.c.d
        socklen_t size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &size) == 0 &&
            peer.sin6_family == AF_INET6 && ntohs(peer.sin6_port) == clientPort)
            return fd;
    }
    return -1;
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT
    std::unique_ptr<Classroom> m_room;
    QString m_kadai;
    bool m_mounted = false;

    std::unique_ptr<TestClient> greeted() { return m_room->greeted(); }
    QStringList kadaiEntries() const { return m_room->kadaiEntries(); }
    bool closedByServer(qint64 number) { return m_room->closed(number); }
    // Mounts `source` (of `type`) over the assignment folder, for this
    // process only.
    bool mountOverKadai(const char *type, const char *source, unsigned long flags,
                        const char *options)
    {
        if (!g_privateMounts)
            return false;
        if (::mount(source, qPrintable(m_kadai), type, flags, options) != 0)
            return false;
        m_mounted = true;
        return true;
    }
    // The folder's own flag, which holds for root too and for descriptors
    // opened before it was set.
    static bool setImmutable(const QString &path, bool on)
    {
        return QFileInfo::exists(path) &&
               runQuietly(QStringLiteral("chattr"), {on ? "+i" : "-i", path}) == 0;
    }
    // A clean upload of `bytes` as `name` by a new client that attends as
    // the student the name begins with: the folder works.
    void uploadSucceeds(const QByteArray &name, const QByteArray &bytes)
    {
        auto client = greeted();
        const QByteArray id = name.first(name.indexOf('.'));
        QCOMPARE(client
                     ->ask("user " + id + "\r\nput " + name + "," +
                               QByteArray::number(bytes.size()) + "\r\n",
                           2)
                     .value(1),
                 QStringLiteral("301 - image mode ok"));
        QVERIFY(client->send(bytes));
        QVERIFY(client->waitForLines(5));
        QCOMPARE(client->lines().at(4), QStringLiteral("302 jyusin kanryo"));
        QCOMPARE(m_room->stored(QString::fromLatin1(name)), bytes);
    }
    // The put line and part of the file are in; the temporary file holds them.
    std::unique_ptr<TestClient> uploadUnderWay(const QByteArray &head, qsizetype announced)
    {
        auto client = greeted();
        client->sendNow("user taro\r\nput taro.doc," + QByteArray::number(announced) + "\r\n");
        if (!client->waitForLines(4))
            qWarning("no 301");
        client->sendNow(head);
        if (!QTest::qWaitFor([&] { return kadaiEntries().size() == 2; }))
            qWarning("no temporary file");
        return client;
    }
    void expectStorageFailure(TestClient &client, qint64 number)
    {
        QVERIFY(client.waitForClose(10000));
        QVERIFY(!client.lines().contains(QStringLiteral("302 jyusin kanryo")));
        QVERIFY(closedByServer(number));
        QVERIFY(m_room->log.text().contains(QStringLiteral("課題ファイルを保存できません")));
    }

private Q_SLOTS:
    void init()
    {
        m_room = std::make_unique<Classroom>(QStringList{"taro,太郎", "hanako,花子"});
        m_kadai = m_room->kadai;
    }
    void cleanup()
    {
        HandoutSender::setStallLimitForTests({});
        m_room->server.reset();
        if (m_mounted)
            ::umount2(qPrintable(m_kadai), MNT_DETACH);
        m_mounted = false;
        setImmutable(m_kadai, false);
        QFile::setPermissions(m_kadai, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_room.reset();
    }

    void killedClientLeavesNoTrace_data()
    {
        QTest::addColumn<QByteArray>("earlier");
        QTest::newRow("earlier submission") << QByteArray("an earlier submission");
        QTest::newRow("first submission") << QByteArray();
    }
    void killedClientLeavesNoTrace()
    {
        QFETCH(QByteArray, earlier);
        if (!earlier.isEmpty())
            writeBytes(m_kadai + "/taro.doc", earlier);
        // Half the file is in, all of it in the temporary file; then the
        // connection ends, as the kernel ends a killed program's.
        const QByteArray half = pattern(300000, 3);
        auto client = greeted();
        QCOMPARE(client->ask("user taro\r\nput taro.doc,600000\r\n", 2).value(1),
                 QStringLiteral("301 - image mode ok"));
        QVERIFY(client->send(half));
        QVERIFY(QTest::qWaitFor([&] { return m_room->partStored() == half.size(); }, 10000));
        client->socket.abort();
        QVERIFY(closedByServer(1));
        QCOMPARE(kadaiEntries(), earlier.isEmpty() ? QStringList() : QStringList{"taro.doc"});
        QCOMPARE(m_room->stored("taro.doc"), earlier);
        QCOMPARE(m_room->grid.text(1, RosterGrid::Assignment), QString());
        // The server goes on serving.
        uploadSucceeds("taro.doc", "new");
    }

    void folderTakenAwayMidLecture_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("removed") << "removed";
        QTest::newRow("replaced by a file") << "file";
        QTest::newRow("made read-only") << "read-only";
    }
    void folderTakenAwayMidLecture()
    {
        QFETCH(QString, how);
        writeBytes(m_kadai + "/hanako.doc", "hanako's submission");
        auto client = uploadUnderWay("first half ", 22);
        if (how == "removed") {
            QVERIFY(QDir(m_kadai).removeRecursively());
        } else if (how == "file") {
            QVERIFY(QDir(m_kadai).removeRecursively());
            writeBytes(m_kadai, "a file where the folder was");
        } else if (::geteuid() != 0) {
            QVERIFY(QFile::setPermissions(m_kadai, QFile::ReadOwner | QFile::ExeOwner));
        } else if (!setImmutable(m_kadai, true)) {
            // The upload holds the folder open: a read-only mount laid over
            // it later would not be the folder it writes in.
            QSKIP("root without the immutable flag: no way to make a folder read-only here");
        }
        client->sendNow("second half");
        expectStorageFailure(*client, 1);
        QCOMPARE(m_room->stored("taro.doc"), QByteArray());
        if (how == "read-only") {
            // The earlier file stays; the temporary one cannot be removed from
            // a read-only folder, and must not have become taro.doc.
            QVERIFY(!kadaiEntries().contains("taro.doc"));
            QCOMPARE(m_room->stored("hanako.doc"), QByteArray("hanako's submission"));
        }

        // The next put line finds no usable folder: refused at the line.
        QCOMPARE(
            greeted()->ask("user taro\r\nput taro.doc,3\r\nuser taro\r\n", 3).mid(1),
            (QStringList{"499 課題ファイルを保存できません｡", "102 - sudeni syusseki totteru ^^"}));
        QVERIFY(m_room->log.text().contains(QStringLiteral("受け付けられないputコマンドです")));

        // Once the lecturer gives the folder back, uploads work again.
        if (m_mounted) {
            QVERIFY(::umount2(qPrintable(m_kadai), MNT_DETACH) == 0);
            m_mounted = false;
        }
        setImmutable(m_kadai, false);
        QFile::remove(m_kadai);
        QFile::setPermissions(m_kadai, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(m_kadai);
        uploadSucceeds("taro.doc", "after the folder came back");
    }

    void fullDisk_data()
    {
        QTest::addColumn<bool>("tmpfs");
        QTest::newRow("file size limit") << false;
        QTest::newRow("full tmpfs") << true;
    }
    void fullDisk()
    {
        QFETCH(bool, tmpfs);
        if (tmpfs && !mountOverKadai("tmpfs", "tavrelle-test", 0, "size=256k"))
            QSKIP("no mount namespace of its own: cannot mount a small tmpfs here");
        writeBytes(m_kadai + "/taro.doc", "an earlier submission");
        const QByteArray file = pattern(1 << 20, 5);
        std::optional<FileSizeLimit> limit;
        if (!tmpfs)
            limit.emplace(64 * 1024);
        auto client = greeted();
        client->sendNow("user taro\r\nput taro.doc," + QByteArray::number(file.size()) + "\r\n");
        client->socket.write(file); // the server closes before taking it all
        expectStorageFailure(*client, 1);
        limit.reset();
        QVERIFY(m_room->log.text().contains(m_kadai + "/" + wire::TemporaryPrefix));
        // The earlier submission stands, the temporary file is gone.
        QCOMPARE(kadaiEntries(), QStringList{"taro.doc"});
        QCOMPARE(m_room->stored("taro.doc"), QByteArray("an earlier submission"));
        QCOMPARE(m_room->grid.text(1, RosterGrid::Assignment), QString());
        // A file that fits is stored as usual.
        uploadSucceeds("hanako.doc", pattern(32 * 1024, 6));
    }

    void connectionsComingAndGoingLeaveNothingBehind()
    {
        // Memory is counted without the log, which keeps every entry by design.
        LastEntryLog log;
        m_room->listen(log);
        const auto round = [&](int size) {
            std::vector<std::unique_ptr<TestClient>> clients;
            for (int i = 0; i < size; ++i)
                clients.push_back(std::make_unique<TestClient>(m_room->server->port()));
            for (int i = 0; i < size; ++i) {
                TestClient &client = *clients[size_t(i)];
                switch (i % 4) {
                case 0: // gone before the greeting is read
                    break;
                case 1: // after attendance
                    client.sendNow("user taro\r\n");
                    break;
                case 2: // mid-upload
                    client.sendNow("user taro\r\nput taro.txt,100\r\n0123456789");
                    break;
                case 3: // says goodbye
                    client.sendNow("bye\r\n");
                    break;
                }
            }
            const qint64 last = m_room->server->connCount() + size;
            QVERIFY(QTest::qWaitFor([&] { return m_room->server->connCount() == last; }, 20000));
            for (int i = 0; i < size; ++i) {
                if (i % 2 == 0)
                    clients[size_t(i)]->socket.abort();
                else
                    clients[size_t(i)]->socket.disconnectFromHost();
            }
            clients.clear();
            for (qint64 number = last - size + 1; number <= last; ++number)
                QVERIFY(m_room->closed(number, 20000));
        };
        round(200); // warm-up: caches and pools reach their working size
        const int fds = openDescriptors();
        malloc_trim(0);
        const size_t inUse = mallinfo2().uordblks;
        for (int i = 0; i < 5; ++i)
            round(200);
        QCOMPARE(m_room->server->connCount(), qint64(1200));
        // Descriptors are handed back as the sockets are deleted.
        QVERIFY2(QTest::qWaitFor([&] { return openDescriptors() <= fds; }, 5000),
                 qPrintable(
                     QStringLiteral("%1 descriptors, %2 before").arg(openDescriptors()).arg(fds)));
        QVERIFY(kadaiEntries().isEmpty());
        // AddressSanitizer keeps freed memory aside: memory counts only without it.
#if !defined(__SANITIZE_ADDRESS__)
        malloc_trim(0);
        const qint64 growth = qint64(mallinfo2().uordblks) - qint64(inUse);
        // A leak of even a few dozen bytes per connection would show.
        QVERIFY2(growth < 64 * 1024,
                 qPrintable(QStringLiteral("%1 bytes more in use").arg(growth)));
#else
        Q_UNUSED(inUse);
#endif
    }

    void connectCloseStormDoesNotStarveTheClass()
    {
        auto student = greeted();
        // The first mark opens the journal, which stays open: counted before.
        student->sendNow("user taro\r\n");
        QVERIFY(student->waitForLines(3));
        const int fds = openDescriptors();
        const pid_t storm = startStorm(m_room->port(), "127.0.0.2");
        QVERIFY(storm > 0);
        QVERIFY(QTest::qWaitFor([&] { return m_room->server->connCount() > 200; }, 10000));
        // While the storm goes on, the student's lines are answered one by one.
        bool answered = true;
        for (int i = 1; i <= 20 && answered; ++i) {
            student->sendNow("user hanako\r\n");
            answered = student->waitForLines(3 + i);
        }
        const qint64 during = m_room->server->connCount();
        ::kill(storm, SIGKILL);
        ::waitpid(storm, nullptr, 0);
        QVERIFY2(answered, qPrintable(QStringLiteral("after %1 storm connections").arg(during)));
        QCOMPARE(m_room->grid.text(1, RosterGrid::Attendance).size(), 8);
        // Every storm connection is let go.
        QVERIFY2(QTest::qWaitFor([&] { return openDescriptors() <= fds; }, 10000),
                 qPrintable(QStringLiteral("%1 descriptors open, %2 before the storm of %3")
                                .arg(openDescriptors())
                                .arg(fds)
                                .arg(m_room->server->connCount())));
        QVERIFY(m_room->server->connection(1));
    }

    void connectionsOverTheAddressLimitAreClosedAtOnce()
    {
        m_room->server->setPerAddressLimit(3);
        const QHostAddress lab(QStringLiteral("127.0.0.3"));
        std::vector<std::unique_ptr<TestClient>> shared;
        for (int i = 0; i < 6; ++i)
            shared.push_back(std::make_unique<TestClient>(m_room->port(), lab));
        for (int i = 0; i < 6; ++i) {
            if (i < 3)
                QVERIFY(shared[size_t(i)]->waitForLines(2));
            else
                QVERIFY(shared[size_t(i)]->waitForClose());
        }
        QCOMPARE(shared[5]->received, QByteArray()); // not even greeted
        QCOMPARE(m_room->server->connCount(), qint64(3));
        // One entry for the burst, not one per connection.
        QCOMPARE(
            m_room->log.text().count(QStringLiteral("127.0.0.3からの同時接続が上限の3を超えた")),
            1);
        // Other machines are served; a freed place is taken again.
        QCOMPARE(greeted()->lines().size(), 2);
        shared[0]->socket.disconnectFromHost();
        QVERIFY(closedByServer(1));
        TestClient again(m_room->port(), lab);
        QVERIFY(again.waitForLines(2));
    }

    void outOfDescriptorsPausesAcceptingWithoutSpinning()
    {
        auto student = greeted();
        QCOMPARE(student->ask("user taro\r\n"), QStringLiteral("101 - syusseki totta ^^"));
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_NOFILE, &saved) == 0);
        rlimit low = saved;
        low.rlim_cur = rlim_t(openDescriptors() + 32);
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        // Every descriptor but one is taken; the next client takes that one.
        std::vector<int> filler;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            filler.push_back(fd);
        ::close(filler.back());
        filler.pop_back();
        TestClient waiting(m_room->port());
        const auto restore = [&] {
            for (int fd : filler)
                ::close(fd);
            filler.clear();
            ::setrlimit(RLIMIT_NOFILE, &saved);
        };
        const bool paused = QTest::qWaitFor([&] {
            return m_room->log.text().contains(QStringLiteral("ファイル記述子が足りない"));
        });
        // The listener has handed its reserve to the rest of the program;
        // with that taken too, a put line whose file cannot be opened is
        // refused at the line.
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            filler.push_back(fd);
        student->sendNow("put taro.doc,3\r\n");
        const bool refused = QTest::qWaitFor([&] {
            return m_room->log.text().contains(QStringLiteral("受け付けられないputコマンドです"));
        });
        const double cpuBefore = cpuSeconds();
        QTest::qWait(500);
        const double cpu = cpuSeconds() - cpuBefore;
        const int entries = m_room->log.text().count(QStringLiteral("ファイル記述子が足りない"));
        restore();
        QVERIFY(paused && refused);
        QVERIFY(student->waitForLines(4));
        QCOMPARE(student->lines().mid(3), QStringList{"499 課題ファイルを保存できません｡"});
        QVERIFY2(cpu < 0.2, qPrintable(QStringLiteral("%1 s of CPU in 0.5 s").arg(cpu)));
        QCOMPARE(entries, 1);
        // Descriptors free again: the waiting client is accepted and greeted.
        QVERIFY(waiting.waitForLines(2));
        uploadSucceeds("taro.doc", "after the shortage");
    }

    void clientThatDoesNotReadIsHeldBack()
    {
        LastEntryLog log; // one entry per line: tens of thousands
        m_room->listen(log);
        // Small kernel buffers on both ends, and nothing read: the replies
        // pile up after a few thousand lines.
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        const sockaddr_in room = address("127.0.0.1", m_room->port());
        QVERIFY(::connect(fd, reinterpret_cast<const sockaddr *>(&room), sizeof room) == 0);
        QTcpSocket flooder;
        flooder.setReadBufferSize(1);
        QVERIFY(flooder.setSocketDescriptor(fd));
        QTRY_VERIFY(m_room->server->connection(1));
        const int serverEnd = serverEndOf(flooder.localPort());
        QVERIFY(serverEnd >= 0 && serverEnd != fd);
        ::setsockopt(serverEnd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        Socket &server = m_room->server->connection(1)->socket();
        constexpr int Lines = 30000;
        flooder.write(QByteArray("user taro\r\n").repeated(Lines));
        // Up to the cap, then the server stops reading: the rest of the
        // flood waits in the kernel and in the flooder's own buffer. Only
        // past the cap itself is no further line taken (a slow build can
        // look in between two turns).
        QVERIFY(QTest::qWaitFor([&] { return server.bytesToSend() > 64 * 1024; }, 20000));
        const qint64 interpreted = log.taroLines;
        // Another student's round trips: the server's loop runs meanwhile.
        auto witness = greeted();
        qint64 most = 0;
        for (int i = 0; i < 20; ++i) {
            QVERIFY(!witness->ask("user hanako\r\n").isEmpty());
            most = qMax(most, server.bytesToSend());
        }
        QVERIFY2(most <= 64 * 1024 + 64, qPrintable(QString::number(most)));
        QCOMPARE(log.taroLines, interpreted); // not a line more taken
        QVERIFY(interpreted < Lines);
        // Once the client reads, every line is answered, in order.
        QByteArray received;
        const int wide = 1 << 20;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wide, sizeof wide);
        ::setsockopt(serverEnd, SOL_SOCKET, SO_SNDBUF, &wide, sizeof wide);
        connect(&flooder, &QTcpSocket::readyRead, this, [&] { received += flooder.readAll(); });
        flooder.setReadBufferSize(0);
        received += flooder.readAll();
        const QByteArray already = "102 - sudeni syusseki totteru ^^\r\n";
        const QByteArray first = "101 - syusseki totta ^^\r\n";
        // The greeting came first and is in `received` too: wait for the
        // replies themselves, not for their byte count.
        QVERIFY(QTest::qWaitFor([&] { return received.count(already) >= Lines - 1; }, 30000));
        QVERIFY(received.endsWith(already));
        QCOMPARE(received.count(already), qsizetype(Lines - 1));
        QCOMPARE(received.count(first), qsizetype(1));
    }

    // A student's program that asked for a large handout and reads nothing
    // ties up a bounded part of it in the server; the others are served.
    void handoutToAClientThatDoesNotReadIsHeldBack()
    {
        const QByteArray big = pattern(24 * 1024 * 1024, 3);
        m_room->handout("big.bin", big);
        QTcpSocket stalled;
        stalled.setReadBufferSize(1);
        stalled.connectToHost(QHostAddress::LocalHost, m_room->port());
        QVERIFY(stalled.waitForConnected(5000));
        stalled.write("list\r\nget big.bin\r\n");
        QTRY_VERIFY(m_room->server->connection(1));
        Socket &server = m_room->server->connection(1)->socket();
        QVERIFY(QTest::qWaitFor([&] { return server.bytesToSend() > 0; }, 10000));
        qint64 most = 0;
        for (int i = 0; i < 3; ++i) {
            auto witness = greeted();
            QCOMPARE(witness->ask("list\r\n", 2).value(0), QStringLiteral("401 1"));
            QCOMPARE(witness->fetch("big.bin"), big);
            most = qMax(most, server.bytesToSend());
        }
        // The cap, with the 402 line on top.
        QVERIFY2(most <= 64 * 1024 + 64, qPrintable(QString::number(most)));
        // Once it reads, it gets every byte.
        QByteArray received;
        connect(&stalled, &QTcpSocket::readyRead, this, [&] { received += stalled.readAll(); });
        stalled.setReadBufferSize(0);
        received += stalled.readAll();
        const QByteArray header = "402 " + QByteArray::number(big.size()) + "\r\n";
        QVERIFY(QTest::qWaitFor(
            [&] {
                return received.endsWith(big.right(1024)) &&
                       received.size() >= header.size() + big.size();
            },
            30000));
        QVERIFY(received.endsWith(header + big));
        QVERIFY(received.contains("\r\n401 1\r\nbig.bin,"));
    }

    // A transfer the student's program takes nothing of is ended when the
    // time limit passes; the connection and its descriptors go with it.
    void unreadHandoutTransferIsEnded()
    {
        HandoutSender::setStallLimitForTests(std::chrono::milliseconds(300));
        m_room->handout("big.bin", pattern(16 * 1024 * 1024, 6));
        const int before = openDescriptors();
        {
            QTcpSocket stalled;
            stalled.setReadBufferSize(1);
            stalled.connectToHost(QHostAddress::LocalHost, m_room->port());
            QVERIFY(stalled.waitForConnected(5000));
            stalled.write("list\r\nget big.bin\r\n");
            QTRY_VERIFY(m_room->server->connection(1));
            QVERIFY(closedByServer(1));
            QVERIFY(m_room->log.text().contains(
                QStringLiteral("配布物 big.bin の送信を打ち切りました: 受け取られないまま")));
        }
        QTRY_COMPARE(openDescriptors(), before);
        // One that reads is not cut off.
        auto reader = greeted();
        QCOMPARE(reader->ask("list\r\n", 2).value(0), QStringLiteral("401 1"));
        QCOMPARE(reader->fetch("big.bin").size(), 16 * 1024 * 1024);
    }

    // One consistent version: a handout rewritten while it goes out ends
    // that transfer (the bytes owed come, failing the listed hash), the
    // connection goes on, and asking again brings the new one.
    void handoutChangedWhileSentEndsTheTransfer()
    {
        m_room->handout("big.bin", pattern(16 * 1024 * 1024, 4));
        QTcpSocket stalled;
        stalled.setReadBufferSize(1);
        stalled.connectToHost(QHostAddress::LocalHost, m_room->port());
        QVERIFY(stalled.waitForConnected(5000));
        stalled.write("list\r\nget big.bin\r\n");
        QTRY_VERIFY(m_room->server->connection(1));
        Socket &server = m_room->server->connection(1)->socket();
        QVERIFY(QTest::qWaitFor([&] { return server.bytesToSend() > 0; }, 10000));
        const QByteArray fresh = pattern(16 * 1024 * 1024, 5);
        m_room->handout("big.bin", fresh);
        QByteArray received;
        connect(&stalled, &QTcpSocket::readyRead, this, [&] { received += stalled.readAll(); });
        stalled.setReadBufferSize(0);
        received += stalled.readAll();
        QVERIFY(QTest::qWaitFor(
            [&] { return m_room->log.text().contains("配布物 big.bin の送信を打ち切りました"); },
            20000));
        const QByteArray dataLine = "402 16777216\r\n";
        const qsizetype header = received.indexOf(dataLine) + dataLine.size();
        QVERIFY(header > dataLine.size());
        QVERIFY(
            QTest::qWaitFor([&] { return received.size() >= header + 16 * 1024 * 1024; }, 20000));
        const QByteArray sent = received.sliced(header, 16 * 1024 * 1024);
        QVERIFY(sent != fresh && sent != pattern(16 * 1024 * 1024, 4));
        QCOMPARE(stalled.state(), QAbstractSocket::ConnectedState);
        stalled.write("user taro\r\n");
        QVERIFY(QTest::qWaitFor([&] { return received.endsWith("101 - syusseki totta ^^\r\n"); },
                                5000));
        // Asked again after a listing, the new version comes whole.
        auto again = greeted();
        QCOMPARE(again->ask("list\r\n", 2).value(0), QStringLiteral("401 1"));
        QCOMPARE(again->fetch("big.bin"), fresh);
    }

    void repliesReachAClientThatHalfClosed()
    {
        auto client = greeted();
        client->sendNow("user taro\r\nput taro.doc,3\r\nabc");
        QVERIFY(::shutdown(int(client->socket.socketDescriptor()), SHUT_WR) == 0);
        QVERIFY(client->waitForClose(10000));
        QCOMPARE(client->lines().mid(2), (QStringList{"101 - syusseki totta ^^",
                                                      "301 - image mode ok", "302 jyusin kanryo"}));
        QCOMPARE(m_room->stored("taro.doc"), QByteArray("abc"));
        QVERIFY(closedByServer(1));
    }

    // A student's program that shuts its side after asking still gets the
    // whole handout (the listing as well), then the server closes.
    void handoutReachesAClientThatHalfClosed()
    {
        const QByteArray big = pattern(24 * 1024 * 1024, 7);
        m_room->handout("big.bin", big);
        auto client = greeted();
        client->sendNow("list\r\nget big.bin\r\n");
        QVERIFY(::shutdown(int(client->socket.socketDescriptor()), SHUT_WR) == 0);
        QVERIFY(client->waitForClose(30000));
        const QByteArray header = "402 " + QByteArray::number(big.size()) + "\r\n";
        const qsizetype start = client->received.indexOf(header);
        QVERIFY(start > 0);
        const QByteArray body = client->received.mid(start + header.size());
        QCOMPARE(body.size(), big.size());
        const QByteArray sha256 =
            QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
        QCOMPARE(sha256, QCryptographicHash::hash(big, QCryptographicHash::Sha256).toHex());
        QVERIFY(client->received.left(start).endsWith(
            "\r\n401 1\r\nbig.bin," + QByteArray::number(big.size()) + ',' + sha256 + "\r\n"));
        QVERIFY(closedByServer(1));
        QVERIFY(m_room->log.text().contains(QStringLiteral("配布完了 big.bin")));
    }

    void oneClientsFloodIsBoundedAndSummarised()
    {
        // What one client can make the server write: the log as the server
        // keeps it (time in front, code page 932) and the journal's receipts.
        qint64 logBytes = 0;
        MemoryTextLog shown;
        struct CountingLog : TextLog
        {
            qint64 &bytes;
            TextLog &shown;
            CountingLog(qint64 &b, TextLog &s) : bytes(b), shown(s) {}
            void insertAtTop(const QString &block) override
            {
                bytes += 9 + cp932::encode(block).size();
                shown.insertAtTop(block);
            }
            QString text() const override { return shown.text(); }
        } log(logBytes, shown);
        m_room->listen(log);
        qint64 receipts = 0;
        connect(&m_room->book, &AttendanceBook::submitted, this, [&] { ++receipts; });
        auto flooder = greeted();
        QCOMPARE(flooder->ask("user " + QByteArray(65000, 'A') + "\r\nuser taro\r\n", 2),
                 (QStringList{"501 - bad-userID ^^", "101 - syusseki totta ^^"}));
        flooder->sendNow(QByteArray("put taro.txt,0\r\n").repeated(3000) +
                         (QByteArray(1000, 'z') + "\r\n").repeated(1000));
        QTRY_VERIFY_WITH_TIMEOUT(flooder->lines().size() >= 4 + 3000, 60000);
        // Past its share, uploads are refused rather than left without receipt.
        const QStringList replies = flooder->lines().mid(4);
        QVERIFY(receipts > 0);
        QCOMPARE(replies.count(QStringLiteral("302 jyusin kanryo")), receipts);
        QCOMPARE(replies.filter(QRegularExpression(QStringLiteral("^499 "))).size(),
                 3000 - receipts);
        // The class is still answered.
        QCOMPARE(greeted()->ask("user hanako\r\n"), QStringLiteral("101 - syusseki totta ^^"));
        // The log and the journal have a share each.
        const qint64 journalBytes = receipts * 140; // a bounded 提出 line at most
        QVERIFY2(logBytes <= 1024 * 1024, qPrintable(QString::number(logBytes)));
        QVERIFY2(journalBytes <= 1024 * 1024, qPrintable(QString::number(journalBytes)));
        flooder->socket.abort();
        QTRY_VERIFY(shown.text().contains(
            QRegularExpression(QStringLiteral("127.0.0.1 からの記録 \\d+ 件は1分間に書ける量を超え"
                                              "たため省きました｡"))));
    }

    // Lines spend only the log's share: the next student behind the same
    // address (a NAT, a terminal server) still hands in his file.
    void linesDoNotSpendTheRecordsOfTheirAddress()
    {
        auto talker = greeted();
        talker->sendNow(("user " + QByteArray(1000, 'u') + "\r\n").repeated(3000));
        QTRY_VERIFY_WITH_TIMEOUT(talker->lines().size() >= 2 + 3000, 60000);
        // Far past its share of the log: only part of them were written.
        QVERIFY(m_room->log.text().count(QStringLiteral("user uuu")) < 1000);
        auto student = greeted();
        QCOMPARE(
            student->ask("user hanako\r\nput hanako.doc,3\r\nabc", 3),
            (QStringList{"101 - syusseki totta ^^", "301 - image mode ok", "302 jyusin kanryo"}));
        QCOMPARE(m_room->stored("hanako.doc"), QByteArray("abc"));
    }

    void partialFileIsRemovedFromARenamedFolder()
    {
        writeBytes(m_kadai + "/hanako.doc", "hanako's");
        auto client = uploadUnderWay("first half ", 22);
        const QString renamed = m_kadai + "-renamed";
        QVERIFY(QDir().rename(m_kadai, renamed));
        client->socket.abort();
        QVERIFY(closedByServer(1));
        QCOMPARE(QDir(renamed).entryList(QDir::Files | QDir::Hidden), QStringList{"hanako.doc"});
        QVERIFY(QDir().rename(renamed, m_kadai));
    }

    void uploadsToAFatFileSystem()
    {
        const QString mkfs =
            QStandardPaths::findExecutable(QStringLiteral("mkfs.vfat"), {"/sbin", "/usr/sbin"});
        const QString fusefat = QStandardPaths::findExecutable(QStringLiteral("fusefat"));
        if (mkfs.isEmpty() || fusefat.isEmpty() || !QFileInfo::exists("/dev/fuse"))
            QSKIP("FAT test needs mkfs.vfat, fusefat and /dev/fuse (scripts/install-deps.sh)");
        const QString image = m_room->dir.filePath("fat.img");
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(32 << 20));
        file.close();
        QVERIFY(runQuietly(mkfs, {image}) == 0);
        const auto mounted = [&] {
            return readBytes("/proc/self/mountinfo")
                .contains(" " + QFile::encodeName(m_kadai) + " ");
        };
        if (runQuietly(fusefat, {"-o", "rw+", image, m_kadai}) != 0 || !QTest::qWaitFor(mounted))
            QSKIP("FUSE unusable here: fusefat could not mount the image");
        const auto unmount = qScopeGuard([&] {
            m_room->server.reset();
            runQuietly(QStringLiteral("fusermount"), {"-u", m_kadai});
        });
        uploadSucceeds("taro.doc", pattern(100000, 11));
        // Replacing the earlier submission.
        uploadSucceeds("taro.doc", "shorter");
        // A cut-off upload leaves the earlier one and nothing else.
        auto cut = uploadUnderWay("first half ", 22);
        cut->socket.abort();
        QVERIFY(closedByServer(3));
        QCOMPARE(kadaiEntries(), (QStringList{".tavrelle-versions", "taro.doc"}));
        QCOMPARE(m_room->stored("taro.doc"), QByteArray("shorter"));
        // FAT has no hard links: the earlier version was moved into the history.
        const QString history = m_kadai + "/.tavrelle-versions/taro.doc";
        const QStringList versions = versionnames::versionsIn(history);
        QCOMPARE(versions.size(), 1);
        QCOMPARE(readBytes(history + "/" + versions[0]), pattern(100000, 11));
    }

    void killedDuringAReplacementLosesNoVersion_data()
    {
        QTest::addColumn<int>("step"); // -1: the new file is written, not yet committed
        QTest::newRow("new file written") << -1;
        QTest::newRow("earlier version kept") << int(VersionHistory::Step::EarlierKept);
        QTest::newRow("new file in place") << int(VersionHistory::Step::Replaced);
        QTest::newRow("oldest version dropped") << int(VersionHistory::Step::Pruned);
    }
    void killedDuringAReplacementLosesNoVersion()
    {
        QFETCH(int, step);
        // Two versions already kept: a replacement with hozon=2 drops one.
        const QByteArray earlier = pattern(200000, 21), fresh = pattern(150000, 22);
        uploadSucceeds("taro.doc", "first");
        uploadSucceeds("taro.doc", "second");
        uploadSucceeds("taro.doc", earlier);
        const QString history = m_kadai + "/.tavrelle-versions/taro.doc";
        QCOMPARE(versionnames::versionsIn(history).size(), 2);
        m_room->server.reset();
        // The replacement in a process of its own, killed by SIGKILL between
        // two of its steps, as kill -9 would.
        const pid_t child = ::fork();
        if (child == 0) {
            VersionHistory::setStepHook([step](VersionHistory::Step reached) {
                if (int(reached) == step)
                    ::raise(SIGKILL);
            });
            UploadFile file;
            file.setKeptVersions(2);
            if (!file.open(m_kadai, "taro.doc") || !file.write(fresh))
                ::_exit(1);
            if (step == -1)
                ::raise(SIGKILL);
            file.commit();
            ::_exit(2); // the step was never reached
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL,
                 qPrintable(QString::number(status)));
        // In place: the earlier file or the new one, whole. The earlier one,
        // which its student was told about, is in place or in the history.
        const QByteArray inPlace = m_room->stored("taro.doc");
        QVERIFY(inPlace == earlier || inPlace == fresh);
        QCOMPARE(inPlace == fresh, step >= int(VersionHistory::Step::Replaced));
        QStringList kept;
        for (const QString &name : versionnames::versionsIn(history)) {
            const QByteArray bytes = readBytes(history + "/" + name);
            QVERIFY2(bytes == earlier || bytes == "first" || bytes == "second", qPrintable(name));
            kept << QString::fromLatin1(bytes == earlier ? "earlier" : bytes);
        }
        if (inPlace == fresh)
            QVERIFY(kept.contains("earlier"));
        if (step == int(VersionHistory::Step::Pruned))
            QCOMPARE(kept, (QStringList{"second", "earlier"}));
        // The server goes on. What is left besides is the killed upload's
        // temporary file, which the next start of the program sweeps away.
        m_room->listen(m_room->log);
        m_room->server->setKeptVersions(2);
        uploadSucceeds("taro.doc", "after the crash");
        QStringList entries = kadaiEntries();
        entries.removeIf([&](const QString &name) {
            return step < int(VersionHistory::Step::Replaced) &&
                   name.startsWith(wire::TemporaryPrefix) && name.endsWith(".part");
        });
        QCOMPARE(entries, (QStringList{".tavrelle-versions", "taro.doc"}));
        QVERIFY(versionnames::versionsIn(history).size() <= 2);
    }

    void fastSenderWaitsInTheKernel()
    {
        Socket listener;
        QVERIFY(listener.listen());
        // The sender's peer, and a witness whose round trips show the event
        // loop running while the sender waits.
        Socket peer, witness;
        connect(&listener, &Socket::connectionRequest, this, [&](qintptr request) {
            (peer.state() == Socket::StateClosed ? peer : witness).accept(request);
        });
        QTcpSocket sender, pinger;
        sender.connectToHost(QHostAddress::LocalHost, listener.localPort());
        QVERIFY(sender.waitForConnected(5000));
        QTRY_COMPARE(peer.state(), Socket::StateConnected);
        pinger.connectToHost(QHostAddress::LocalHost, listener.localPort());
        QTRY_COMPARE(witness.state(), Socket::StateConnected);
        const QByteArray flood = pattern(16 << 20, 9);
        QByteArray pings;
        connect(&witness, &Socket::received, this,
                [&](const QByteArray &bytes) { pings += bytes; });
        // Nobody takes the data yet: the receiver holds a bounded part of it
        // (under 1 MiB of 16); the rest waits in the kernel and the sender.
        peer.setReadingPaused(true);
        sender.write(flood);
        QVERIFY(QTest::qWaitFor([&] { return peer.bytesAvailable() > 0; }));
        for (int i = 0; i < 30; ++i) {
            pinger.write("p");
            QVERIFY(QTest::qWaitFor([&] { return std::exchange(pings, {}) == "p"; }));
            QVERIFY2(peer.bytesAvailable() <= 1024 * 1024,
                     qPrintable(QString::number(peer.bytesAvailable())));
        }
        QVERIFY(sender.bytesToWrite() > 0);
        // Taken piece by piece, all of it arrives, in order.
        QByteArray received;
        connect(&peer, &Socket::received, this,
                [&](const QByteArray &bytes) { received += bytes; });
        peer.setReadingPaused(false);
        QVERIFY(QTest::qWaitFor([&] { return received.size() >= flood.size(); }, 20000));
        QVERIFY(received == flood);
    }

    // An upload that gets no byte for the idle limit is ended: nothing is
    // stored, the earlier file stays, one log entry, the connection closed.
    void stalledUploadIsEndedAfterTheIdleLimit()
    {
        uploadlimits::setIdleMsForTests(300);
        const auto restore = qScopeGuard([] { uploadlimits::setIdleMsForTests(0); });
        writeBytes(m_kadai + "/taro.doc", "earlier");
        auto client = uploadUnderWay("first half ", 22);
        QVERIFY(client->waitForClose(10000));
        QCOMPARE(
            client->lines().value(4),
            QStringLiteral("499 データが届かないため受信を打ち切りました｡もう一度送ってください｡"));
        QCOMPARE(m_room->stored("taro.doc"), QByteArray("earlier"));
        QCOMPARE(kadaiEntries(), QStringList{"taro.doc"});
        QVERIFY(closedByServer(1));
        QCOMPARE(m_room->log.text().count(QStringLiteral("受信を打ち切りました")), 1);
        QVERIFY(m_room->log.text().contains(
            QStringLiteral("接続番号:1 0.3秒間データが届かなかったため taro.doc "
                           "の受信を打ち切りました(11/22バイト)｡")));
    }

    void stalledUploadDoesNotHoldUpOthers()
    {
        QStringList roster{"taro,太郎"};
        for (int i = 0; i < 10; ++i)
            roster << QStringLiteral("other%1,学生%1").arg(i);
        m_room->loadRoster(roster);
        auto stalled = greeted();
        const QByteArray stalledFile = pattern(1 << 20, 7);
        stalled->sendNow("user taro\r\nput taro.doc," + QByteArray::number(stalledFile.size()) +
                         "\r\n");
        QVERIFY(stalled->waitForLines(4));
        stalled->sendNow(stalledFile.first(1000));

        constexpr int Others = 10;
        std::vector<std::unique_ptr<TestClient>> others;
        std::vector<QByteArray> files;
        for (int i = 0; i < Others; ++i) {
            others.push_back(greeted());
            files.push_back(pattern(2 << 20, quint32(100 + i)));
            const QByteArray id = "other" + QByteArray::number(i);
            others.back()->socket.write("user " + id + "\r\nput " + id + ".bin," +
                                        QByteArray::number(files.back().size()) + "\r\n");
        }
        for (int i = 0; i < Others; ++i)
            QVERIFY(others[size_t(i)]->waitForLines(4));
        for (int i = 0; i < Others; ++i)
            others[size_t(i)]->socket.write(files[size_t(i)]);
        for (int i = 0; i < Others; ++i) {
            QVERIFY(others[size_t(i)]->waitForLines(5, 20000));
            QCOMPARE(others[size_t(i)]->lines().at(4), QStringLiteral("302 jyusin kanryo"));
            QCOMPARE(readBytes(m_kadai + QStringLiteral("/other%1.bin").arg(i)), files[size_t(i)]);
        }
        // The stalled upload waits, within its idle limit, and can still finish.
        QVERIFY(m_room->server->connection(1) && m_room->server->connection(1)->imageMode());
        QVERIFY(!kadaiEntries().contains("taro.doc"));
        QVERIFY(stalled->send(stalledFile.sliced(1000)));
        QVERIFY(stalled->waitForLines(5));
        QCOMPARE(stalled->lines().at(4), QStringLiteral("302 jyusin kanryo"));
        QCOMPARE(m_room->stored("taro.doc"), stalledFile);
    }
};

int main(int argc, char *argv[])
{
    // Before any thread exists: a mount namespace is per thread until then.
    g_privateMounts = enterPrivateMountNamespace();
    // The event dispatcher the program runs on.
    qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    TestFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
