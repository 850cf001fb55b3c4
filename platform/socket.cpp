#include "platform/socket.h"

#include "common/cp932.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QSet>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Error numbers the programs were written against (Winsock and its control).
constexpr int kErrBadState = 40006;
constexpr int kErrInvalidArg = 40014;

// A whole class connects within the same second.
constexpr int kListenBacklog = 4096;

// Connections accepted per pass of the event loop. Enough to keep the
// kernel's queue (4096) from filling under a client in a connect loop: a full
// queue drops the other students' requests, which they repeat only after 1,
// 3 and 7 s. Not the whole queue: each request taken holds a descriptor
// until its turn, and a storm's would crowd out the class's.
constexpr int kAcceptBatch = 1024;
// Requests taken per pass (refusing one costs little): greeting a new
// student costs far more than accepting, and the listener and the open
// conversations must not wait for a whole hall to be greeted.
constexpr int kRequestsPerPass = 256;
// Out of descriptors, accepting is tried again after this long, unless a
// descriptor is freed before.
constexpr int kAcceptRetryMs = 200;
// Descriptors the listener keeps in hand and gives up when accepting runs
// out: Qt aborts the program when it cannot get one for a new thread's
// event dispatcher (its thread pool starts threads at any time).
constexpr int kReserveDescriptors = 16;

// Large sends are handed to QTcpSocket piecewise so that its buffer (a copy)
// stays small; the caller's block is kept, shared, until it is all handed over.
constexpr qint64 kFeedChunk = 256 * 1024;
constexpr qint64 kFeedHighWater = 1024 * 1024;

// Arrived data is held up to this much in Qt's buffer and at most twice as
// much in ours; the rest waits in the kernel, which slows the sender down.
// Without a bound a class uploading at once fills the server's memory
// whenever it falls behind. 64 KiB keeps uploads near the speed of a
// hashing copy; 256 KiB held twice the memory for a busy class.
constexpr qint64 kReadChunk = 64 * 1024;

int winsockError(QAbstractSocket::SocketError error)
{
    static const std::pair<QAbstractSocket::SocketError, int> numbers[] = {
        {QAbstractSocket::ConnectionRefusedError, 10061},
        {QAbstractSocket::HostNotFoundError, 11001},
        {QAbstractSocket::SocketTimeoutError, 10060},
        {QAbstractSocket::NetworkError, 10065},
        {QAbstractSocket::SocketAccessError, 10013},
        {QAbstractSocket::AddressInUseError, 10048},
        {QAbstractSocket::SocketResourceError, 10055},
        {QAbstractSocket::SocketAddressNotAvailableError, 10049},
        {QAbstractSocket::RemoteHostClosedError, 10054},
    };
    for (const auto &[qtError, number] : numbers) {
        if (qtError == error)
            return number;
    }
    return 10053; // connection aborted: the closest catch-all
}

// Connection requests between connectionRequest() and accept(). Whatever is
// still here when the handler returns was not wanted and gets closed.
QSet<qintptr> &offeredRequests()
{
    static QSet<qintptr> requests;
    return requests;
}

void closeDescriptor(qintptr descriptor)
{
    ::close(int(descriptor));
}

// IPv4 peers of the dual-stack listener show up as ::ffff:a.b.c.d.
QString dottedIP(const QHostAddress &peer)
{
    bool isV4 = false;
    const quint32 v4 = peer.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : peer.toString();
}

QString peerIP(const QTcpSocket *socket)
{
    return dottedIP(socket->peerAddress());
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
// connection keeps the kernel's record, whose state tells the two apart.
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
{}

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

bool Socket::listen()
{
    if (m_state != StateClosed) {
        setError(kErrBadState, tr("The socket is not closed"));
        return false;
    }
    auto *server = new QTcpServer(this);
    server->setProxy(QNetworkProxy::NoProxy);
    server->setListenBacklogSize(kListenBacklog);
    if (!server->listen(QHostAddress::Any, m_localPort)) {
        setError(winsockError(server->serverError()), server->errorString());
        delete server;
        return false;
    }
    // QTcpServer accepts until the queue is empty and gives up for good on
    // the first shortage of descriptors; this socket accepts by itself.
    server->pauseAccepting();
    m_server = server;
    m_acceptNotifier = new QSocketNotifier(server->socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, &Socket::acceptPending);
    m_localPort = server->serverPort();
    m_state = StateListening;
    takeReserve();
    return true;
}

bool Socket::takeReserve()
{
    while (m_reserve.size() < size_t(kReserveDescriptors)) {
        const int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            return false;
        m_reserve.push_back(descriptor);
    }
    return true;
}

void Socket::releaseReserve()
{
    for (int descriptor : m_reserve)
        ::close(descriptor);
    m_reserve.clear();
}

void Socket::acceptPending()
{
    const int listening = int(m_server->socketDescriptor());
    for (int accepted = 0; accepted < kAcceptBatch;) {
        const int descriptor = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0) {
            m_outOfDescriptors = false;
            queueRequest(descriptor);
            ++accepted;
            continue;
        }
        switch (errno) {
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
            continue;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            pauseAccepting(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        default: // EAGAIN: nothing more waiting
            return;
        }
    }
}

void Socket::pauseAccepting(const QString &reason)
{
    // The request stays in the kernel's queue; asking again at once would
    // only fail again, as fast as the processor allows.
    m_acceptNotifier->setEnabled(false);
    releaseReserve();
    if (!m_acceptRetryDue) {
        m_acceptRetryDue = true;
        QTimer::singleShot(kAcceptRetryMs, this, [this] {
            m_acceptRetryDue = false;
            resumeAccepting();
        });
    }
    if (std::exchange(m_outOfDescriptors, true))
        return;
    emit acceptingPaused(reason);
}

void Socket::resumeAccepting()
{
    if (!m_acceptNotifier || m_acceptNotifier->isEnabled())
        return;
    // Only with the reserve back in hand; otherwise later.
    if (!takeReserve()) {
        releaseReserve();
        pauseAccepting(QString::fromLocal8Bit(std::strerror(EMFILE)));
        return;
    }
    m_acceptNotifier->setEnabled(true);
}

bool Socket::accept(qintptr requestId)
{
    if (m_state != StateClosed || !offeredRequests().contains(requestId)) {
        setError(kErrBadState, tr("No such connection request, or the socket is not closed"));
        return false;
    }
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(requestId)) {
        setError(winsockError(socket->error()), socket->errorString());
        delete socket;
        return false;
    }
    offeredRequests().remove(requestId);
    attach(socket);
    m_watch = watchDescriptor(requestId);
    m_state = StateConnected;
    m_remoteIP = peerIP(socket);
    m_remotePort = socket->peerPort();
    return true;
}

QString Socket::requestPeerIP(qintptr requestId)
{
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(int(requestId), reinterpret_cast<sockaddr *>(&peer), &size) != 0)
        return {};
    return dottedIP(QHostAddress(reinterpret_cast<const sockaddr *>(&peer)));
}

QString Socket::remoteHostIP() const
{
    return m_remoteIP;
}

quint16 Socket::remotePort() const
{
    return m_remotePort;
}

bool Socket::connectToHost(const QString &host, const QString &port)
{
    quint16 number = 0;
    if (m_state != StateClosed) {
        setError(kErrBadState, tr("The socket is not closed"));
        return false;
    }
    if (!isPortText(port, &number)) {
        setError(kErrInvalidArg, tr("Invalid port number: %1").arg(port));
        return false;
    }
    auto *socket = new QTcpSocket(this);
    socket->setProxy(QNetworkProxy::NoProxy);
    attach(socket);
    m_state = StateConnecting;
    socket->connectToHost(host, number);
    return true;
}

void Socket::sendData(const QByteArray &bytes)
{
    if (m_state != StateConnected)
        return;
    m_queued += bytes.size();
    m_sends.push_back({bytes.size(), 0, 0});
    skipWrittenSends(); // an empty send is written at once
    if (bytes.isEmpty()) {
        post(); // nothing will be written, but sendComplete() is still owed
        return;
    }
    m_unsent.push_back(bytes);
    feed();
}

void Socket::sendData(const QString &text)
{
    sendData(cp932::encode(text));
}

QByteArray Socket::getData()
{
    pull();
    QByteArray data = std::exchange(m_inbox, QByteArray());
    // What waited in Qt's buffer behind a full inbox comes in and is
    // announced anew.
    pull();
    return data;
}

qint64 Socket::bytesToSend() const
{
    return m_socket && m_state == StateConnected ? m_queued - m_acked : 0;
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
    if (!m_inbox.isEmpty())
        m_dataDue = true;
    post();
}

QString Socket::getDataText()
{
    return cp932::decode(getData());
}

qint64 Socket::bytesAvailable() const
{
    return m_inbox.size() + (m_socket ? m_socket->bytesAvailable() : 0);
}

void Socket::close()
{
    if (m_server) {
        releaseReserve();
        delete m_acceptNotifier;
        m_acceptNotifier = nullptr;
        m_server->close();
        m_server->deleteLater();
        m_server = nullptr;
    }
    for (qintptr descriptor : m_requests)
        closeDescriptor(descriptor);
    m_requests.clear();

    if (QTcpSocket *socket = std::exchange(m_socket, nullptr)) {
        socket->disconnect(this);
        // Hand a reply sent just before close() to the kernel now: this object
        // (and with it Qt's buffer) is often deleted before the event loop
        // would have written it.
        socket->flush();
        if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
            // A short reply sent just before close() is still in Qt's buffer;
            // let it go out rather than drop it.
            connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
            socket->disconnectFromHost();
        } else {
            socket->abort();
            socket->deleteLater();
        }
    }
    releaseWatch();
    m_inbox.clear();
    m_unsent.clear();
    m_unsentOffset = m_queued = m_fed = m_acked = 0;
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
    connect(socket, &QIODevice::channelBytesWritten, this, &Socket::onBytesWritten);
    connect(socket, &QAbstractSocket::connected, this, &Socket::onConnected);
    connect(socket, &QAbstractSocket::disconnected, this, &Socket::onDisconnected);
    connect(socket, &QAbstractSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError e) { onSocketError(e); });
}

void Socket::queueRequest(qintptr descriptor)
{
    m_requests.push_back(descriptor);
    post();
}

void Socket::pull()
{
    // A full inbox takes more only once the handler has taken what is there.
    if (m_inbox.size() < kReadChunk && !m_readingPaused)
        pullAll();
}

void Socket::pullAll()
{
    // readAll(), not read(n): only a read that empties Qt's buffer makes it
    // read from the kernel again.
    if (!m_socket || m_socket->bytesAvailable() <= 0)
        return;
    m_inbox += m_socket->readAll();
    m_dataDue = true;
    post();
}

void Socket::feed()
{
    if (m_feeding)
        return;
    m_feeding = true;
    while (m_socket && !m_unsent.empty() && m_socket->bytesToWrite() < kFeedHighWater) {
        const QByteArray &block = m_unsent.front();
        const qint64 n = std::min(kFeedChunk, block.size() - m_unsentOffset);
        if (m_socket->write(block.constData() + m_unsentOffset, n) != n)
            break; // the connection is failing; its error event follows
        m_fed += n;
        m_unsentOffset += n;
        if (m_unsentOffset == block.size()) {
            m_unsent.pop_front();
            m_unsentOffset = 0;
        }
    }
    // The end of a send goes into the kernel now, so that a close by either
    // side cannot lose a reply: Qt drops what is still in its buffer when it
    // reads the peer's end of stream, also after a mere half-close.
    // (Earlier, while more waits to be handed over, an emptied buffer would
    // leave nothing to announce its room.)
    if (m_socket && m_unsent.empty())
        m_socket->flush();
    m_feeding = false;
}

void Socket::onConnected()
{
    m_watch = watchDescriptor(m_socket->socketDescriptor());
    m_state = StateConnected;
    m_remoteIP = peerIP(m_socket);
    m_remotePort = m_socket->peerPort();
    m_connectedDue = true;
    post();
}

void Socket::onDisconnected()
{
    releaseWatch();
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
    releaseWatch();
    // The peer closing in order is the closed() event, not an error.
    if (peerClosed && !reset)
        return;
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

void Socket::onBytesWritten()
{
    if (!m_socket)
        return;
    // Derived from the buffer level rather than the signal's count, so a
    // notification missed or doubled cannot skew the books.
    const qint64 acked = m_fed - m_socket->bytesToWrite();
    qint64 fresh = acked - m_acked;
    if (fresh <= 0)
        return;
    m_acked = acked;
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
    feed();
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
    if (m_watch >= 0)
        ::close(m_watch);
    m_watch = -1;
}

void Socket::setError(int number, const QString &text)
{
    m_errorNumber = number;
    m_errorString = text;
}

void Socket::post()
{
    if (m_posted)
        return;
    m_posted = true;
    QMetaObject::invokeMethod(this, &Socket::dispatch, Qt::QueuedConnection);
}

// Every event leaves from here, never from inside a QTcpSocket/QTcpServer
// signal, so a handler may close or delete this object, or spin a nested
// event loop, without pulling Qt's socket out from under itself. Handlers may
// re-enter dispatch() through a nested loop; the state is always updated
// before the emit, and dataArrival() alone is held back until its handler
// has returned.
void Socket::dispatch()
{
    m_posted = false;
    const QPointer<Socket> self(this);

    for (int taken = 0; !m_requests.empty();) {
        if (taken == kRequestsPerPass) {
            post(); // the rest after the others' turn
            break;
        }
        const qintptr descriptor = m_requests.front();
        m_requests.pop_front();
        offeredRequests().insert(descriptor);
        emit connectionRequest(descriptor);
        if (offeredRequests().remove(descriptor))
            closeDescriptor(descriptor);
        else
            ++taken;
        if (!self)
            return;
    }

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

    if (m_dataDue && !m_inDataArrival && !m_readingPaused) {
        m_dataDue = false;
        if (!m_inbox.isEmpty()) {
            m_inDataArrival = true;
            emit dataArrival(m_inbox.size());
            if (!self)
                return;
            m_inDataArrival = false;
            // What arrived while the handler ran gets its own event; what it
            // merely left untaken does not.
            pull();
            if (m_dataDue)
                post();
        }
    }

    // The end of the conversation is told only after its data.
    if (m_dataDue || m_inDataArrival)
        return;
    if (m_closedDue) {
        m_closedDue = false;
        emit closed();
    } else if (m_errorDue) {
        m_errorDue = false;
        emit error(m_dueErrorNumber, m_dueErrorText);
    }
}
