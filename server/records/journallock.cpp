#include "server/records/journallock.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

JournalLock::~JournalLock()
{
    release();
}

Result<bool> JournalLock::acquire(const QString &path)
{
    if (m_fd >= 0 && m_path == path)
        return true;
    release();
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Never through a link: the file it points to would lose its bytes.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == ELOOP)
        return Result<bool>::failure(
            QStringLiteral("ロックファイル %1 がリンクになっているため使えません｡"
                           "リンク先のファイルはそのままです")
                .arg(QDir::toNativeSeparators(path)));
    if (fd < 0)
        return true; // no lock can be had here: the journal reports its own failure
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    // The owner before us may have removed the file between our open and
    // our lock: a lock on a removed file keeps nobody out.
    struct stat opened, named;
    if (::fstat(fd, &opened) != 0 || ::lstat(QFile::encodeName(path).constData(), &named) != 0 ||
        opened.st_ino != named.st_ino || opened.st_dev != named.st_dev) {
        ::close(fd);
        return acquire(path);
    }
    // The owner, for a person who finds the file.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) == 0) [[maybe_unused]]
        const ssize_t written = ::pwrite(fd, pid.constData(), size_t(pid.size()), 0);
    m_fd = fd;
    m_path = path;
    return true;
}

void JournalLock::release()
{
    if (m_fd < 0)
        return;
    // Removed while still locked, so no other program locks a file that is
    // about to disappear.
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
    m_path.clear();
}
