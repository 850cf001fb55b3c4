#pragma once

#include "common/result.h"
#include "common/sha256.h"

#include <QByteArray>
#include <QFile>
#include <QSemaphore>
#include <QString>
#include <QThreadPool>

// One chosen file on its way to the server, read piece by piece while the
// socket sends, so that memory stays small whatever the file's size. The
// size is the one announced when the file was chosen: a file that no longer
// has it cannot be sent honestly, and reading stops. A failure's message
// is the cause as the student is told it ("...ため､").
class FileUpload
{
public:
    FileUpload(const QString &path, qint64 announcedSize);
    ~FileUpload();

    // Opens the file; fails when it cannot be read or its size has changed.
    Result<> open();
    // Up to `max` further bytes; fails when the file no longer matches its
    // announcement, and reading stops.
    Result<QByteArray> nextPiece(qint64 max);

    bool allRead() const { return m_read == m_size; }
    qint64 size() const { return m_size; }
    // The SHA-256 of the bytes read, taken as they were read: the file is
    // not read a second time. Once allRead(); asked once.
    QByteArray sha256();

    // Benchmarks only: the upload without its hash, to weigh what it costs.
    static void setHashing(bool on);

private:
    template <typename T> Result<T> fail(const QString &cause);
    void hash(const QByteArray &piece);

    QFile m_file;
    qint64 m_size;
    qint64 m_read = 0;
    // Pieces are hashed in order on a thread of their own while the window's
    // thread goes on sending: hashing inline would slow a fast upload by
    // half. The pieces are shared with the socket, not copied.
    Sha256 m_hash;
    QThreadPool m_hasher;
    // Pieces handed to the hasher and not yet hashed, at most: beyond it
    // the reading waits for one to be done, not for all.
    QSemaphore m_hashRoom;
};
