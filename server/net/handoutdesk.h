#pragma once

#include "common/wire.h"
#include "server/folders/handoutcatalog.h"

#include <QObject>
#include <QStringList>

#include <utility>

class Connection;
class HandoutSender;

// A connection's handout requests: "list" is answered once every hash is
// known, "get" by the file's bytes. A student who attended is also offered
// the files of the returns folder that are theirs (the class desk says whose
// a file is); nobody gets another's. While either is under way the
// connection's further lines wait, and replies it sends meanwhile go out
// after the bytes. Every request ends with idle(), also a refused one.
class HandoutDesk : public QObject
{
    Q_OBJECT
public:
    HandoutDesk(Connection &connection, HandoutCatalog &catalog, HandoutCatalog &returns);

    bool busy() const { return m_awaitingListing || sending(); }
    bool sending() const { return m_sender != nullptr; }
    void request(wire::Command command, QStringView body);
    // Whether a request came since the last call: its idle() is to come.
    bool takeServed() { return std::exchange(m_served, false); }
    // A reply line that must not land among the bytes of a handout.
    void deferLine(const QString &line) { m_deferred << line; }

Q_SIGNALS:
    // No request is under way any more: waiting lines may go on.
    void idle();
    void logEntry(const QString &entry);

private:
    void sendLine(const QString &line);
    void list();
    void answerListing(const QByteArray &reply);
    QByteArray withOwnReturns(const HandoutCatalog::Listing &handouts,
                              const HandoutCatalog::Listing &returns) const;
    void get(const QString &name);
    Result<Handout> find(const QString &name, bool &returned) const;
    void refuse(const QString &name, const QString &reason);
    void transferEnded(const QString &problem);
    void becomeIdle();
    QString who() const;

    Connection &m_connection;
    HandoutCatalog &m_catalog;
    HandoutCatalog &m_returns;
    bool m_awaitingListing = false;
    HandoutSender *m_sender = nullptr;
    bool m_sendingReturn = false;
    QStringList m_deferred;
    bool m_served = false;
};
