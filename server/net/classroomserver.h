#pragma once

#include "server/net/commandinterpreter.h"
#include "server/net/connection.h"
#include "server/net/uploadreceiver.h"

#include <QObject>
#include <QString>
#include <map>
#include <memory>

class Lecture;
class RosterGrid;
class Socket;
class TextLog;

// The lecturer's side of the network: the listening socket, one numbered
// connection per client, and the events of their sockets.
class ClassroomServer : public QObject
{
    Q_OBJECT
public:
    ClassroomServer(Lecture &lecture, RosterGrid &grid, TextLog &log, QObject *parent = nullptr);
    ~ClassroomServer() override;

    // Starts listening; on failure `error` holds the system's reason.
    bool listen(quint16 port, QString *error);
    quint16 port() const;

    qint64 connCount() const { return m_connCount; }
    // The connection with this number, while it is open.
    const Connection *connection(qint64 number) const;

    // Takes over a socket as the next connection without a listener, so that
    // the line handling can be driven by bytes alone (the fuzz harness).
    qint64 adopt(Socket *socket);
    // What a data arrival on connection `number` does with its bytes.
    void receive(qint64 number, QByteArrayView arrival);

    void tcpServer_ConnectionRequest(qintptr requestId);
    void tcpServer_DataArrival(qint64 number);
    void tcpServer_Close(qint64 number);
    void tcpServer_Error(qint64 number, int errorNumber, const QString &description);

private:
    Connection *find(qint64 number);
    void addConnection(qint64 number, Socket *socket);
    void letPendingEventsRun(qint64 number);
    void sendLectureLine(qint64 number);
    void consumeText(Connection &connection, QByteArrayView &data);
    void interpretLines(Connection &connection);
    bool consumeImage(Connection &connection, QByteArrayView &data);
    qsizetype textPortion(const Connection &connection, QByteArrayView data) const;
    void logText(Connection &connection, QByteArrayView bytes);
    void destroy(qint64 number);
    void log(const QString &entry);

    Lecture &m_lecture;
    TextLog &m_log;
    UploadReceiver m_uploads;
    CommandInterpreter m_interpreter;
    Socket *m_listener = nullptr;
    qint64 m_connCount = 0;
    bool m_inGreetingPass = false;
    std::map<qint64, std::unique_ptr<Connection>> m_connections;
};
