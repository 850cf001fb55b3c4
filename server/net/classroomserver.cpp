#include "server/net/classroomserver.h"

#include "platform/socket.h"
#include "platform/textlog.h"
#include "common/wire.h"
#include "server/roster/lecture.h"

#include <QCoreApplication>

ClassroomServer::ClassroomServer(Lecture &lecture, RosterGrid &grid, TextLog &log, QObject *parent)
    : QObject(parent), m_lecture(lecture), m_log(log), m_uploads(lecture, grid, log),
      m_interpreter(grid, m_uploads), m_listener(new Socket(this))
{
    connect(m_listener, &Socket::connectionRequest, this,
            &ClassroomServer::tcpServer_ConnectionRequest);
}

ClassroomServer::~ClassroomServer()
{
    for (auto &[number, connection] : m_connections)
        UploadReceiver::abandon(*connection);
}

bool ClassroomServer::listen(quint16 port, QString *error)
{
    m_listener->setLocalPort(port);
    if (m_listener->listen())
        return true;
    if (error)
        *error = m_listener->errorString();
    return false;
}

quint16 ClassroomServer::port() const
{
    return m_listener->localPort();
}

const Connection *ClassroomServer::connection(qint64 number) const
{
    const auto it = m_connections.find(number);
    return it == m_connections.end() ? nullptr : it->second.get();
}

Connection *ClassroomServer::find(qint64 number)
{
    const auto it = m_connections.find(number);
    return it == m_connections.end() ? nullptr : it->second.get();
}

void ClassroomServer::log(const QString &entry)
{
    m_log.insertAtTop(entry + wire::Eol);
}

void ClassroomServer::addConnection(qint64 number, Socket *socket)
{
    auto connection = std::make_unique<Connection>();
    connection->number = number;
    connection->socket = socket;
    connect(socket, &Socket::dataArrival, this, [this, number] { tcpServer_DataArrival(number); });
    connect(socket, &Socket::closed, this, [this, number] { tcpServer_Close(number); });
    connect(socket, &Socket::error, this, [this, number](int code, const QString &description) {
        tcpServer_Error(number, code, description);
    });
    m_connections[number] = std::move(connection);
}

qint64 ClassroomServer::adopt(Socket *socket)
{
    const qint64 number = ++m_connCount;
    socket->setParent(this);
    addConnection(number, socket);
    return number;
}

void ClassroomServer::tcpServer_ConnectionRequest(qintptr requestId)
{
    const qint64 number = ++m_connCount;
    auto *socket = new Socket(this);
    if (!socket->accept(requestId)) {
        delete socket;
        return;
    }
    addConnection(number, socket);

    log(socket->remoteHostIP() + QStringLiteral("から接続要求がありました｡"));
    log(QString::number(socket->remotePort()) + QStringLiteral("portで接続しました｡"));
    socket->sendData(wire::Hello + wire::Eol);
    letPendingEventsRun(number);
}

void ClassroomServer::letPendingEventsRun(qint64 number)
{
    // The lecture line follows once the events pending now have run (a user
    // line that has already arrived is answered first). Only one such nested
    // pass runs at a time: a class connecting at once would otherwise nest
    // one pass per waiting client and overflow the stack. Requests that come
    // in meanwhile send their lecture line from a queued call.
    if (m_inGreetingPass) {
        QMetaObject::invokeMethod(
            this, [this, number] { sendLectureLine(number); }, Qt::QueuedConnection);
        return;
    }
    m_inGreetingPass = true;
    QCoreApplication::processEvents();
    // Sockets announce what that pass brought in through queued calls.
    QCoreApplication::sendPostedEvents();
    m_inGreetingPass = false;
    sendLectureLine(number);
}

void ClassroomServer::sendLectureLine(qint64 number)
{
    Connection *connection = find(number);
    if (!connection || !connection->socket || connection->socket->state() != Socket::StateConnected)
        return;
    connection->send(wire::lectureLine(m_lecture.kougimei(), m_lecture.tantousya()));
}

void ClassroomServer::tcpServer_DataArrival(qint64 number)
{
    Connection *connection = find(number);
    if (!connection || !connection->socket)
        return;
    receive(number, connection->socket->getData());
}

void ClassroomServer::receive(qint64 number, QByteArrayView data)
{
    Connection *connection = find(number);
    if (!connection)
        return;
    // One arrival may hold lines, a put line, file data and lines again.
    while (!data.isEmpty()) {
        if (connection->imageMode) {
            if (!consumeImage(*connection, data))
                return;
        } else {
            consumeText(*connection, data);
            if (!find(number))
                return;
        }
    }
}

bool ClassroomServer::consumeImage(Connection &connection, QByteArrayView &data)
{
    qsizetype used = 0;
    if (m_uploads.receive(connection, data, used) == UploadReceiver::Outcome::CloseConnection) {
        destroy(connection.number);
        return false;
    }
    data = data.sliced(used);
    return true;
}

qsizetype ClassroomServer::textPortion(const Connection &connection, QByteArrayView data) const
{
    // Text runs up to the end of the first put line that will switch the
    // connection to image mode; what follows it is file data.
    const QByteArray &partial = connection.partialLine;
    qsizetype offset = 0;
    while (std::optional<qsizetype> length = wire::lineLength(data.sliced(offset))) {
        const qsizetype end = offset + *length;
        const QByteArray line = offset == 0 ? partial + data.first(end).toByteArray()
                                            : data.sliced(offset, *length).toByteArray();
        const QString body = cp932::decode(wire::lineBody(line));
        if (wire::commandOf(body) == wire::Command::Put && wire::parsePutLine(body))
            return end;
        offset = end;
    }
    return data.size();
}

void ClassroomServer::consumeText(Connection &connection, QByteArrayView &data)
{
    const qsizetype length = textPortion(connection, data);
    logText(connection, data.first(length));
    connection.partialLine += data.first(length);
    data = data.sliced(length);
    interpretLines(connection);
}

void ClassroomServer::logText(Connection &connection, QByteArrayView bytes)
{
    if (connection.skippingLongLine) {
        // Bytes of a line already found too long are not logged again.
        const qsizetype lf = bytes.indexOf('\n');
        if (lf < 0)
            return;
        bytes = bytes.sliced(lf + 1);
    }
    const QString text = connection.logDecoder.decode(bytes);
    if (!text.isEmpty())
        m_log.insertAtTop(text);
}

void ClassroomServer::interpretLines(Connection &connection)
{
    const qint64 number = connection.number;
    QByteArray &buffer = connection.partialLine;
    qsizetype start = 0;
    while (std::optional<qsizetype> length =
               wire::lineLength(QByteArrayView(buffer).sliced(start))) {
        const QByteArrayView line = QByteArrayView(buffer).sliced(start, *length);
        start += *length;
        if (connection.skippingLongLine) {
            connection.skippingLongLine = false;
            continue;
        }
        const QString body = cp932::decode(wire::lineBody(line));
        if (m_interpreter.gettedAscii(connection, body) ==
            CommandInterpreter::Outcome::CloseConnection) {
            destroy(number);
            return;
        }
        if (connection.imageMode)
            break;
    }
    buffer.remove(0, start);
    if (buffer.size() > wire::MaxLineBytes) {
        buffer.clear();
        connection.skippingLongLine = true;
        log(QStringLiteral("接続番号:%1 改行のないデータが64KiBを超えたため破棄しました｡")
                .arg(number));
    }
}

void ClassroomServer::tcpServer_Close(qint64 number)
{
    if (!find(number))
        return;
    log(QStringLiteral("接続番号:%1 と切断しました｡").arg(number));
    destroy(number);
}

void ClassroomServer::tcpServer_Error(qint64 number, int errorNumber, const QString &description)
{
    log(QStringLiteral("接続番号:%1 で以下のエラーが起きました").arg(number) + wire::Eol +
        QStringLiteral("エラー番号:%1->").arg(errorNumber) + description);
    // A connection the error has ended cannot close by itself any more.
    Connection *connection = find(number);
    if (connection && connection->socket) {
        const Socket::State state = connection->socket->state();
        if (state == Socket::StateError || state == Socket::StateClosed)
            destroy(number);
    }
}

void ClassroomServer::destroy(qint64 number)
{
    const auto it = m_connections.find(number);
    if (it == m_connections.end())
        return;
    std::unique_ptr<Connection> connection = std::move(it->second);
    m_connections.erase(it);
    UploadReceiver::abandon(*connection);
    if (Socket *socket = connection->socket) {
        socket->disconnect(this);
        socket->close();
        socket->deleteLater();
    }
}
