#include "server/roster/journalfile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int SyncIntervalMs = 1000;

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

JournalFile::JournalFile(QObject *parent) : QObject(parent)
{
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(SyncIntervalMs);
    connect(&m_syncTimer, &QTimer::timeout, this, &JournalFile::sync);
}

JournalFile::~JournalFile()
{
    close();
}

bool JournalFile::open(const QString &path)
{
    close();
    m_path = path;
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        fail(QStringLiteral("フォルダを作れません"));
        return false;
    }
    // Names and addresses of students: for the lecturer's eyes only.
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC,
                  0600);
    if (m_fd < 0) {
        fail(systemReason());
        return false;
    }
    return true;
}

void JournalFile::close()
{
    if (m_fd < 0)
        return;
    sync();
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

bool JournalFile::append(const QByteArray &bytes)
{
    if (m_fd < 0)
        return false;
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            ::write(m_fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = ENOSPC;
            fail(systemReason());
            return false;
        }
        written += count;
    }
    if (!m_syncTimer.isActive())
        m_syncTimer.start();
    return true;
}

void JournalFile::sync()
{
    m_syncTimer.stop();
    if (m_fd >= 0 && ::fdatasync(m_fd) != 0)
        fail(systemReason());
}

void JournalFile::fail(const QString &reason)
{
    Q_EMIT failed(m_path, reason);
}
