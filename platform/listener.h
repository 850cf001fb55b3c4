#pragma once

#include "common/result.h"

#include <QObject>
#include <QString>

#include <deque>
#include <vector>

class QSocketNotifier;
class QTcpServer;

// The listening end of the server's socket: takes connection requests from
// the kernel at its own pace and offers them, one event each, to be accepted
// by a closed Socket (which becomes the connection). A request that nobody
// accepts while it is offered is closed.
class Listener : public QObject
{
    Q_OBJECT
public:
    explicit Listener(QObject *parent = nullptr);
    ~Listener() override;

    // Listens on every local address, IPv4 and IPv6, at `port` (0 picks a
    // free one; localPort() then tells which). On failure errorNumber()
    // tells the Winsock number as well.
    Result<> listen(quint16 port);
    quint16 localPort() const { return m_localPort; }
    int errorNumber() const { return m_errorNumber; }

    // Accepting again after acceptingPaused(), at once: a descriptor has
    // been freed. Without this call it resumes by itself after a short delay.
    void resumeAccepting();
    void close();

    // Hands the offered request over to its acceptor: false when it is not
    // (or no longer) offered.
    static bool takeOffered(qintptr requestId);
    // The peer of a request, in dotted text.
    static QString requestPeerIP(qintptr requestId);

Q_SIGNALS:
    void connectionRequest(qintptr requestId);
    // Accepting stopped for lack of descriptors (once per episode).
    void acceptingPaused(const QString &reason);

private:
    void acceptPending();
    void pauseAccepting(const QString &reason);
    bool takeReserve();
    void releaseReserve();
    void post();
    void offerRequests();

    QTcpServer *m_server = nullptr;
    QSocketNotifier *m_acceptNotifier = nullptr;
    quint16 m_localPort = 0;
    int m_errorNumber = 0;
    bool m_acceptRetryDue = false;
    bool m_outOfDescriptors = false;
    bool m_posted = false;
    std::vector<int> m_reserve;     // descriptors held for the rest of the program
    std::deque<qintptr> m_requests; // accepted by the kernel, not yet offered
};
