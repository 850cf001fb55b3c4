#include "server/net/handoutdesk.h"

#include "common/cp932.h"
#include "platform/socket.h"
#include "server/folders/handoutcatalog.h"
#include "server/net/connection.h"
#include "server/net/handoutsender.h"

#include <algorithm>

namespace {

// A name asked for is logged this far: it is whatever the client sent.
constexpr qsizetype LoggedNameChars = 200;

} // namespace

HandoutDesk::HandoutDesk(Connection &connection, HandoutCatalog &catalog, HandoutCatalog &returns)
    : QObject(&connection), m_connection(connection), m_catalog(catalog), m_returns(returns)
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
    m_catalog.list(this, [this](const HandoutCatalog::Listing &handouts) {
        // Before attendance nothing is anybody's to return.
        if (m_connection.userId().isEmpty() || !handouts.refusal.isEmpty()) {
            answerListing(handouts.reply);
            return;
        }
        m_returns.list(this, [this, handouts](const HandoutCatalog::Listing &returns) {
            answerListing(withOwnReturns(handouts, returns));
        });
    });
}

void HandoutDesk::answerListing(const QByteArray &reply)
{
    // One write: a student's program reads the listing as it comes.
    m_connection.socket().sendData(reply);
    becomeIdle();
}

// The handouts, then the student's own returns: the lines as encoded once,
// under one count. A return whose name a handout has (as a disk that ignores
// case sees it) is left out: the student's program would take the two for one.
QByteArray HandoutDesk::withOwnReturns(const HandoutCatalog::Listing &handouts,
                                       const HandoutCatalog::Listing &returns) const
{
    const QString &id = m_connection.userId();
    const QList<Handout> &files = returns.handouts;
    // In name order, the names that begin with the ID stand together.
    auto file = std::lower_bound(files.cbegin(), files.cend(), id,
                                 [](const Handout &a, const QString &b) { return a.name < b; });
    QByteArray own;
    qsizetype count = handouts.handouts.size();
    for (; file != files.cend() && file->name.startsWith(id); ++file) {
        if (m_connection.desk().returnOwner(file->name) != id ||
            handouts.folded.contains(file->name.toCaseFolded()))
            continue;
        own += returns.lines[file - files.cbegin()];
        ++count;
    }
    if (own.isEmpty())
        return handouts.reply;
    return cp932::encode(wire::handoutListLine(count) + wire::Eol) + handouts.entries + own;
}

// A handout, or a file of the returns folder to the student it is for.
Result<Handout> HandoutDesk::find(const QString &name, bool &returned) const
{
    const Result<Handout> handout = m_catalog.find(name);
    if (handout)
        return handout;
    const Result<Handout> file = m_returns.find(name);
    const QString owner = m_connection.desk().returnOwner(name);
    const QString &id = m_connection.userId();
    // What is nobody's, or not there and not the student's, is no return.
    if (owner.isEmpty() || (!file && owner != id))
        return handout;
    if (id.isEmpty())
        return Result<Handout>::failure(QStringLiteral("出席を登録してから受け取ってください｡"));
    if (owner != id)
        return Result<Handout>::failure(QStringLiteral("ほかの学生の返却物は受け取れません｡"));
    returned = file.ok();
    return file; // or why the student's own cannot be had
}

void HandoutDesk::get(const QString &name)
{
    // Every delivery is journaled: a client asking again and again spends
    // its share of the records like one that uploads.
    if (!m_connection.hasRoomForRecord()) {
        refuse(name, QStringLiteral("記録の上限に達しました｡1分ほど待ってから受け取ってください｡"));
        return;
    }
    bool returned = false;
    const Result<Handout> handout = find(name, returned);
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
    m_sendingReturn = returned;
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
        Q_EMIT logEntry(
            QStringLiteral("接続番号:%1 %2 %3 の送信を打ち切りました: %4")
                .arg(m_connection.number())
                .arg(m_sendingReturn ? QStringLiteral("返却物") : QStringLiteral("配布物"),
                     handout.name, problem) +
            wire::Eol);
        // A changed file was sent to its announced end with bytes that fail
        // its check: the connection goes on. A stalled one has bytes owed.
        if (problem == HandoutSender::ChangedWhileSent)
            becomeIdle();
        else
            m_connection.close();
        return;
    }
    Q_EMIT logEntry(
        QStringLiteral("接続:%1 %2 %3 SHA-256:%4")
            .arg(m_connection.number())
            .arg(m_sendingReturn ? QStringLiteral("返却完了") : QStringLiteral("配布完了"),
                 handout.name, QLatin1StringView(handout.sha256.first(16))) +
        wire::Eol);
    m_connection.chargeRecord();
    if (m_sendingReturn) {
        m_connection.desk().deliverReturn(m_connection.userId(), handout.name, handout.sha256);
        m_returns.reportDelivery(m_connection.userId(), handout);
    } else {
        m_connection.desk().deliver(who(), handout.name, handout.sha256);
        m_catalog.reportDelivery(who(), handout);
    }
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
