#include "server/net/handoutsender.h"

#include "common/wire.h"
#include "platform/socket.h"

namespace {

// Read per step, and the most that waits in the socket for one student
// (the kernel's buffer comes on top).
constexpr qint64 Piece = 256 * 1024;
constexpr qint64 MaxWaiting = 128 * 1024;
// The kernel's buffer for the connection while a file goes out: the replies'
// small one would wake the program for every few pieces. Kernel memory, not
// the program's; it goes back to the replies' size afterwards.
constexpr int KernelBuffer = 1024 * 1024;
constexpr int ReplyKernelBuffer = 64 * 1024;

} // namespace

HandoutSender::HandoutSender(Socket &socket, Handout handout, QObject *parent)
    : QObject(parent), m_socket(socket), m_handout(std::move(handout)), m_file(m_handout.path)
{}

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
    connect(&m_socket, &Socket::sendProgress, this, &HandoutSender::pump);
    connect(&m_socket, &Socket::sendComplete, this, &HandoutSender::pump);
    m_socket.setKernelSendBuffer(KernelBuffer);
    m_socket.sendData(wire::handoutDataLine(m_handout.version.size) + wire::Eol);
    pump();
}

bool HandoutSender::unchanged()
{
    return versionOfDescriptor(m_file.handle()) == m_handout.version;
}

void HandoutSender::pump()
{
    const qint64 size = m_handout.version.size;
    while (!m_finished && m_queued < size && m_socket.state() == Socket::StateConnected &&
           m_socket.bytesToSend() < MaxWaiting) {
        const QByteArray piece = m_file.read(qMin(Piece, size - m_queued));
        if (piece.isEmpty() || !unchanged()) {
            finish(QStringLiteral("送信中に配布物が変わりました"));
            return;
        }
        m_queued += piece.size();
        m_socket.sendData(piece);
    }
    if (!m_finished && m_queued == size && m_socket.state() == Socket::StateConnected &&
        m_socket.bytesToSend() == 0)
        finish(QString());
}

void HandoutSender::finish(const QString &problem)
{
    m_finished = true;
    m_file.close();
    m_socket.setKernelSendBuffer(ReplyKernelBuffer);
    m_socket.disconnect(this);
    Q_EMIT finished(problem);
}
