#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QHashFunctions>

#include <atomic>
#include <functional>

struct stat;

// Which version of a file: while all of these stay the same its contents
// are taken to be the same. The change time moves with every write and
// cannot be set back, so a file edited in place with its size and
// modification time restored is still told apart.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1; // -1: the file could not be looked at
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    bool operator==(const FileIdentity &) const = default;

    static FileIdentity of(const struct stat &info);
    static FileIdentity ofDescriptor(int fd);
};
size_t qHash(const FileIdentity &identity, size_t seed = 0);

struct FileHash
{
    QByteArray sha256;     // 64 lower-case hex digits
    FileIdentity identity; // as it was when the reading began
    // The file was written to, or grew or shrank, while it was read: the
    // hash is of no version of it.
    bool changed = false;
};

// The SHA-256 of an open file, read from its start to its end in pieces
// of a mebibyte. Stops before the next piece once `stop` is set (a
// failure). `afterFirstPiece` runs once the first piece is in, for tests
// that change the file just then.
Result<FileHash> hashDescriptor(int fd, const std::atomic_bool &stop,
                                const std::function<void()> &afterFirstPiece = {});

// Writes all of `bytes` to the descriptor, again after a signal; false,
// with errno set (ENOSPC when the file takes no more), when it cannot.
bool writeFully(int fd, QByteArrayView bytes);

// Opens the regular file `name` in the open folder `dirFd` for reading,
// never through a link and never a device or a pipe: the descriptor, for
// the caller to close.
Result<int> openRegularFileAt(int dirFd, const QByteArray &name);
// The SHA-256 of that file.
Result<FileHash> hashFileAt(int dirFd, const QByteArray &name, const std::atomic_bool &stop);
