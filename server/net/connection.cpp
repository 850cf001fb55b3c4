#include "server/net/connection.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "platform/socket.h"
#include "server/net/handoutdesk.h"
#include "server/net/recordbudget.h"

namespace {

// A log entry shows this much of a line; the rest is only counted.
constexpr qsizetype LoggedLineChars = 1024;
// Replies a client may leave unread before its input waits in the kernel.
constexpr qint64 MaxUnsentReplyBytes = 64 * 1024;
// Lines interpreted at one go before the other connections get their turn:
// a client that floods the server must not hold up the class.
constexpr int LinesPerTurn = 64;
// What the receipt of an upload may add to the journal and the log, at most:
// a bounded user ID, a file name as long as the host allows, a hash.
constexpr qint64 ReceiptBytes = 1024;

// A client's text as the log shows it: control characters as visible marks,
// so that no line of a client can pass for an entry of the server's own.
QString visible(QStringView text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\r')
            shown += QStringLiteral("<CR>");
        else if (c == u'\n')
            shown += QStringLiteral("<LF>");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            shown += QStringLiteral("<%1>").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            shown += c;
    }
    return shown;
}

} // namespace

Connection::Connection(qint64 number, Socket *socket, ClassDesk &desk, QObject *parent)
    : QObject(parent), m_number(number), m_socket(socket), m_desk(desk)
{
    m_socket->setParent(this);
    // Replies are short. Without a cap the kernel would hold megabytes of
    // them for a client that does not read, and the server would go on
    // interpreting its lines long after our own cap stopped it.
    m_socket->setKernelSendBuffer(int(MaxUnsentReplyBytes));
    connect(m_socket, &Socket::received, this, &Connection::receive);
    connect(m_socket, &Socket::closed, this, &Connection::tcpServer_Close);
    connect(m_socket, &Socket::error, this, &Connection::tcpServer_Error);
    connect(m_socket, &Socket::sendProgress, this, &Connection::resumeWhenDrained);
}

// An unfinished upload leaves no trace: the temporary file goes with it.
Connection::~Connection() = default;

void Connection::send(const QString &line)
{
    if (m_handouts && m_handouts->sending()) {
        m_handouts->deferLine(line);
        return;
    }
    m_socket->sendData(line + wire::Eol);
}

void Connection::offerHandouts(HandoutCatalog &catalog, HandoutCatalog &returns)
{
    m_handouts = new HandoutDesk(*this, catalog, returns);
    connect(m_handouts, &HandoutDesk::logEntry, this, &Connection::logEntry);
    connect(m_handouts, &HandoutDesk::idle, this, &Connection::deskIdle, Qt::QueuedConnection);
}

bool Connection::hasRoomForRecord()
{
    return !m_budget || m_budget->hasRoomFor(ReceiptBytes);
}

void Connection::chargeRecord()
{
    if (m_budget)
        m_budget->charge(ReceiptBytes);
}

void Connection::log(const QString &entry)
{
    Q_EMIT logEntry(entry + wire::Eol);
}

void Connection::close()
{
    if (m_finished)
        return;
    m_finished = true;
    m_upload.reset();
    m_socket->disconnect(this);
    m_socket->close();
    Q_EMIT finished(m_number);
}

bool Connection::repliesPiledUp()
{
    return m_socket->bytesToSend() > MaxUnsentReplyBytes;
}

void Connection::resumeWhenDrained()
{
    // Half the cap drained before going on: not one line per reply sent.
    if (m_socket->bytesToSend() <= MaxUnsentReplyBytes / 2)
        takeTurn();
}

void Connection::receive(const QByteArray &bytes)
{
    if (m_finished)
        return;
    if (m_taken == m_received.size()) {
        m_received = bytes; // shared with the socket's event, not copied
        m_taken = 0;
    } else {
        dropTaken();
        m_received += bytes;
    }
    interpretReceived();
}

void Connection::deskIdle()
{
    m_awaitingDesk = false;
    if (m_draining)
        tcpServer_Close();
    else
        takeTurn();
}

void Connection::takeTurn()
{
    // After a handout request only the desk's idle gives the next turn:
    // replies draining as well would let one connection take two.
    if (!m_waiting || m_finished || m_awaitingDesk || repliesPiledUp())
        return;
    interpretReceived();
    if (!m_waiting && !m_finished)
        m_socket->setReadingPaused(false);
}

void Connection::interpretReceived()
{
    m_waiting = false;
    int lines = 0;
    while (m_taken < m_received.size() && !m_finished) {
        if (m_upload) {
            m_taken += receiveUpload(QByteArrayView(m_received).sliced(m_taken));
            continue;
        }
        // Lines wait while a listing is awaited or a handout goes out.
        if (m_handouts && m_handouts->busy()) {
            waitForTurn(false);
            return;
        }
        // A client that sends without reading gets no more answers queued
        // than this; the rest of its input waits.
        if (repliesPiledUp()) {
            waitForTurn(false);
            return;
        }
        if (lines == LinesPerTurn && !m_draining) {
            waitForTurn(true);
            return;
        }
        QByteArray line;
        if (!takeLine(line))
            break;
        interpret(line);
        ++lines;
        // A listing or a handout is a turn of its own; the desk's idle
        // signal brings the next.
        if (m_handouts && m_handouts->takeServed() && !m_draining) {
            m_awaitingDesk = true;
            waitForTurn(false);
            return;
        }
    }
    if (m_taken == m_received.size()) {
        m_received.clear();
        m_taken = 0;
    }
}

void Connection::waitForTurn(bool queued)
{
    // The rest stays in m_received; the sender waits in the kernel.
    m_waiting = true;
    m_socket->setReadingPaused(true);
    if (queued)
        QMetaObject::invokeMethod(this, &Connection::takeTurn, Qt::QueuedConnection);
}

bool Connection::takeLine(QByteArray &line)
{
    // A line without its end is kept by the framer up to MaxLineBytes; past
    // that it is dropped up to its end and logged once.
    for (;;) {
        QByteArrayView rest = QByteArrayView(m_received).sliced(m_taken);
        const wire::LineFramer::Status status = m_lines.take(rest, line);
        m_taken = m_received.size() - rest.size();
        if (status != wire::LineFramer::Status::Overflow)
            return status == wire::LineFramer::Status::Line;
        logLongLine();
    }
}

void Connection::logLongLine()
{
    log(QStringLiteral("接続番号:%1 改行のないデータが64KiBを超えたため破棄しました｡")
            .arg(m_number));
}

void Connection::dropTaken()
{
    m_received.remove(0, m_taken);
    m_taken = 0;
}

void Connection::interpret(QByteArrayView line)
{
    const wire::Request request = wire::parseRequest(line);
    logLine(request.text, line.size());
    switch (request.command) {
    case wire::Command::Close:
        close();
        return;
    case wire::Command::Put:
        startUpload(request.body, request.put);
        return;
    case wire::Command::User:
        recordAttendance(request.userId);
        return;
    case wire::Command::Hash:
        send(m_desk.receiptReply(m_userId, request.fileName));
        return;
    case wire::Command::List:
    case wire::Command::Get:
        if (m_handouts)
            m_handouts->request(request.command, request.body);
        return;
    case wire::Command::None:
        return;
    }
}

void Connection::logLine(const QString &line, qsizetype bytes)
{
    // A line is shown as it came, up to its line end; a very long one only
    // in part, so that one client cannot fill the log with a single line.
    QStringView text = line;
    if (text.endsWith(u'\n'))
        text.chop(text.endsWith(QStringLiteral("\r\n")) ? 2 : 1);
    const QString shown = visible(text.first(qMin(text.size(), LoggedLineChars)));
    if (shown.size() <= LoggedLineChars && text.size() <= LoggedLineChars) {
        log(shown);
        return;
    }
    log(shown.first(LoggedLineChars) + QStringLiteral("…(全%1バイト)").arg(bytes));
}

void Connection::recordAttendance(const QString &userId)
{
    const ClassDesk::Attended attended =
        m_desk.attend(userId, m_socket->remoteHostIP(), hasRoomForRecord());
    if (attended.recorded)
        chargeRecord();
    // Only an ID the roster took may hand in files on this connection.
    m_userId = attended.accepted ? userId : QString();
    send(attended.reply);
}

void Connection::refusePut(const QString &body, const QString &forStudent, const QString &detail)
{
    QString entry = QStringLiteral("接続番号:%1 受け付けられないputコマンドです: %2")
                        .arg(m_number)
                        .arg(visible(QStringView(body).first(qMin(body.size(), LoggedLineChars))));
    if (!detail.isEmpty())
        entry += QStringLiteral(" (%1)").arg(detail);
    log(entry);
    send(wire::refusalLine(forStudent));
}

void Connection::tcpServer_Close()
{
    // Input held back while replies piled up is still the client's.
    m_draining = true;
    if (m_waiting)
        interpretReceived();
    // A peer that only shut its side still gets the listing or handout it
    // asked for; the desk's idle brings us back here.
    if (m_finished || (m_handouts && m_handouts->busy()))
        return;
    log(QStringLiteral("接続番号:%1 と切断しました｡").arg(m_number));
    close();
}

void Connection::tcpServer_Error(int errorNumber, const QString &description)
{
    log(QStringLiteral("接続番号:%1 で以下のエラーが起きました").arg(m_number) + wire::Eol +
        QStringLiteral("エラー番号:%1->").arg(errorNumber) + description);
    // A connection the error has ended cannot close by itself any more.
    const Socket::State state = m_socket->state();
    if (state == Socket::StateError || state == Socket::StateClosed)
        close();
}
