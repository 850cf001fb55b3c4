#include "server/net/handoutdesk.h"

#include "platform/socket.h"
#include "server/folders/handoutcatalog.h"
#include "server/net/connection.h"
#include "server/net/handoutsender.h"

namespace {

// A name asked for is logged this far: it is whatever the client sent.
constexpr qsizetype LoggedNameChars = 200;

} // namespace

HandoutDesk::HandoutDesk(Connection &connection, HandoutCatalog &catalog)
    : QObject(&connection), m_connection(connection), m_catalog(catalog)
{}

void HandoutDesk::request(wire::Command command, QStringView body)
{
    m_served = true;
    if (command == wire::Command::List)
        list();
    else if (command == wire::Command::Get)
        get(wire::getNameOf(body));
}

void HandoutDesk::sendLine(const QString &line)
{
    m_connection.socket().sendData(line + wire::Eol);
}

void HandoutDesk::list()
{
    m_awaitingListing = true;
    m_catalog.list(this, [this](const HandoutCatalog::Listing &listing) {
        // One write, encoded once for every student.
        m_connection.socket().sendData(listing.reply);
        becomeIdle();
    });
}

void HandoutDesk::get(const QString &name)
{
    // Every delivery is journaled: a client asking again and again spends
    // its share of the records like one that uploads.
    if (!m_connection.hasRoomForRecord()) {
        refuse(name, QStringLiteral("記録の上限に達しました｡1分ほど待ってから受け取ってください｡"));
        return;
    }
    const Result<Handout> handout = m_catalog.find(name);
    if (!handout) {
        refuse(name, handout.error());
        return;
    }
    auto *sender = new HandoutSender(m_connection.socket(), *handout, this);
    if (const Result<> opened = sender->open(); !opened) {
        delete sender;
        refuse(name, opened.error());
        return;
    }
    m_sender = sender;
    connect(sender, &HandoutSender::finished, this, &HandoutDesk::transferEnded);
    sender->start();
}

void HandoutDesk::refuse(const QString &name, const QString &reason)
{
    sendLine(wire::refusalLine(reason));
    Q_EMIT logEntry(QStringLiteral("接続番号:%1 配布物 %2 を送れません: %3")
                        .arg(m_connection.number())
                        .arg(name.left(LoggedNameChars), reason) +
                    wire::Eol);
    Q_EMIT idle();
}

void HandoutDesk::transferEnded(const QString &problem)
{
    const Handout handout = m_sender->handout();
    m_sender->deleteLater();
    m_sender = nullptr;
    if (!problem.isEmpty()) {
        Q_EMIT logEntry(QStringLiteral("接続番号:%1 配布物 %2 の送信を打ち切りました: %3")
                            .arg(m_connection.number())
                            .arg(handout.name, problem) +
                        wire::Eol);
        // A changed file was sent to its announced end with bytes that fail
        // its check: the connection goes on. A stalled one has bytes owed.
        if (problem == HandoutSender::ChangedWhileSent)
            becomeIdle();
        else
            m_connection.close();
        return;
    }
    Q_EMIT logEntry(QStringLiteral("接続:%1 配布完了 %2 SHA-256:%3")
                        .arg(m_connection.number())
                        .arg(handout.name, QLatin1StringView(handout.sha256.first(16))) +
                    wire::Eol);
    m_connection.chargeRecord();
    m_connection.desk().deliver(who(), handout.name, handout.sha256);
    m_catalog.reportDelivery(who(), handout);
    becomeIdle();
}

void HandoutDesk::becomeIdle()
{
    m_awaitingListing = false;
    for (const QString &line : std::exchange(m_deferred, {}))
        sendLine(line);
    Q_EMIT idle();
}

QString HandoutDesk::who() const
{
    const QString &userId = m_connection.userId();
    return userId.isEmpty() ? m_connection.socket().remoteHostIP() : userId;
}
