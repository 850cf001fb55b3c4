#pragma once

#include "common/result.h"
#include "server/net/handoutcatalog.h"

#include <QFile>
#include <QObject>

class Socket;

// One handout on its way to a student: the 402 line, then the file's bytes,
// read as the socket gets rid of earlier ones, so that memory does not grow
// with the file or the class. The bytes are those of the version listed: a
// file that changes while it is sent ends the transfer.
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

Q_SIGNALS:
    // Every byte handed to the system (empty problem), or the transfer had
    // to end: the student cannot have received the file.
    void finished(const QString &problem);

private:
    void pump();
    bool unchanged();
    void finish(const QString &problem);

    Socket &m_socket;
    Handout m_handout;
    QFile m_file;
    qint64 m_queued = 0;
    bool m_finished = false;
};
