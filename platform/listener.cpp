#include "platform/listener.h"

#include "platform/socketsupport.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A whole class connects within the same second.
constexpr int kListenBacklog = 4096;

// Connections accepted per pass of the event loop. Enough to keep the
// kernel's queue (4096) from filling under a client in a connect loop: a full
// queue drops the other students' requests, which they repeat only after 1,
// 3 and 7 s. Not the whole queue: each request taken holds a descriptor
// until its turn, and a storm's would crowd out the class's.
constexpr int kAcceptBatch = 1024;
// Requests offered per pass (refusing one costs little): greeting a new
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

// Connection requests between connectionRequest() and their acceptance.
// Whatever is still here when the handler returns was not wanted and gets
// closed.
QSet<qintptr> &offeredRequests()
{
    static QSet<qintptr> requests;
    return requests;
}

} // namespace

Listener::Listener(QObject *parent) : QObject(parent)
{}

Listener::~Listener()
{
    close();
}

Result<> Listener::listen(quint16 port)
{
    auto *server = new QTcpServer(this);
    server->setProxy(QNetworkProxy::NoProxy);
    server->setListenBacklogSize(kListenBacklog);
    if (!server->listen(QHostAddress::Any, port)) {
        m_errorNumber = socketsupport::winsockError(server->serverError());
        const QString reason = server->errorString();
        delete server;
        return Result<>::failure(reason);
    }
    // QTcpServer accepts until the queue is empty and gives up for good on
    // the first shortage of descriptors; this listener accepts by itself.
    server->pauseAccepting();
    m_server = server;
    m_acceptNotifier = new QSocketNotifier(server->socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, &Listener::acceptPending);
    m_localPort = server->serverPort();
    takeReserve();
    return Result<>::success();
}

bool Listener::takeReserve()
{
    while (m_reserve.size() < size_t(kReserveDescriptors)) {
        const int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            return false;
        m_reserve.push_back(descriptor);
    }
    return true;
}

void Listener::releaseReserve()
{
    for (int descriptor : m_reserve)
        ::close(descriptor);
    m_reserve.clear();
}

void Listener::acceptPending()
{
    const int listening = int(m_server->socketDescriptor());
    for (int accepted = 0; accepted < kAcceptBatch;) {
        const int descriptor = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0) {
            m_outOfDescriptors = false;
            m_requests.push_back(descriptor);
            post();
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

void Listener::pauseAccepting(const QString &reason)
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

void Listener::resumeAccepting()
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

void Listener::close()
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
        ::close(int(descriptor));
    m_requests.clear();
}

bool Listener::takeOffered(qintptr requestId)
{
    return offeredRequests().remove(requestId);
}

QString Listener::requestPeerIP(qintptr requestId)
{
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(int(requestId), reinterpret_cast<sockaddr *>(&peer), &size) != 0)
        return {};
    return socketsupport::dottedIP(QHostAddress(reinterpret_cast<const sockaddr *>(&peer)));
}

void Listener::post()
{
    if (m_posted)
        return;
    m_posted = true;
    QMetaObject::invokeMethod(this, &Listener::offerRequests, Qt::QueuedConnection);
}

// Requests are offered from here, never from inside the notifier's signal,
// so that a handler may close or delete the listener, or spin a nested event
// loop.
void Listener::offerRequests()
{
    m_posted = false;
    const QPointer<Listener> self(this);
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
            ::close(int(descriptor));
        else
            ++taken;
        if (!self)
            return;
    }
}
