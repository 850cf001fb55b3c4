#include "platform/entryspool.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Repeats pread or pwrite until all `size` bytes at `offset` are done.
template <typename Transfer, typename Data>
bool transferAt(Transfer transfer, int fd, Data *data, qint64 size, qint64 offset)
{
    while (size > 0) {
        const ssize_t count = transfer(fd, data, size_t(size), offset);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
        data += count;
        size -= count;
        offset += count;
    }
    return true;
}

bool writeAt(int fd, const char *data, qint64 size, qint64 offset)
{
    return transferAt(::pwrite, fd, data, size, offset);
}

bool readAt(int fd, char *data, qint64 size, qint64 offset)
{
    return transferAt(::pread, fd, data, size, offset);
}

// errno after a failed call; a short transfer leaves none.
QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno != 0 ? errno : EIO));
}

} // namespace

EntrySpool::~EntrySpool()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

Result<> EntrySpool::breakDown(const QString &reason)
{
    m_broken = reason;
    return Result<>::failure(reason);
}

Result<> EntrySpool::append(const QByteArray &entry)
{
    if (!m_broken.isEmpty())
        return Result<>::failure(m_broken);
    if (m_fd < 0) {
        QByteArray name =
            QFile::encodeName(QDir::tempPath() + QStringLiteral("/tavrelle-log-XXXXXX"));
        errno = 0;
        m_fd = ::mkostemp(name.data(), O_CLOEXEC);
        // Unnamed at once: nothing is left behind, however the program ends.
        if (m_fd < 0 || ::unlink(name.constData()) != 0)
            return breakDown(QFile::decodeName(name) + QStringLiteral(" (") + systemReason() +
                             u')');
    }
    const quint32 length = quint32(entry.size());
    QByteArray record = entry;
    record.append(reinterpret_cast<const char *>(&length), sizeof length);
    errno = 0;
    if (!writeAt(m_fd, record.constData(), record.size(), m_end))
        return breakDown(systemReason());
    m_end += record.size();
    return Result<>::success();
}

Result<> EntrySpool::readNewestFirst(const std::function<bool(const QByteArray &)> &take) const
{
    const auto unreadable = [] { return Result<>::failure(systemReason()); };
    qint64 position = m_end;
    while (position > 0) {
        quint32 length = 0;
        errno = 0;
        if (position < qint64(sizeof length) ||
            !readAt(m_fd, reinterpret_cast<char *>(&length), sizeof length,
                    position - qint64(sizeof length)))
            return unreadable();
        position -= qint64(sizeof length) + length;
        if (position < 0)
            return unreadable();
        QByteArray entry(qsizetype(length), Qt::Uninitialized);
        if (!readAt(m_fd, entry.data(), length, position))
            return unreadable();
        if (!take(entry))
            return Result<>::failure(QStringLiteral("an entry was not taken"));
    }
    if (!m_broken.isEmpty())
        return Result<>::failure(m_broken);
    return Result<>::success();
}
