#pragma once

#include "common/wire.h"
#include "server/folders/uploadfile.h"
#include "server/net/classdesk.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QString>
#include <memory>

class HandoutCatalog;
class HandoutDesk;
class RecordBudget;
class Socket;
class QTimer;

// One student's conversation with the lecturer's program: its socket, the
// bytes received and not yet interpreted, the open upload and the user ID.
// Arrived bytes go in at one place (receive), straight from the socket's
// event; what the conversation did comes out as log entries and, through the
// class desk, as marks, stamps and records.
class Connection : public QObject
{
    Q_OBJECT
public:
    // Takes over `socket` (it becomes a child of the connection).
    Connection(qint64 number, Socket *socket, ClassDesk &desk, QObject *parent = nullptr);
    ~Connection() override;

    qint64 number() const { return m_number; }
    Socket &socket() const { return *m_socket; }
    const QString &userId() const { return m_userId; }
    ClassDesk &desk() const { return m_desk; }
    bool imageMode() const { return m_upload != nullptr; }

    void setKeptVersions(int kept) { m_keptVersions = kept; }
    // The server's one cache of file hashes, for the uploads' version history.
    void setHashCache(std::shared_ptr<HashCache> hashes) { m_hashes = std::move(hashes); }
    // What this client may still add to the records; shared by the
    // connections from one address.
    void setRecordBudget(std::shared_ptr<RecordBudget> budget) { m_budget = std::move(budget); }
    // A journal record (a receipt, a refusal, a delivery) the client's
    // budget pays for: whether one fits now, and paying for one written.
    bool hasRoomForRecord();
    void chargeRecord();

    void send(const QString &line);
    // Answers "list" and "get" from `catalog`, and to a student who attended
    // with their own files from `returns`; without them they are no commands.
    void offerHandouts(HandoutCatalog &catalog, HandoutCatalog &returns);
    // Everything the connection does with bytes that arrived: lines are
    // interpreted one at a time, the bytes after an accepted put line belong
    // to the upload, and what follows a completed upload is text again.
    void receive(const QByteArray &bytes);
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
        ClassDesk::PutDecision decision; // folder, lecture and deadline at the put line
    };

    void tcpServer_Close();
    void tcpServer_Error(int errorNumber, const QString &description);

    bool repliesPiledUp();
    void resumeWhenDrained();
    void deskIdle();
    void takeTurn();
    void interpretReceived();
    void waitForTurn(bool queued);
    bool takeLine(QByteArray &line);
    void logLongLine();
    void dropTaken();
    void refusePut(const QString &body, const QString &forStudent, const QString &detail = {});
    void interpret(QByteArrayView line);
    void logLine(const QString &line, qsizetype bytes);
    void recordAttendance(const QString &userId);
    void startUpload(const QString &body, const std::optional<wire::PutRequest> &request);
    void armUploadTimer();
    void endUpload(const PutRefusal &why);
    qsizetype receiveUpload(QByteArrayView data);
    void completeUpload();
    void storageFailed(const QString &reason);
    void log(const QString &entry);

    const qint64 m_number;
    Socket *m_socket;
    ClassDesk &m_desk;
    // The receive buffer: bytes arrived and not yet interpreted, from
    // m_taken on. Held here while replies pile up (the socket then reads no
    // more); a line that is incomplete waits in m_lines.
    QByteArray m_received;
    qsizetype m_taken = 0;
    wire::LineFramer m_lines;    // holds a line whose end has not come yet
    bool m_waiting = false;      // input waits for its turn; reading paused
    bool m_draining = false;     // the peer has closed: its input is read at one go
    bool m_awaitingDesk = false; // a handout request's turn: until the desk is idle
    QString m_userId;
    std::unique_ptr<Upload> m_upload;
    QTimer *m_uploadIdle = nullptr; // runs out when no byte of the upload came
    HandoutDesk *m_handouts = nullptr;
    std::shared_ptr<RecordBudget> m_budget;
    bool m_finished = false;
    int m_keptVersions = 0;
    std::shared_ptr<HashCache> m_hashes;
};
