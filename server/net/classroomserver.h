#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <map>
#include <memory>

#include "common/result.h"
#include "server/folders/handoutcatalog.h"
#include "server/net/recordbudget.h"

class ClassDesk;
class Connection;
class Socket;
class TextLog;

// The lecturer's side of the network: the listening socket, accepting and
// greeting clients, and the numbered connections while they last.
class ClassroomServer : public QObject
{
    Q_OBJECT
public:
    ClassroomServer(ClassDesk &desk, TextLog &log, QObject *parent = nullptr);
    ~ClassroomServer() override;

    // Starts listening; fails with the system's reason.
    Result<> listen(quint16 port);
    quint16 port() const;
    // Simultaneous connections one address may hold; 0: no limit. Requests
    // over it are closed at once.
    void setPerAddressLimit(qint64 limit) { m_perAddressLimit = limit; }
    // Earlier versions kept per file name when an upload replaces one.
    void setKeptVersions(qint64 kept) { m_keptVersions = int(kept); }

    // The handouts every connection offers; their folder follows the desk's.
    HandoutCatalog &handouts() { return m_handouts; }
    // The work returned, each file to the student it is named for.
    HandoutCatalog &returns() { return m_returns; }

    qint64 connCount() const { return m_connCount; }
    // The connection with this number, while it is open.
    Connection *connection(qint64 number) const;

    // Takes over a socket as the next connection without a listener, so that
    // the conversation can be driven by bytes alone (the fuzz harness).
    qint64 adopt(Socket *socket);

    void tcpServer_ConnectionRequest(qintptr requestId);

private:
    // `catalog` follows the desk's folders: its own, and those it must be
    // kept apart from.
    void followFolders(HandoutCatalog &catalog);
    bool overAddressLimit(const QString &address);
    void refuseOverLimit(const QString &address);
    void outOfDescriptors(const QString &reason);
    Connection *addConnection(Socket *socket);
    void sendLectureLineAfterArrived(qint64 number, Socket *socket);
    void sendLectureLine(qint64 number);
    void remove(qint64 number);
    void log(const QString &entry);
    std::shared_ptr<RecordBudget> budgetOf(const QString &address);
    void logFrom(const QString &address, const QString &entry);
    void tellLeftOut(const QString &address);

    ClassDesk &m_desk;
    TextLog &m_log;
    Socket *m_listener = nullptr;
    HandoutCatalog m_handouts;
    HandoutCatalog m_returns{HandoutCatalog::Folder::Returns};
    qint64 m_connCount = 0;
    std::map<qint64, Connection *> m_connections;
    qint64 m_perAddressLimit = 0;
    int m_keptVersions = 10;
    QHash<QString, qint64> m_openPerAddress;
    QHash<QString, qint64> m_lastRefusalMs; // per address, on m_clock
    QElapsedTimer m_clock;
    QHash<QString, std::shared_ptr<RecordBudget>> m_budgets; // per address
};
