#include "server/net/connection.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "platform/socket.h"
#include "server/lecture/attendancebook.h"
#include "server/lecture/lecture.h"
#include "server/lecture/uploadgate.h"
#include "server/net/handoutdesk.h"
#include "server/net/recordbudget.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <utility>

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

Connection::Connection(qint64 number, Socket *socket, const Lecture &lecture, AttendanceBook &book,
                       QObject *parent)
    : QObject(parent), m_number(number), m_socket(socket), m_lecture(lecture), m_book(book)
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

void Connection::offerHandouts(HandoutCatalog &catalog)
{
    m_handouts = new HandoutDesk(*this, catalog);
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
        m_taken = m_searched = 0;
    } else {
        dropTaken();
        m_received += bytes;
    }
    interpretReceived();
}

void Connection::deskIdle()
{
    m_awaitingDesk = false;
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
            m_searched = m_taken;
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
        QByteArrayView line;
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
        m_taken = m_searched = 0;
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

bool Connection::takeLine(QByteArrayView &line)
{
    // Only bytes not looked at yet are searched. A line without its end is
    // kept up to MaxLineBytes; past that it is dropped up to its end and
    // logged once.
    for (;;) {
        const qsizetype lf = m_received.indexOf('\n', m_searched);
        if (lf < 0) {
            m_searched = m_received.size();
            if (!m_skippingLongLine && m_searched - m_taken <= wire::MaxLineBytes)
                return false;
            if (!std::exchange(m_skippingLongLine, true))
                logLongLine();
            m_taken = m_searched;
            return false;
        }
        const qsizetype start = m_taken;
        m_taken = m_searched = lf + 1;
        if (std::exchange(m_skippingLongLine, false))
            continue;
        if (lf - start > wire::MaxLineBytes) {
            logLongLine();
            continue;
        }
        line = QByteArrayView(m_received).sliced(start, lf + 1 - start);
        return true;
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
    m_searched -= m_taken;
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
    const AttendanceBook::Attendance attendance =
        m_book.markPresent(userId, m_socket->remoteHostIP());
    // Only an ID the roster took may hand in files on this connection.
    m_userId = attendance == AttendanceBook::Attendance::Unknown ? QString() : userId;
    switch (attendance) {
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

void Connection::startUpload(const QString &body, const std::optional<wire::PutRequest> &request)
{
    // A client that has written its share of the records for this minute
    // gets no receipt it could not be given.
    if (m_budget && !m_budget->hasRoomFor(ReceiptBytes)) {
        refusePut(body, QStringLiteral("記録の上限に達しました｡1分ほど待ってから送ってください｡"),
                  QStringLiteral("1分間に書ける記録の量を超えました"));
        return;
    }
    if (!request) {
        refusePut(body, QStringLiteral("putコマンドの形式が正しくありません｡"));
        return;
    }
    if (!wire::isSafeFileName(request->fileName)) {
        refusePut(body, QStringLiteral("このファイル名では保存できません｡"));
        return;
    }
    if (const std::optional<PutRefusal> refusal =
            ownershipRefusal(m_book, m_userId, request->fileName)) {
        refusePut(body, refusal->forStudent, refusal->detail);
        return;
    }
    // The folder shown now receives the whole file, whatever is chosen later.
    const QString folder = m_lecture.kadaidir();
    // A folder of that name would only refuse the finished file.
    if (QFileInfo(folder + u'/' + request->fileName).isDir()) {
        refusePut(body, QStringLiteral("同じ名前のフォルダがあるため保存できません｡"),
                  QStringLiteral("同じ名前のフォルダがあります"));
        return;
    }
    if (const std::optional<PutRefusal> refusal = refusalBeforeUpload(
            m_lecture.deadline(), Clock::now(), folder, request->fileName, m_keptVersions)) {
        refusePut(body, refusal->forStudent, refusal->detail);
        if (refusal->journaled) {
            m_book.recordRefusal(m_userId, request->fileName, refusal->forStudent);
            // A refusal is a record too: a client repeating put lines after
            // the cut-off spends its share like one that uploads.
            if (m_budget)
                m_budget->charge(ReceiptBytes);
        }
        return;
    }
    auto upload = std::make_unique<Upload>();
    upload->file.setKeptVersions(m_keptVersions);
    if (m_hashes)
        upload->file.setHashCache(m_hashes);
    upload->lecture = m_lecture.kougimei();
    if (const Result<> opened = upload->file.open(folder, request->fileName); !opened) {
        refusePut(body,
                  folder.isEmpty() ? QStringLiteral("課題提出先が設定されていません｡")
                                   : QStringLiteral("課題ファイルを保存できません｡"),
                  opened.error());
        return;
    }
    m_upload = std::move(upload);
    m_upload->fileName = request->fileName;
    m_upload->expected = request->size;
    m_upload->folder = folder;
    m_upload->deadline = m_lecture.deadline();
    if (m_upload->expected == 0) {
        completeUpload();
        return;
    }
    armUploadTimer();
    send(wire::ImageModeOk);
    log(QStringLiteral("接続Index:%1 イメージモード").arg(m_number));
}

void Connection::armUploadTimer()
{
    if (!m_uploadIdle) {
        m_uploadIdle = new QTimer(this);
        m_uploadIdle->setSingleShot(true);
        connect(m_uploadIdle, &QTimer::timeout, this, [this] {
            if (m_upload)
                endUpload(uploadlimits::stalledEnd());
        });
    }
    m_uploadIdle->start(uploadlimits::idleMs());
}

// A deadline changed during the upload counts if the folder is the same.
const AssignmentDeadline &Connection::deadlineOf(const Upload &upload) const
{
    return upload.folder == m_lecture.kadaidir() ? m_lecture.deadline() : upload.deadline;
}

// Nothing is stored and the earlier file stays; the bytes still on their
// way cannot be told from lines any more, so the connection ends too.
void Connection::endUpload(const PutRefusal &why)
{
    const std::unique_ptr<Upload> ended = std::move(m_upload);
    log(QStringLiteral("接続番号:%1 %2ため %3 の受信を打ち切りました(%4/%5バイト)｡")
            .arg(m_number)
            .arg(why.detail, ended->fileName)
            .arg(ended->received)
            .arg(ended->expected));
    send(wire::refusalLine(why.forStudent));
    close();
}

qsizetype Connection::receiveUpload(QByteArrayView data)
{
    if (uploadlimits::overdue(deadlineOf(*m_upload), Clock::now())) {
        endUpload(uploadlimits::overdueEnd());
        return data.size();
    }
    m_uploadIdle->start();
    const qint64 missing = m_upload->expected - m_upload->received;
    const QByteArrayView part = data.first(qsizetype(qMin<qint64>(missing, data.size())));
    if (const Result<> written = m_upload->file.write(part); !written) {
        storageFailed(written.error());
        return part.size();
    }
    m_upload->received += part.size();
    if (m_upload->received == m_upload->expected)
        completeUpload();
    return part.size();
}

void Connection::completeUpload()
{
    if (const Result<> committed = m_upload->file.commit(); !committed) {
        if (!m_upload->file.historyFailed()) {
            storageFailed(committed.error());
            return;
        }
        // The earlier version stays where it is; the student may try again.
        const std::unique_ptr<Upload> refused = std::move(m_upload);
        log(QStringLiteral("接続番号:%1 以前の版を残せないため %2 を受け取りませんでした: %3")
                .arg(m_number)
                .arg(refused->fileName, committed.error()));
        send(wire::refusalLine(QStringLiteral(
            "以前の提出を保存できないため受け取れませんでした｡講師に連絡してください｡")));
        return;
    }
    const std::unique_ptr<Upload> upload = std::move(m_upload);
    if (m_budget)
        m_budget->charge(ReceiptBytes);
    const QByteArray sha256 = upload->file.sha256();
    log(QStringLiteral("接続:%1 受信完了").arg(m_number));
    // The receipt's beginning, to compare with the student's sha256sum.
    log(QStringLiteral("接続:%1 SHA-256:%2")
            .arg(m_number)
            .arg(QLatin1StringView(sha256.first(16))));
    AttendanceBook::Submission submission;
    submission.userId = m_userId;
    submission.fileName = upload->fileName;
    submission.size = upload->expected;
    submission.sha256 = sha256;
    submission.completedAt = Clock::now();
    const AssignmentDeadline &deadline = deadlineOf(*upload);
    submission.lateSeconds = deadline.lateSeconds(submission.completedAt);
    submission.versions = upload->file.versions();
    submission.folder = upload->folder;
    if (submission.lateSeconds > 0)
        log(QStringLiteral("接続:%1 %2 の提出です (%3)")
                .arg(m_number)
                .arg(lateText(submission.lateSeconds), upload->fileName));
    if (upload->lecture != m_lecture.kougimei()) {
        submission.earlierLecture = upload->lecture;
        log(QStringLiteral("接続:%1 の課題ファイルは講義「%2」の提出先 %3 に保存しました｡"
                           "その後に名簿が替わったため、表には記入していません｡")
                .arg(m_number)
                .arg(upload->lecture)
                .arg(QDir::toNativeSeparators(upload->file.targetPath())));
    }
    m_book.recordSubmission(submission);
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
    if (m_waiting)
        interpretReceived();
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
