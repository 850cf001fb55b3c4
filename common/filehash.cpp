#include "common/filehash.h"

#include "common/sha256.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype Piece = 1024 * 1024;

qint64 nanoseconds(const timespec &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

FileIdentity FileIdentity::of(const struct stat &info)
{
    return {quint64(info.st_dev), quint64(info.st_ino), qint64(info.st_size),
            nanoseconds(info.st_mtim), nanoseconds(info.st_ctim)};
}

FileIdentity FileIdentity::ofDescriptor(int fd)
{
    struct stat info
    {
    };
    return ::fstat(fd, &info) == 0 ? of(info) : FileIdentity{};
}

size_t qHash(const FileIdentity &identity, size_t seed)
{
    return qHashMulti(seed, identity.device, identity.inode, identity.size, identity.mtimeNs,
                      identity.ctimeNs);
}

Result<FileHash> hashDescriptor(int fd, const std::atomic_bool &stop,
                                const std::function<void()> &afterFirstPiece)
{
    FileHash result;
    result.identity = FileIdentity::ofDescriptor(fd);
    Sha256 hash;
    QByteArray piece(Piece, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        if (stop)
            return Result<FileHash>::failure(QStringLiteral("中止しました"));
        const ssize_t got = ::pread(fd, piece.data(), size_t(piece.size()), off_t(total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Result<FileHash>::failure(systemError());
        if (got == 0)
            break;
        hash.add(QByteArrayView(piece.constData(), got));
        if (total == 0 && afterFirstPiece)
            afterFirstPiece();
        total += got;
    }
    result.changed =
        total != result.identity.size || FileIdentity::ofDescriptor(fd) != result.identity;
    result.sha256 = hash.hexResult();
    return result;
}

bool writeFully(int fd, QByteArrayView bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = ::write(fd, bytes.data(), size_t(bytes.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        bytes = bytes.sliced(written);
    }
    return true;
}

Result<int> openRegularFileAt(int dirFd, const QByteArray &name)
{
    const int fd =
        ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Result<int>::failure(systemError());
    struct stat info
    {
    };
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
        return fd;
    ::close(fd);
    return Result<int>::failure(QStringLiteral("通常のファイルではありません"));
}

Result<FileHash> hashFileAt(int dirFd, const QByteArray &name, const std::atomic_bool &stop)
{
    const Result<int> fd = openRegularFileAt(dirFd, name);
    if (!fd)
        return Result<FileHash>::failure(fd.error());
    Result<FileHash> hashed = hashDescriptor(*fd, stop);
    ::close(*fd);
    return hashed;
}
