#pragma once

#include "common/result.h"
#include "server/folders/handoutcatalog.h"

#include <QFile>
#include <QObject>
#include <QTimer>

#include <chrono>

class Socket;

// One handout on its way to a student: the 402 line, then the file's bytes,
// read as the socket gets rid of earlier ones, so that memory does not grow
// with the file or the class. A student that takes nothing for a minute
// ends the transfer. The bytes are those of the version listed: once the
// file changes (in place or replaced), the rest are bytes that fail the
// listed SHA-256, so that only this file is lost and the connection goes on.
class HandoutSender : public QObject
{
    Q_OBJECT
public:
    HandoutSender(Socket &socket, Handout handout, QObject *parent = nullptr);

    // Opens the file as listed; fails with the reason for the student.
    Result<> open();
    // Sends the 402 line and starts streaming.
    void start();
    const Handout &handout() const { return m_handout; }
    // How long a transfer may go without the student taking a byte; zero
    // restores the minute.
    static void setStallLimitForTests(std::chrono::milliseconds limit);
    // The problem finished() tells when the file changed while it was sent.
    static const QString ChangedWhileSent;

Q_SIGNALS:
    // Every byte handed to the system (empty problem), or the transfer had
    // to end or the file changed (ChangedWhileSent, the connection still
    // usable): the student cannot have received the file.
    void finished(const QString &problem);

private:
    void progressed();
    void pump();
    void nextTurn();
    QByteArray readPiece(qint64 length);
    bool unchanged();
    bool stillListed() const;
    static void spoil(QByteArray &piece, qint64 length);
    void finish(const QString &problem);

    Socket &m_socket;
    Handout m_handout;
    QFile m_file;
    qint64 m_queued = 0;
    QTimer m_stall;
    bool m_finished = false;
    bool m_changed = false;     // what goes out now is no longer the file
    bool m_turnAwaited = false; // the others' turn first
};
