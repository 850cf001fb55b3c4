#include "server/net/handoutsender.h"

#include "common/wire.h"
#include "platform/socket.h"

namespace {

// The most of a handout that waits in the program for one student, every
// copy counted; the kernel's own buffer, at the system's size, comes on top
// and keeps the line busy. Half of the allowed 128 KiB: a class's stalled
// transfers then stay far below 32 MiB with the rest of each connection.
constexpr qint64 MaxWaiting = 64 * 1024;
// Read and handed over for one student before the others' turn: a fast
// reader's kernel takes megabytes at once, and the window's thread would
// copy them all before answering anyone else.
constexpr qint64 PerTurn = 256 * 1024;
// Not read in smaller steps than this, but for the file's end.
constexpr qint64 MinPiece = 32 * 1024;
// A student's program that takes no byte for this long has stopped: its
// transfer holds a descriptor and buffers for nothing.
constexpr std::chrono::milliseconds DefaultStallLimit = std::chrono::seconds(60);
std::chrono::milliseconds stallLimit = DefaultStallLimit;

} // namespace

const QString HandoutSender::ChangedWhileSent = QStringLiteral("送信中に配布物が変わりました");

void HandoutSender::setStallLimitForTests(std::chrono::milliseconds limit)
{
    stallLimit = limit.count() > 0 ? limit : DefaultStallLimit;
}

HandoutSender::HandoutSender(Socket &socket, Handout handout, QObject *parent)
    : QObject(parent), m_socket(socket), m_handout(std::move(handout)), m_file(m_handout.path)
{
    m_stall.setSingleShot(true);
    connect(&m_stall, &QTimer::timeout, this, [this] {
        finish(QStringLiteral("受け取られないまま%1秒たちました")
                   .arg(std::chrono::duration_cast<std::chrono::seconds>(stallLimit).count()));
    });
}

Result<> HandoutSender::open()
{
    if (!m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Result<>::failure(QStringLiteral("配布物を読み込めません｡"));
    if (!unchanged())
        return Result<>::failure(
            QStringLiteral("配布物が更新されたところです｡もう一度受け取ってください｡"));
    return Result<>::success();
}

void HandoutSender::start()
{
    connect(&m_socket, &Socket::sendProgress, this, &HandoutSender::progressed);
    connect(&m_socket, &Socket::sendComplete, this, &HandoutSender::progressed);
    m_stall.start(stallLimit);
    m_socket.sendData(wire::handoutDataLine(m_handout.version.size) + wire::Eol);
    pump();
}

bool HandoutSender::unchanged()
{
    return versionOfDescriptor(m_file.handle()) == m_handout.version;
}

// A file replaced by another under its name leaves this descriptor on the
// old version, which would arrive whole and unannounced.
bool HandoutSender::stillListed() const
{
    return versionOfPath(m_handout.path) == m_handout.version;
}

// The size went out with the 402 line, so the bytes still owed are sent
// all the same: the complement of what the file holds now (of zeros past
// its end), which cannot be the listed version. The student's program
// finds the SHA-256 wrong, says the file changed and goes on.
void HandoutSender::spoil(QByteArray &piece, qint64 length)
{
    piece.resize(qsizetype(length), '\0');
    for (char &byte : piece)
        byte = char(~byte);
}

void HandoutSender::progressed()
{
    // Told only when the kernel took bytes: once its buffer is full, when
    // the student took some.
    m_stall.start(stallLimit);
    pump();
}

QByteArray HandoutSender::readPiece(qint64 length)
{
    // Allocated to the byte: QIODevice::read(qint64) reserves room to grow,
    // up to twice the piece for every student waiting.
    QByteArray piece(qsizetype(length), Qt::Uninitialized);
    const qint64 got = m_file.read(piece.data(), length);
    piece.truncate(qsizetype(qMax<qint64>(got, 0)));
    return piece;
}

void HandoutSender::pump()
{
    if (m_turnAwaited)
        return;
    const qint64 size = m_handout.version.size;
    qint64 turn = 0;
    while (!m_finished && m_queued < size && m_socket.canSend() &&
           MaxWaiting - m_socket.bytesToSend() >= qMin(MinPiece, size - m_queued)) {
        if (turn >= PerTurn) {
            m_turnAwaited = true;
            QMetaObject::invokeMethod(this, &HandoutSender::nextTurn, Qt::QueuedConnection);
            return;
        }
        const qint64 length = qMin(MaxWaiting - m_socket.bytesToSend(), size - m_queued);
        QByteArray piece = readPiece(length);
        if (!m_changed && (piece.size() < length || !unchanged() || !stillListed()))
            m_changed = true;
        if (m_changed)
            spoil(piece, length);
        m_queued += piece.size();
        turn += piece.size();
        m_socket.sendData(piece);
    }
    if (!m_finished && m_queued == size && m_socket.canSend() && m_socket.bytesToSend() == 0)
        finish(m_changed ? ChangedWhileSent : QString());
}

void HandoutSender::nextTurn()
{
    m_turnAwaited = false;
    pump();
}

void HandoutSender::finish(const QString &problem)
{
    m_finished = true;
    m_file.close();
    m_stall.stop();
    m_socket.disconnect(this);
    Q_EMIT finished(problem);
}
