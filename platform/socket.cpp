#include "platform/socket.h"

#include "common/cp932.h"
#include "platform/listener.h"
#include "platform/socketsupport.h"

#include <QNetworkProxy>
#include <QPointer>
#include <QTcpSocket>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using socketsupport::ErrBadState;
using socketsupport::ErrInvalidArg;
using socketsupport::winsockError;

// Arrived data is held up to this much in Qt's buffer and at most twice as
// much on its way to the handler; the rest waits in the kernel, which slows
// the sender down. Without a bound a class uploading at once fills the
// server's memory whenever it falls behind. 64 KiB keeps uploads near the
// speed of a hashing copy; 256 KiB held twice the memory for a busy class.
constexpr qint64 kReadChunk = 64 * 1024;

QString peerIP(const QTcpSocket *socket)
{
    return socketsupport::dottedIP(socket->peerAddress());
}

bool isPortText(const QString &text, quint16 *port)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return false;
    const uint value = digits.toUInt();
    if (value < 1 || value > 65535)
        return false;
    *port = quint16(value);
    return true;
}

// Qt reports a connection reset by the peer exactly like an orderly close,
// and closes its descriptor before telling. A second descriptor on the same
// connection keeps the kernel's record, whose state tells the two apart, and
// the connection itself for what is still to be sent.
int watchDescriptor(qintptr descriptor)
{
    return descriptor < 0 ? -1 : ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
}

bool wasReset(int watch)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    // A peer's FIN leaves the connection half open (CLOSE_WAIT); a reset
    // ends it at once.
    return watch >= 0 && ::getsockopt(watch, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
           info.tcpi_state == TCP_CLOSE;
}

} // namespace

Socket::Socket(QObject *parent) : QObject(parent)
{
    connect(&m_sendQueue, &SendQueue::taken, this, &Socket::onTaken);
    connect(&m_sendQueue, &SendQueue::failed, this, &Socket::onSendFailed);
}

Socket::~Socket()
{
    close();
}

void Socket::setLocalPort(quint16 port)
{
    m_localPort = port;
}

quint16 Socket::localPort() const
{
    return m_localPort;
}

Result<> Socket::listen()
{
    if (m_state != StateClosed)
        return fail(ErrBadState, tr("The socket is not closed"));
    auto *listener = new Listener(this);
    if (const Result<> listening = listener->listen(m_localPort); !listening) {
        const int number = listener->errorNumber();
        delete listener;
        return fail(number, listening.error());
    }
    m_listener = listener;
    connect(listener, &Listener::connectionRequest, this, &Socket::connectionRequest);
    connect(listener, &Listener::acceptingPaused, this, &Socket::acceptingPaused);
    m_localPort = listener->localPort();
    m_state = StateListening;
    return Result<>::success();
}

void Socket::resumeAccepting()
{
    if (m_listener)
        m_listener->resumeAccepting();
}

Result<> Socket::accept(qintptr requestId)
{
    if (m_state != StateClosed || !Listener::takeOffered(requestId))
        return fail(ErrBadState, tr("No such connection request, or the socket is not closed"));
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(requestId)) {
        const Result<> failed = fail(winsockError(socket->error()), socket->errorString());
        delete socket;
        ::close(int(requestId)); // taken from the listener: nobody else will
        return failed;
    }
    attach(socket);
    watch(requestId);
    m_state = StateConnected;
    m_remoteIP = peerIP(socket);
    m_remotePort = socket->peerPort();
    return Result<>::success();
}

QString Socket::requestPeerIP(qintptr requestId)
{
    return Listener::requestPeerIP(requestId);
}

QString Socket::remoteHostIP() const
{
    return m_remoteIP;
}

quint16 Socket::remotePort() const
{
    return m_remotePort;
}

Result<> Socket::connectToHost(const QString &host, const QString &port)
{
    quint16 number = 0;
    if (m_state != StateClosed)
        return fail(ErrBadState, tr("The socket is not closed"));
    if (!isPortText(port, &number))
        return fail(ErrInvalidArg, tr("Invalid port number: %1").arg(port));
    auto *socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    attach(socket);
    m_state = StateConnecting;
    socket->connectToHost(host, number);
    return Result<>::success();
}

void Socket::sendData(const QByteArray &bytes)
{
    if (!canSend())
        return;
    m_queued += bytes.size();
    m_sends.push_back({bytes.size(), 0, 0});
    skipWrittenSends(); // an empty send is written at once
    if (bytes.isEmpty()) {
        post(); // nothing will be written, but sendComplete() is still owed
        return;
    }
    m_sendQueue.append(bytes);
}

void Socket::sendData(const QString &text)
{
    sendData(cp932::encode(text));
}

bool Socket::canSend() const
{
    return m_watch >= 0 && (m_state == StateConnected || m_state == StateClosing);
}

qint64 Socket::bytesToSend() const
{
    return canSend() ? m_queued - m_acked : 0;
}

void Socket::readWaiting()
{
    if (!m_socket || m_state != StateConnected)
        return;
    // Only when something is there: waiting finds nothing and reports that
    // as an error.
    pollfd waiting{int(m_socket->socketDescriptor()), POLLIN, 0};
    if (::poll(&waiting, 1, 0) == 1 && (waiting.revents & POLLIN))
        m_socket->waitForReadyRead(0);
}

void Socket::setKernelSendBuffer(int bytes)
{
    if (m_socket)
        m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, bytes);
}

void Socket::setReadingPaused(bool paused)
{
    if (m_readingPaused == paused)
        return;
    m_readingPaused = paused;
    if (paused)
        return;
    pull();
    if (!m_arrived.isEmpty())
        m_dataDue = true;
    post();
}

qint64 Socket::bytesAvailable() const
{
    return m_arrived.size() + (m_socket ? m_socket->bytesAvailable() : 0);
}

void Socket::close()
{
    delete std::exchange(m_listener, nullptr);

    // What the kernel holds still goes out when the last descriptor closes;
    // a reply sent just before close() has been handed to it at once.
    if (QTcpSocket *socket = std::exchange(m_socket, nullptr)) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    releaseWatch();
    m_arrived.clear();
    m_queued = m_acked = 0;
    m_sends.clear();
    m_writtenSends = 0;
    m_readingPaused = false;
    m_connectedDue = m_dataDue = m_closedDue = m_errorDue = false;
    m_state = StateClosed;
}

Socket::State Socket::state() const
{
    return m_state;
}

int Socket::errorNumber() const
{
    return m_errorNumber;
}

QString Socket::errorString() const
{
    return m_errorString;
}

void Socket::attach(QTcpSocket *socket)
{
    m_socket = socket;
    socket->setReadBufferSize(kReadChunk);
    // The channel signals are also emitted while a handler runs a nested
    // event loop, when readyRead()/bytesWritten() are suppressed.
    connect(socket, &QIODevice::channelReadyRead, this, &Socket::pull);
    connect(socket, &QAbstractSocket::connected, this, &Socket::onConnected);
    connect(socket, &QAbstractSocket::disconnected, this, &Socket::onDisconnected);
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError e) { onSocketError(e); });
}

void Socket::pull()
{
    // Bytes on their way to the handler are not added to while they are a
    // chunk already: the rest waits in Qt's buffer and the kernel.
    if (m_arrived.size() < kReadChunk && !m_readingPaused)
        pullAll();
}

void Socket::pullAll()
{
    // readAll(), not read(n): only a read that empties Qt's buffer makes it
    // read from the kernel again.
    if (!m_socket || m_socket->bytesAvailable() <= 0)
        return;
    m_arrived += m_socket->readAll();
    // readAll() leaves room to grow; a connection that waits would hold it.
    if (m_arrived.capacity() - m_arrived.size() > 4096)
        m_arrived.squeeze();
    m_dataDue = true;
    post();
}

void Socket::watch(qintptr descriptor)
{
    m_watch = watchDescriptor(descriptor);
    m_sendQueue.setDescriptor(m_watch);
}

void Socket::onConnected()
{
    watch(m_socket->socketDescriptor());
    m_state = StateConnected;
    m_remoteIP = peerIP(m_socket);
    m_remotePort = m_socket->peerPort();
    m_connectedDue = true;
    post();
}

void Socket::onDisconnected()
{
    // The peer's orderly end: our own descriptor still sends (releaseWatch()
    // comes with close()).
    if (m_state != StateConnected)
        return;
    pullAll();
    m_state = StateClosing;
    m_readingPaused = false;
    m_closedDue = true;
    post();
}

void Socket::onSocketError(int qtError)
{
    const auto error = QAbstractSocket::SocketError(qtError);
    const bool peerClosed = error == QAbstractSocket::RemoteHostClosedError;
    const bool reset = peerClosed && wasReset(m_watch);
    // The peer closing in order is the closed() event, not an error.
    if (peerClosed && !reset)
        return;
    releaseWatch();
    if (m_state != StateConnecting && m_state != StateConnected)
        return;
    pullAll();
    m_readingPaused = false;
    setError(winsockError(error), reset ? tr("Connection reset by peer") : m_socket->errorString());
    m_dueErrorNumber = m_errorNumber;
    m_dueErrorText = m_errorString;
    m_state = StateError;
    m_errorDue = true;
    post();
}

void Socket::onTaken(qint64 bytes)
{
    qint64 fresh = bytes;
    m_acked += bytes;
    // Sends already written wait at the front until reported: start after
    // them, so a client that reads slowly cannot make this walk long.
    skipWrittenSends();
    while (fresh > 0 && m_writtenSends < m_sends.size()) {
        PendingSend &send = m_sends[m_writtenSends];
        const qint64 take = std::min(fresh, send.size - send.written);
        send.written += take;
        fresh -= take;
        skipWrittenSends();
    }
    post();
}

void Socket::onSendFailed(int errorNumber)
{
    // The kernel refused the connection's bytes: the peer is gone for good.
    releaseWatch();
    if (m_state != StateConnected && m_state != StateClosing)
        return;
    pullAll();
    m_readingPaused = false;
    const bool reset = errorNumber == ECONNRESET || errorNumber == EPIPE;
    setError(winsockError(reset ? QAbstractSocket::RemoteHostClosedError
                                : QAbstractSocket::NetworkError),
             reset ? tr("Connection reset by peer")
                   : QString::fromLocal8Bit(strerror(errorNumber)));
    m_dueErrorNumber = m_errorNumber;
    m_dueErrorText = m_errorString;
    m_state = StateError;
    m_errorDue = true;
    post();
}

void Socket::skipWrittenSends()
{
    while (m_writtenSends < m_sends.size() &&
           m_sends[m_writtenSends].written == m_sends[m_writtenSends].size)
        ++m_writtenSends;
}

void Socket::releaseWatch()
{
    m_sendQueue.setDescriptor(-1);
    if (m_watch >= 0)
        ::close(m_watch);
    m_watch = -1;
}

void Socket::setError(int number, const QString &text)
{
    m_errorNumber = number;
    m_errorString = text;
}

Result<> Socket::fail(int number, const QString &text)
{
    setError(number, text);
    return Result<>::failure(text);
}

void Socket::post()
{
    if (m_posted)
        return;
    m_posted = true;
    QMetaObject::invokeMethod(this, &Socket::dispatch, Qt::QueuedConnection);
}

// Every event leaves from here, never from inside a QTcpSocket signal, so a
// handler may close or delete this object, or spin a nested event loop,
// without pulling Qt's socket out from under itself. Handlers may re-enter
// dispatch() through a nested loop; the state is always updated before the
// emit, and received() alone is held back until its handler has returned.
void Socket::dispatch()
{
    m_posted = false;
    const QPointer<Socket> self(this);

    if (m_connectedDue) {
        m_connectedDue = false;
        emit connected();
        if (!self)
            return;
    }

    while (!m_sends.empty()) {
        PendingSend &send = m_sends.front();
        if (send.reported < send.written) {
            send.reported = send.written;
            emit sendProgress(send.written, send.size - send.written);
        } else if (send.written == send.size) {
            m_sends.pop_front();
            --m_writtenSends;
            emit sendComplete();
        } else {
            break;
        }
        if (!self)
            return;
    }

    if (m_dataDue && !m_inReceived && !m_readingPaused) {
        m_dataDue = false;
        if (!m_arrived.isEmpty()) {
            m_inReceived = true;
            emit received(std::exchange(m_arrived, QByteArray()));
            if (!self)
                return;
            m_inReceived = false;
            // What waited behind this piece, or arrived while the handler
            // ran, gets its own event.
            pull();
            if (m_dataDue)
                post();
        }
    }

    // The end of the conversation is told only after its data.
    if (m_dataDue || m_inReceived)
        return;
    if (m_closedDue) {
        m_closedDue = false;
        emit closed();
    } else if (m_errorDue) {
        m_errorDue = false;
        emit error(m_dueErrorNumber, m_dueErrorText);
    }
}
