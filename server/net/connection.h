#pragma once

#include "common/wire.h"
#include "server/net/uploadfile.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <memory>

class AttendanceBook;
class HandoutCatalog;
class HandoutDesk;
class Lecture;
class Socket;

// One student's conversation with the lecturer's program: its socket, the
// line being received, the open upload and the user ID. Arrived bytes go in
// at one place (receive); what the conversation did comes out as log entries
// and, through the attendance book, as marks and stamps.
class Connection : public QObject
{
    Q_OBJECT
public:
    // Takes over `socket` (it becomes a child of the connection).
    Connection(qint64 number, Socket *socket, const Lecture &lecture, AttendanceBook &book,
               QObject *parent = nullptr);
    ~Connection() override;

    qint64 number() const { return m_number; }
    Socket &socket() const { return *m_socket; }
    const QString &userId() const { return m_userId; }
    bool imageMode() const { return m_upload != nullptr; }

    void send(const QString &line);
    // Answers "list" and "get" from `catalog`; without it they are no commands.
    void offerHandouts(HandoutCatalog &catalog);
    // Everything the connection does with bytes that arrived: lines are
    // interpreted one at a time, the bytes after an accepted put line belong
    // to the upload, and what follows a completed upload is text again.
    void receive(QByteArrayView data);
    // Closes the socket; the connection is finished.
    void close();

Q_SIGNALS:
    void logEntry(const QString &entry);
    // The conversation is over; the connection may be deleted.
    void finished(qint64 number);

private:
    struct Upload
    {
        UploadFile file;
        QString fileName;
        qint64 expected = 0;
        qint64 received = 0;
    };

    void tcpServer_DataArrival();
    void tcpServer_Close();
    void tcpServer_Error(int errorNumber, const QString &description);

    bool repliesPiledUp();
    void resumeWhenDrained();
    void hold(QByteArrayView data);
    void takeTurn();
    void refusePut(const QString &body, const QString &reason = QString());
    void interpret(const QByteArray &line);
    void logLine(const QString &line, qsizetype bytes);
    void recordAttendance(const QString &body);
    void startUpload(const QString &body);
    void receiveUpload(QByteArrayView &data);
    void completeUpload();
    void storageFailed(const QString &reason);
    void log(const QString &entry);

    const qint64 m_number;
    Socket *m_socket;
    const Lecture &m_lecture;
    AttendanceBook &m_book;
    wire::LineFramer m_framer;
    // What arrived while replies piled up, waiting for them to drain.
    QByteArray m_held;
    bool m_draining = false; // the peer has closed: its input is read at one go
    QString m_userId;
    std::unique_ptr<Upload> m_upload;
    HandoutDesk *m_handouts = nullptr;
    bool m_finished = false;
};
