#pragma once

#include "common/filehash.h"

#include <QHash>
#include <QMutex>

// Hashes of file versions already read, keyed by the file's identity, so
// that a file is read again only when it changed (another file under the
// name, another size, another time, a write since). Shared by the handout
// catalogue, the version history and the submissions list; safe to use
// from the hashing thread and the window's at once.
class HashCache
{
public:
    // The hash of the open file: the kept one when this version was read
    // before, else read now (and kept when the file held still meanwhile).
    Result<FileHash> hash(int fd, const std::atomic_bool &stop,
                          const std::function<void()> &afterFirstPiece = {});
    // The same for the file `name` in the open folder, never through a link.
    Result<FileHash> hashAt(int dirFd, const QByteArray &name, const std::atomic_bool &stop);
    // A hash computed while the file was written, e.g. of an upload.
    void remember(const FileIdentity &identity, const QByteArray &sha256);
    // A version that is gone, or whose identity has moved on (replaced,
    // linked or renamed): its entry would only take room.
    void forget(const FileIdentity &identity);
    QByteArray find(const FileIdentity &identity) const; // empty when unknown

    // Files read for their hash so far, and versions whose hash is kept,
    // for tests and the curious.
    int hashed() const;
    qsizetype kept() const;

private:
    mutable QMutex m_mutex;
    QHash<FileIdentity, QByteArray> m_hashes;
    int m_hashed = 0;
};
