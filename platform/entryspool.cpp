#include "platform/entryspool.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>
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

} // namespace

EntrySpool::~EntrySpool()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool EntrySpool::append(const QByteArray &entry)
{
    if (m_broken)
        return false;
    if (m_fd < 0) {
        QByteArray name =
            QFile::encodeName(QDir::tempPath() + QStringLiteral("/tavrelle-log-XXXXXX"));
        m_fd = ::mkostemp(name.data(), O_CLOEXEC);
        // Unnamed at once: nothing is left behind, however the program ends.
        if (m_fd < 0 || ::unlink(name.constData()) != 0) {
            m_broken = true;
            return false;
        }
    }
    const quint32 length = quint32(entry.size());
    QByteArray record = entry;
    record.append(reinterpret_cast<const char *>(&length), sizeof length);
    if (!writeAt(m_fd, record.constData(), record.size(), m_end)) {
        m_broken = true;
        return false;
    }
    m_end += record.size();
    return true;
}

bool EntrySpool::readNewestFirst(const std::function<bool(const QByteArray &)> &take) const
{
    qint64 position = m_end;
    while (position > 0) {
        quint32 length = 0;
        if (position < qint64(sizeof length) ||
            !readAt(m_fd, reinterpret_cast<char *>(&length), sizeof length,
                    position - qint64(sizeof length)))
            return false;
        position -= qint64(sizeof length) + length;
        if (position < 0)
            return false;
        QByteArray entry(qsizetype(length), Qt::Uninitialized);
        if (!readAt(m_fd, entry.data(), length, position) || !take(entry))
            return false;
    }
    return !m_broken;
}
