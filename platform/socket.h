#pragma once

#include "common/result.h"
#include "platform/sendqueue.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>

class Listener;
class QTcpSocket;

// A TCP socket with the operations and events both programs are written
// against: one object either listens (through its Listener, announcing
// connection requests that another object accepts) or carries one
// conversation. Events arrive on the owning thread, one at a time, as
// signals; arrived bytes come with their event, and the socket holds them
// only until it.
class Socket : public QObject
{
    Q_OBJECT
public:
    enum State {
        StateClosed = 0,
        StateOpen = 1,
        StateListening = 2,
        StateConnectionPending = 3,
        StateResolvingHost = 4,
        StateHostResolved = 5,
        StateConnecting = 6,
        StateConnected = 7,
        StateClosing = 8, // the peer has closed, our side is still open
        StateError = 9,
    };
    Q_ENUM(State)

    explicit Socket(QObject *parent = nullptr);
    ~Socket() override;

    void setLocalPort(quint16 port);
    quint16 localPort() const;

    // Listens on every local address, IPv4 and IPv6, at localPort() (0 picks
    // a free port; localPort() then tells which). Fails with the system's
    // reason (errorNumber() and errorString() tell it as well).
    Result<> listen();

    // Accepting again after acceptingPaused(), at once: a descriptor has
    // been freed. Without this call it resumes by itself after a short delay.
    void resumeAccepting();

    // Takes over the connection that connectionRequest(requestId) announced
    // on a listening socket. Only valid on a closed socket.
    Result<> accept(qintptr requestId);

    // The peer of a connection request not yet accepted, as remoteHostIP()
    // will give it.
    static QString requestPeerIP(qintptr requestId);

    // Dotted IPv4 text for IPv4 peers (also when listening on IPv6).
    QString remoteHostIP() const;
    quint16 remotePort() const;

    // Starts connecting and returns at once; the outcome arrives as
    // connected() or error(). Fails, with errorNumber()/errorString() set,
    // when the request is refused at once (port text not a number from 1 to
    // 65535, or the socket is not closed).
    Result<> connectToHost(const QString &host, const QString &port);

    // Queues the bytes for sending, in order after earlier sends. Progress is
    // reported by sendProgress() and sendComplete(). After the peer's
    // orderly close (closed(), StateClosing) sending goes on: a peer that
    // only shut its side still receives.
    void sendData(const QByteArray &bytes);
    void sendData(const QString &text); // as code page 932
    // Whether sendData() can still send.
    bool canSend() const;
    // Bytes given to sendData() that the kernel has not taken yet; 0 once
    // the connection is gone (they will never leave).
    qint64 bytesToSend() const;
    // Takes in now what the kernel already holds for this connection, instead
    // of at the next turn of the event loop; it is announced as usual.
    void readWaiting();
    // How much the kernel holds for sending; by default it grows to
    // megabytes for a peer that does not read.
    void setKernelSendBuffer(int bytes);

    // While paused, nothing more is taken from the connection and nothing is
    // announced by received(); the sender waits in the kernel. The end of
    // the connection lifts the pause, so its data and close are still told.
    void setReadingPaused(bool paused);

    // Bytes that have arrived and are not yet announced.
    qint64 bytesAvailable() const;

    // No closed() event follows a local close.
    void close();

    State state() const;
    int errorNumber() const;
    QString errorString() const;

Q_SIGNALS:
    void connectionRequest(qintptr requestId);
    // The listener cannot accept for lack of descriptors (once per episode).
    void acceptingPaused(const QString &reason);
    void connected();
    // Bytes that have arrived, in order, each once. A fast stream comes in
    // pieces of at most a few hundred KiB; the next is announced only once
    // the handler of this one has returned.
    void received(const QByteArray &bytes);
    void closed(); // the peer closed in order
    // The socket failed: refused, unreachable, reset by the peer (10054), ...
    void error(int number, const QString &description);
    void sendProgress(qint64 bytesSent, qint64 bytesRemaining);
    void sendComplete();

private:
    // One sendData() call, until its sendComplete() has been emitted.
    struct PendingSend
    {
        qint64 size = 0;
        qint64 written = 0;  // handed to the kernel
        qint64 reported = 0; // last bytesSent announced
    };

    void attach(QTcpSocket *socket);
    Result<> fail(int number, const QString &text);
    void pull();
    void pullAll(); // also past the inbox's bound: at the end of the stream
    void watch(qintptr descriptor);
    void onConnected();
    void onDisconnected();
    void onSocketError(int qtError);
    void onTaken(qint64 bytes);
    void onSendFailed(int errorNumber);
    void skipWrittenSends();
    void releaseWatch();
    void setError(int number, const QString &text);
    void post();
    void dispatch();

    Listener *m_listener = nullptr;
    QTcpSocket *m_socket = nullptr;
    // Our own descriptor on m_socket's connection: sends go through it, and
    // it outlives Qt's after the peer's end of stream.
    int m_watch = -1;
    SendQueue m_sendQueue;
    quint16 m_localPort = 0;
    State m_state = StateClosed;
    int m_errorNumber = 0;
    QString m_errorString;
    QString m_remoteIP;
    quint16 m_remotePort = 0;

    // Read from Qt's buffer and not yet announced: only while an announcement
    // is due, which hands over all of it.
    QByteArray m_arrived;

    qint64 m_queued = 0; // bytes given to sendData() so far
    qint64 m_acked = 0;  // of those, bytes the kernel has taken
    std::deque<PendingSend> m_sends;
    size_t m_writtenSends = 0; // of m_sends, from the front: fully written

    int m_dueErrorNumber = 0;
    QString m_dueErrorText;
    bool m_posted = false;
    bool m_connectedDue = false;
    bool m_dataDue = false;
    bool m_closedDue = false;
    bool m_errorDue = false;
    bool m_inReceived = false;
    bool m_readingPaused = false;
};
