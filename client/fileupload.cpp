#include "client/fileupload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString Unreadable = QStringLiteral("ファイルを読めなくなったため､");
const QString SizeChanged = QStringLiteral("選んだ後にファイルの大きさが変わったため､");

bool g_hashing = true;

// Pieces waiting for the hasher, at most.
constexpr int MaxUnhashedPieces = 16;

} // namespace

FileUpload::FileUpload(const QString &path, qint64 announcedSize)
    : m_file(path), m_size(announcedSize), m_hashRoom(MaxUnhashedPieces)
{
    m_hasher.setMaxThreadCount(1); // one thread: the pieces stay in order
}

FileUpload::~FileUpload()
{
    m_hasher.clear();
    m_hasher.waitForDone();
}

Result<> FileUpload::open()
{
    // Opened without waiting and checked on the open file: the path may have
    // become a FIFO or a device since it was chosen.
    const int fd =
        ::open(QFile::encodeName(m_file.fileName()).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return fail<void>(Unreadable);
    struct stat status = {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        !m_file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return fail<void>(Unreadable);
    }
    if (m_file.size() != m_size)
        return fail<void>(SizeChanged);
    return Result<>::success();
}

Result<QByteArray> FileUpload::nextPiece(qint64 max)
{
    const qint64 wanted = qMin(max, m_size - m_read);
    QByteArray piece = m_file.read(wanted);
    if (m_file.error() != QFileDevice::NoError)
        return fail<QByteArray>(Unreadable);
    m_read += piece.size();
    if (g_hashing)
        hash(piece);
    // A short read, or any size other than the announced one, means the file
    // is being changed: the bytes sent would not be the file announced.
    if (piece.size() != wanted || m_file.size() != m_size)
        return fail<QByteArray>(SizeChanged);
    return piece;
}

void FileUpload::hash(const QByteArray &piece)
{
    m_hashRoom.acquire();
    m_hasher.start([this, piece] {
        m_hash.add(piece);
        m_hashRoom.release();
    });
}

QByteArray FileUpload::sha256()
{
    m_hasher.waitForDone();
    return m_hash.hexResult();
}

void FileUpload::setHashing(bool on)
{
    g_hashing = on;
}

template <typename T> Result<T> FileUpload::fail(const QString &cause)
{
    m_file.close();
    return Result<T>::failure(cause);
}
