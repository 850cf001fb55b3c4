#include "server/net/classroomserver.h"

#include "common/wire.h"
#include "platform/socket.h"
#include "platform/textlog.h"
#include "server/net/classdesk.h"
#include "server/net/connection.h"

namespace {

// Refusals from one address with gaps shorter than this are one burst, and
// get one log entry.
constexpr qint64 RefusalBurstGapMs = 5000;
// Addresses whose budgets are kept while no connection uses them.
constexpr qsizetype IdleBudgetsKept = 4096;

} // namespace

ClassroomServer::ClassroomServer(ClassDesk &desk, TextLog &log, QObject *parent)
    : QObject(parent), m_desk(desk), m_log(log), m_listener(new Socket(this))
{
    connect(m_listener, &Socket::connectionRequest, this,
            &ClassroomServer::tcpServer_ConnectionRequest);
    connect(&m_desk, &ClassDesk::logEntry, this, &ClassroomServer::log);
    connect(m_listener, &Socket::acceptingPaused, this, &ClassroomServer::outOfDescriptors);
    followFolders(m_handouts);
    followFolders(m_returns);
    m_clock.start();
}

void ClassroomServer::followFolders(HandoutCatalog &catalog)
{
    using Folder = HandoutCatalog::Folder;
    connect(&catalog, &HandoutCatalog::logEntry, this, &ClassroomServer::log);
    connect(&m_desk, &ClassDesk::folderChanged, &catalog,
            [&catalog](Folder which, const QString &path) {
                if (which == catalog.kind())
                    catalog.setFolder(path);
                else
                    catalog.setApartFrom(which, path);
            });
    for (Folder other : {Folder::Assignments, Folder::Handouts, Folder::Returns}) {
        if (other != catalog.kind())
            catalog.setApartFrom(other, m_desk.folder(other));
    }
    catalog.setFolder(m_desk.folder(catalog.kind()));
}

ClassroomServer::~ClassroomServer()
{
    // Connections are children; their unfinished uploads go with them.
    for (auto &[number, connection] : m_connections)
        connection->disconnect(this);
}

Result<> ClassroomServer::listen(quint16 port)
{
    m_listener->setLocalPort(port);
    return m_listener->listen();
}

quint16 ClassroomServer::port() const
{
    return m_listener->localPort();
}

Connection *ClassroomServer::connection(qint64 number) const
{
    const auto it = m_connections.find(number);
    return it == m_connections.end() ? nullptr : it->second;
}

void ClassroomServer::log(const QString &entry)
{
    m_log.insertAtTop(entry + wire::Eol);
}

std::shared_ptr<RecordBudget> ClassroomServer::budgetOf(const QString &address)
{
    if (const auto known = m_budgets.constFind(address); known != m_budgets.cend())
        return *known;
    // Budgets no connection uses any more go when there are many.
    if (m_budgets.size() > IdleBudgetsKept)
        m_budgets.removeIf([](auto it) { return it.value().use_count() == 1; });
    return *m_budgets.insert(address, std::make_shared<RecordBudget>());
}

// An entry caused by the client at `address`, within what it may write.
void ClassroomServer::logFrom(const QString &address, const QString &entry)
{
    const std::shared_ptr<RecordBudget> budget = budgetOf(address);
    if (budget->spend(RecordBudget::bytesOf(entry.size())))
        m_log.insertAtTop(entry);
}

// Tells once how many entries of `address` were left out since last told.
void ClassroomServer::tellLeftOut(const QString &address)
{
    const auto budget = m_budgets.constFind(address);
    if (budget == m_budgets.cend())
        return;
    if (const qint64 leftOut = (*budget)->takeLeftOut(); leftOut > 0)
        log(QStringLiteral("%1 からの記録 %2 件は1分間に書ける量を超えたため省きました｡")
                .arg(address)
                .arg(leftOut));
}

Connection *ClassroomServer::addConnection(Socket *socket)
{
    const qint64 number = ++m_connCount;
    auto *connection = new Connection(number, socket, m_desk, this);
    connection->setKeptVersions(m_keptVersions);
    connection->setHashCache(m_handouts.hashCache());
    const QString address = socket->remoteHostIP();
    connection->setRecordBudget(budgetOf(address));
    connect(connection, &Connection::logEntry, this,
            [this, address](const QString &entry) { logFrom(address, entry); });
    connect(connection, &Connection::finished, this, &ClassroomServer::remove);
    connection->offerHandouts(m_handouts, m_returns);
    m_connections[number] = connection;
    return connection;
}

qint64 ClassroomServer::adopt(Socket *socket)
{
    return addConnection(socket)->number();
}

void ClassroomServer::outOfDescriptors(const QString &reason)
{
    log(QStringLiteral("ファイル記述子が足りないため、接続の受け付けを一時止めています｡(%1)")
            .arg(reason));
}

bool ClassroomServer::overAddressLimit(const QString &address)
{
    return m_perAddressLimit > 0 && m_openPerAddress.value(address) >= m_perAddressLimit;
}

void ClassroomServer::refuseOverLimit(const QString &address)
{
    const qint64 now = m_clock.elapsed();
    const auto last = m_lastRefusalMs.constFind(address);
    const bool newBurst = last == m_lastRefusalMs.cend() || now - *last > RefusalBurstGapMs;
    if (newBurst) {
        m_lastRefusalMs.removeIf([now](auto it) { return now - it.value() > RefusalBurstGapMs; });
        log(address + QStringLiteral("からの同時接続が上限の%1を超えたため、超えた分を切断します｡")
                          .arg(m_perAddressLimit));
    }
    m_lastRefusalMs.insert(address, now);
}

void ClassroomServer::tcpServer_ConnectionRequest(qintptr requestId)
{
    const QString address = Socket::requestPeerIP(requestId);
    if (overAddressLimit(address)) {
        refuseOverLimit(address); // not taken: the socket closes it
        return;
    }
    auto *socket = new Socket(this);
    if (!socket->accept(requestId)) {
        delete socket;
        return;
    }
    const qint64 number = addConnection(socket)->number();
    ++m_openPerAddress[address];
    tellLeftOut(address);
    logFrom(address,
            socket->remoteHostIP() + QStringLiteral("から接続要求がありました｡") + wire::Eol);
    logFrom(address, QString::number(socket->remotePort()) + QStringLiteral("portで接続しました｡") +
                         wire::Eol);
    socket->sendData(wire::Hello + wire::Eol);
    sendLectureLineAfterArrived(number, socket);
}

void ClassroomServer::sendLectureLineAfterArrived(qint64 number, Socket *socket)
{
    // A user line that is already here is answered before the lecture line:
    // both go out from queued calls, in the order they were queued. Greeting
    // from a nested pass of the event loop instead kept a storm of requests
    // in pass after pass.
    socket->readWaiting();
    QMetaObject::invokeMethod(
        this, [this, number] { sendLectureLine(number); }, Qt::QueuedConnection);
}

void ClassroomServer::sendLectureLine(qint64 number)
{
    Connection *connection = this->connection(number);
    if (!connection || connection->socket().state() != Socket::StateConnected)
        return;
    connection->send(m_desk.lectureLine());
}

void ClassroomServer::remove(qint64 number)
{
    const auto it = m_connections.find(number);
    if (it == m_connections.end())
        return;
    const QString address = it->second->socket().remoteHostIP();
    if (const auto open = m_openPerAddress.find(address);
        open != m_openPerAddress.end() && --*open <= 0)
        m_openPerAddress.erase(open);
    it->second->deleteLater();
    m_connections.erase(it);
    tellLeftOut(address);
    // Its descriptor is free again.
    m_listener->resumeAccepting();
}
