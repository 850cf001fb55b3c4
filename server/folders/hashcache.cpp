#include "server/folders/hashcache.h"

#include <QMutexLocker>

#include <unistd.h>

namespace {

// Every edit of a file adds a version: past this many the versions of
// earlier edits are forgotten all at once, and read again when asked for.
constexpr qsizetype MaxVersions = 200000;

} // namespace

Result<FileHash> HashCache::hash(int fd, const std::atomic_bool &stop,
                                 const std::function<void()> &afterFirstPiece)
{
    const FileIdentity identity = FileIdentity::ofDescriptor(fd);
    if (const QByteArray kept = find(identity); !kept.isEmpty())
        return FileHash{kept, identity, false};
    Result<FileHash> hashed = hashDescriptor(fd, stop, afterFirstPiece);
    if (!hashed)
        return hashed;
    {
        QMutexLocker lock(&m_mutex);
        ++m_hashed;
    }
    if (!hashed->changed)
        remember(hashed->identity, hashed->sha256);
    return hashed;
}

Result<FileHash> HashCache::hashAt(int dirFd, const QByteArray &name, const std::atomic_bool &stop)
{
    const Result<int> fd = openRegularFileAt(dirFd, name);
    if (!fd)
        return Result<FileHash>::failure(fd.error());
    Result<FileHash> hashed = hash(*fd, stop);
    ::close(*fd);
    return hashed;
}

void HashCache::remember(const FileIdentity &identity, const QByteArray &sha256)
{
    if (identity.size < 0 || sha256.isEmpty())
        return;
    QMutexLocker lock(&m_mutex);
    if (m_hashes.size() >= MaxVersions)
        m_hashes.clear();
    m_hashes.insert(identity, sha256);
}

void HashCache::forget(const FileIdentity &identity)
{
    QMutexLocker lock(&m_mutex);
    m_hashes.remove(identity);
}

QByteArray HashCache::find(const FileIdentity &identity) const
{
    QMutexLocker lock(&m_mutex);
    return identity.size < 0 ? QByteArray() : m_hashes.value(identity);
}

int HashCache::hashed() const
{
    QMutexLocker lock(&m_mutex);
    return m_hashed;
}

qsizetype HashCache::kept() const
{
    QMutexLocker lock(&m_mutex);
    return m_hashes.size();
}
