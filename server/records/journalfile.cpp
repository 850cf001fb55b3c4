#include "server/records/journalfile.h"

#include "common/filehash.h"
#include "server/records/durablefile.h"

#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int SyncIntervalMs = 1000;
// Where an earlier run may have stopped in the middle of a record.
constexpr qint64 TailChecked = 64 * 1024;
std::atomic<JournalFile::SyncCall> g_syncCall{&::fdatasync};

const QString LinkRefused =
    QStringLiteral("リンクになっているため書き込みません｡リンク先のファイルはそのままです");

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool endsWithLine(int fd, qint64 size)
{
    char last = 0;
    return ::pread(fd, &last, 1, size - 1) == 1 && last == '\n';
}

// The end of the last line of the file, or -1 when none lies in the tail.
qint64 lastLineEnd(int fd, qint64 size)
{
    const qint64 from = qMax<qint64>(0, size - TailChecked);
    QByteArray tail(size - from, Qt::Uninitialized);
    if (::pread(fd, tail.data(), size_t(tail.size()), from) != tail.size())
        return -1;
    const qsizetype lf = tail.lastIndexOf('\n');
    return lf < 0 ? (from == 0 ? 0 : -1) : from + lf + 1;
}

Result<> failure(const QString &reason)
{
    return Result<>::failure(reason);
}

} // namespace

JournalFile::JournalFile(QObject *parent) : QObject(parent)
{
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(SyncIntervalMs);
    connect(&m_syncTimer, &QTimer::timeout, this, &JournalFile::startBackgroundSync);
}

JournalFile::~JournalFile()
{
    close();
}

void JournalFile::setSyncCall(SyncCall call)
{
    g_syncCall = call;
}

Result<> JournalFile::open(const QString &path)
{
    close();
    m_path = path;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return failure(QStringLiteral("フォルダを作れません"));
    // Names and addresses of students: for the lecturer's eyes only.
    // Never through a link: the file it points to is not ours to append to.
    m_fd = ::open(QFile::encodeName(path).constData(),
                  O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return failure(errno == ELOOP ? LinkRefused : systemReason(errno));
    const qint64 bytes = size();
    m_lineOpen = false;
    // A run that ended in the middle of a record left part of it: the
    // records go on after the last whole line.
    if (bytes > 0 && !endsWithLine(m_fd, bytes)) {
        const qint64 end = lastLineEnd(m_fd, bytes);
        m_lineOpen = end < 0 || ::ftruncate(m_fd, end) != 0;
    }
    return Result<>::success();
}

void JournalFile::close()
{
    if (m_fd < 0)
        return;
    waitForBackgroundSync();
    m_syncTimer.stop();
    g_syncCall.load()(m_fd);
    ::close(m_fd);
    m_fd = -1;
}

qint64 JournalFile::size() const
{
    struct stat status;
    if (m_fd < 0 || ::fstat(m_fd, &status) != 0)
        return -1;
    return status.st_size;
}

Result<> JournalFile::append(const QByteArray &record)
{
    if (m_fd < 0)
        return failure(QStringLiteral("開かれていません"));
    const QByteArray bytes = m_lineOpen ? QByteArrayLiteral("\r\n") + record : record;
    // Where the record begins: another program may append to a day log too.
    const qint64 start = size();
    if (!writeFully(m_fd, bytes)) {
        const int error = errno;
        takeBackPartialRecord(start);
        return failure(systemReason(error));
    }
    m_lineOpen = false;
    if (m_syncing.valid())
        m_syncAgain = true;
    else if (!m_syncTimer.isActive())
        m_syncTimer.start();
    return Result<>::success();
}

void JournalFile::takeBackPartialRecord(qint64 start)
{
    // Shortening needs no new block, so it works on a full disk too; where
    // it does not, the next record begins on a line of its own.
    if (start < 0 || size() <= start)
        return;
    m_lineOpen = ::ftruncate(m_fd, start) != 0;
}

Result<> JournalFile::sync()
{
    waitForBackgroundSync();
    m_syncTimer.stop();
    if (m_fd >= 0 && g_syncCall.load()(m_fd) != 0)
        return failure(systemReason(errno));
    return Result<>::success();
}

void JournalFile::startBackgroundSync()
{
    if (m_fd < 0 || m_syncing.valid())
        return;
    // A descriptor of its own: closing the file cannot pull it away mid-flush.
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        Q_EMIT syncFailed(failure(systemReason(errno)).error());
        return;
    }
    const quint64 generation = ++m_syncGeneration;
    m_syncing = std::async(std::launch::async, [this, fd, generation] {
        const int error = g_syncCall.load()(fd) == 0 ? 0 : errno;
        ::close(fd);
        // Delivered unless the file is destroyed first: its destructor waits
        // for this thread, and Qt drops events posted to a destroyed object.
        QMetaObject::invokeMethod(
            this, [this, error, generation] { finishBackgroundSync(generation, error); },
            Qt::QueuedConnection);
    });
}

void JournalFile::finishBackgroundSync(quint64 generation, int error)
{
    if (generation != m_syncGeneration || !m_syncing.valid())
        return; // already waited for
    m_syncing.get();
    if (error != 0)
        Q_EMIT syncFailed(failure(systemReason(error)).error());
    if (std::exchange(m_syncAgain, false) && m_fd >= 0)
        m_syncTimer.start();
}

void JournalFile::waitForBackgroundSync()
{
    if (m_syncing.valid())
        m_syncing.get();
    m_syncAgain = false;
}
