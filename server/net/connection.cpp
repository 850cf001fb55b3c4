#include "server/net/connection.h"

#include "common/cp932.h"
#include "platform/socket.h"
#include "server/net/handoutdesk.h"
#include "server/roster/attendancebook.h"
#include "server/roster/lecture.h"

#include <QFileInfo>
#include <utility>

namespace {

// A log entry shows this much of a line; the rest is only counted.
constexpr qsizetype LoggedLineChars = 1024;
// Replies a client may leave unread before its input waits in the kernel.
constexpr qint64 MaxUnsentReplyBytes = 64 * 1024;
// Lines interpreted at one go before the other connections get their turn:
// a client that floods the server must not hold up the class.
constexpr int LinesPerTurn = 64;

} // namespace

Connection::Connection(qint64 number, Socket *socket, const Lecture &lecture, AttendanceBook &book,
                       QObject *parent)
    : QObject(parent), m_number(number), m_socket(socket), m_lecture(lecture), m_book(book)
{
    m_socket->setParent(this);
    // Replies are short. Without a cap the kernel would hold megabytes of
    // them for a client that does not read, and the server would go on
    // interpreting its lines long after our own cap stopped it.
    m_socket->setKernelSendBuffer(int(MaxUnsentReplyBytes));
    connect(m_socket, &Socket::dataArrival, this, &Connection::tcpServer_DataArrival);
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

void Connection::offerHandouts(HandoutCatalog &catalog)
{
    m_handouts = new HandoutDesk(*this, catalog);
    connect(m_handouts, &HandoutDesk::logEntry, this, &Connection::logEntry);
    connect(m_handouts, &HandoutDesk::idle, this, &Connection::takeTurn, Qt::QueuedConnection);
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

void Connection::tcpServer_DataArrival()
{
    // After a pause, what was held comes first.
    QByteArray data = std::exchange(m_held, QByteArray());
    data += m_socket->getData();
    receive(data);
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

void Connection::hold(QByteArrayView data)
{
    m_held = data.toByteArray();
    m_socket->setReadingPaused(true);
}

void Connection::takeTurn()
{
    if (m_held.isEmpty() || m_finished || repliesPiledUp())
        return;
    const QByteArray held = std::exchange(m_held, QByteArray());
    receive(held);
    if (m_held.isEmpty() && !m_finished)
        m_socket->setReadingPaused(false);
}

void Connection::receive(QByteArrayView data)
{
    int lines = 0;
    while (!data.isEmpty() && !m_finished) {
        if (m_upload) {
            receiveUpload(data);
            continue;
        }
        // Lines wait while a listing is awaited or a handout goes out.
        if (m_handouts && m_handouts->busy()) {
            hold(data);
            return;
        }
        // A client that sends without reading gets no more answers queued
        // than this; the rest of its input waits.
        if (repliesPiledUp()) {
            hold(data);
            return;
        }
        if (lines == LinesPerTurn && !m_draining) {
            hold(data);
            QMetaObject::invokeMethod(this, &Connection::takeTurn, Qt::QueuedConnection);
            return;
        }
        QByteArray line;
        switch (m_framer.take(data, line)) {
        case wire::LineFramer::Status::Line:
            interpret(line);
            ++lines;
            break;
        case wire::LineFramer::Status::Overflow:
            log(QStringLiteral("接続番号:%1 改行のないデータが64KiBを超えたため破棄しました｡")
                    .arg(m_number));
            break;
        case wire::LineFramer::Status::Incomplete:
            break;
        }
    }
}

void Connection::interpret(const QByteArray &line)
{
    const QString text = cp932::decode(line);
    logLine(text, line.size());
    const QStringView body = wire::lineBody(text);
    const wire::Command command = wire::commandOf(body);
    switch (command) {
    case wire::Command::Close:
        close();
        return;
    case wire::Command::Put:
        startUpload(body.toString());
        return;
    case wire::Command::User:
        recordAttendance(body.toString());
        return;
    case wire::Command::List:
    case wire::Command::Get:
        if (m_handouts)
            m_handouts->request(command, body);
        return;
    case wire::Command::None:
        return;
    }
}

void Connection::logLine(const QString &line, qsizetype bytes)
{
    // A line is shown as it came, line end included; a very long one only
    // in part, so that one client cannot fill the log with a single line.
    if (line.size() <= LoggedLineChars) {
        Q_EMIT logEntry(line);
        return;
    }
    log(line.first(LoggedLineChars) + QStringLiteral("…(全%1バイト)").arg(bytes));
}

void Connection::recordAttendance(const QString &body)
{
    m_userId = wire::userIdOf(body);
    switch (m_book.markPresent(m_userId, m_socket->remoteHostIP())) {
    case AttendanceBook::Attendance::Taken:
        send(wire::AttendanceTaken);
        return;
    case AttendanceBook::Attendance::Already:
        send(wire::AttendanceAlready);
        return;
    case AttendanceBook::Attendance::Unknown:
        send(wire::BadUserId);
        return;
    }
}

void Connection::refusePut(const QString &body, const QString &reason)
{
    QString entry =
        QStringLiteral("接続番号:%1 受け付けられないputコマンドです: %2").arg(m_number).arg(body);
    if (!reason.isEmpty())
        entry += QStringLiteral(" (%1)").arg(reason);
    log(entry);
}

void Connection::startUpload(const QString &body)
{
    const std::optional<wire::PutRequest> request = wire::parsePutLine(body);
    if (!request || !wire::isSafeFileName(request->fileName)) {
        refusePut(body);
        return;
    }
    // The folder shown now receives the whole file, whatever is chosen later.
    const QString folder = m_lecture.kadaidir();
    // A folder of that name would only refuse the finished file.
    if (QFileInfo(folder + u'/' + request->fileName).isDir()) {
        refusePut(body, QStringLiteral("同じ名前のフォルダがあります"));
        return;
    }
    auto upload = std::make_unique<Upload>();
    if (const Result<> opened = upload->file.open(folder, request->fileName); !opened) {
        refusePut(body, opened.error());
        return;
    }
    m_upload = std::move(upload);
    m_upload->fileName = request->fileName;
    m_upload->expected = request->size;
    if (m_upload->expected == 0) {
        completeUpload();
        return;
    }
    send(wire::ImageModeOk);
    log(QStringLiteral("接続Index:%1 イメージモード").arg(m_number));
}

void Connection::receiveUpload(QByteArrayView &data)
{
    const qint64 missing = m_upload->expected - m_upload->received;
    const QByteArrayView part = data.first(qsizetype(qMin<qint64>(missing, data.size())));
    data = data.sliced(part.size());
    if (const Result<> written = m_upload->file.write(part); !written) {
        storageFailed(written.error());
        return;
    }
    m_upload->received += part.size();
    if (m_upload->received == m_upload->expected)
        completeUpload();
}

void Connection::completeUpload()
{
    if (const Result<> committed = m_upload->file.commit(); !committed) {
        storageFailed(committed.error());
        return;
    }
    const std::unique_ptr<Upload> upload = std::move(m_upload);
    const QByteArray sha256 = upload->file.sha256();
    log(QStringLiteral("接続:%1 受信完了").arg(m_number));
    // The receipt's beginning, to compare with the student's sha256sum.
    log(QStringLiteral("接続:%1 SHA-256:%2")
            .arg(m_number)
            .arg(QLatin1StringView(sha256.first(16))));
    m_book.recordSubmission({m_userId, upload->fileName, upload->expected, sha256});
    send(wire::ReceiveComplete);
}

void Connection::storageFailed(const QString &reason)
{
    log(QStringLiteral("接続番号:%1 課題ファイルを保存できません: %2").arg(m_number).arg(reason));
    close();
}

void Connection::tcpServer_Close()
{
    // Input held back while replies piled up is still the client's.
    m_draining = true;
    if (!m_held.isEmpty())
        receive(std::exchange(m_held, QByteArray()));
    if (m_finished)
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
