#include "client/studentclient.h"

#include "client/fileupload.h"
#include "client/handoutfetch.h"
#include "common/clock.h"
#include "common/cp932.h"
#include "common/sha256.h"
#include "platform/dialogs.h"
#include "platform/socket.h"

namespace {

using State = Conversation::State;

const QString AllFiles = QStringLiteral("すべてのファイル (*)|*");
const QString WaitingForAnswer = QStringLiteral("サーバの応答待ち");
const QString NotHandedIn = QStringLiteral("提出は済んでいません");
const QString NotConfirmed = QStringLiteral("出席は確認されていません");

// A file is read in pieces of this size, and at most this many bytes of it
// wait in the socket at any time.
constexpr qint64 UploadPiece = 256 * 1024;
constexpr qint64 UploadInFlight = 1024 * 1024;

QString stamped(const QString &what)
{
    return what + QStringLiteral(" (") + Clock::timeOfDay().toString(QStringLiteral("hh:mm:ss")) +
           u')';
}

// "3.1 MB" or "512.0 KB", in the unit that suits `total`.
QString amount(qint64 bytes, qint64 total)
{
    const bool mega = total >= 1000 * 1000;
    const double value = double(bytes) / (mega ? 1e6 : 1e3);
    return QString::number(value, 'f', 1) + (mega ? QStringLiteral(" MB") : QStringLiteral(" KB"));
}

} // namespace

StudentClient::StudentClient(QString userName, QString serverAddress, QString serverPort,
                             MessageBox &messages, FileDialogs &dialogs, QObject *parent)
    : QObject(parent), m_userName(std::move(userName)), m_serverAddress(std::move(serverAddress)),
      m_serverPort(std::move(serverPort)), m_messages(messages), m_dialogs(dialogs),
      m_socket(new Socket(this)),
      m_handouts(new HandoutFetch(
          messages, [this](const QString &line) { sendGet(line); }, this))
{
    connect(m_socket, &Socket::connected, this, &StudentClient::WIRELANE_Connect);
    connect(m_socket, &Socket::received, this, &StudentClient::WIRELANE_DataArrival);
    connect(m_socket, &Socket::error, this, &StudentClient::WIRELANE_Error);
    connect(m_socket, &Socket::sendProgress, this, &StudentClient::WIRELANE_SendProgress);
    connect(m_socket, &Socket::sendComplete, this, &StudentClient::WIRELANE_SendComplete);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &StudentClient::timeLimitPassed);
    connect(&m_poll, &QTimer::timeout, this, &StudentClient::Timer_Timer);
    connect(m_handouts, &HandoutFetch::statusChanged, this, &StudentClient::setStatus);
    connect(m_handouts, &HandoutFetch::activeChanged, this, &StudentClient::handoutsActiveChanged);
}

StudentClient::~StudentClient()
{
    m_socket->close();
}

Result<> StudentClient::connectToServer()
{
    m_talk.connecting();
    m_socket->setLocalPort(0);
    if (const Result<> connecting = m_socket->connectToHost(m_serverAddress, m_serverPort);
        !connecting) {
        m_talk.end();
        return Result<>::failure(QString::number(m_socket->errorNumber()) + u' ' +
                                 connecting.error());
    }
    return Result<>::success();
}

Result<> StudentClient::start()
{
    if (const Result<> connecting = connectToServer(); !connecting)
        return Result<>::failure(connecting.error() + QStringLiteral("\r\nプログラムを終了します"));
    m_poll.start(500);
    return Result<>::success();
}

void StudentClient::WIRELANE_Connect()
{
    ++m_connectionSerial;
    m_talk.connected();
    refreshButtons();
}

void StudentClient::SYUKKETUBTN_Click()
{
    if (m_socket->state() != Socket::StateConnected || m_talk.state() != State::Connected)
        return;
    if (const Result<> name = checkAttendanceName(m_userName); !name) {
        m_messages.show(name.error());
        return;
    }
    m_talk.startAttendance();
    sendLine(wire::userLine(m_userName));
    setStatus(WaitingForAnswer);
    armDeadline();
    refreshButtons();
}

void StudentClient::WIRELANE_DataArrival(const QByteArray &arrived)
{
    QByteArrayView rest(arrived);
    // Every complete reply is judged once, in order; a reply still on its
    // way waits for its line end, and one that never ends is dropped. The
    // lines a 401 announced and the bytes after a 402 are the fetch's.
    QByteArray line;
    const quint64 serial = m_connectionSerial;
    while (serial == m_connectionSerial) {
        if (m_talk.state() == State::Receiving && m_handouts->wantsBytes()) {
            if (rest.isEmpty())
                return;
            m_handouts->takeBytes(rest);
            continue;
        }
        const wire::LineFramer::Status status = m_replies.take(rest, line);
        if (status == wire::LineFramer::Status::Incomplete)
            return;
        if (status == wire::LineFramer::Status::Overflow) {
            if (!takeOverflow())
                return;
            continue;
        }
        const QString reply = cp932::decode(wire::lineBody(line));
        if (m_talk.state() == State::ListEntries) {
            if (!takeHandoutEntry(reply))
                return;
            continue;
        }
        if (!takeReply(reply))
            return; // the connection ended meanwhile; its replies are void
    }
}

// False when the connection ended while the reply was handled.
bool StudentClient::takeReply(const QString &line)
{
    const State before = m_talk.state();
    const Conversation::Step step = m_talk.receive(line);
    if (step.action == Conversation::Action::PassOver)
        return true;
    // A confirmed file's last sends may still be reported: they change
    // nothing shown any more.
    if (step.next == State::Ready || step.next == State::Verifying)
        m_upload.reset();
    armDeadline();
    switch (step.action) {
    case Conversation::Action::ShowLecture:
        setLecture(line);
        return true;
    case Conversation::Action::SendFile:
        sendFile();
        return m_talk.state() != State::Closed;
    case Conversation::Action::AskReceipt:
        askReceipt();
        return true;
    case Conversation::Action::TakeReceipt:
        return takeReceipt(line);
    case Conversation::Action::Close:
        closeConnection();
        if (!Conversation::unconfirmed(before).isEmpty())
            setStatus(before == State::Attending ? NotConfirmed : NotHandedIn);
        tellUnconfirmed(QString(), step.message);
        return false;
    case Conversation::Action::TakeHandoutList:
    case Conversation::Action::TakeHandout:
    case Conversation::Action::HandoutRefused:
        return takeHandoutReply(step.action, line);
    case Conversation::Action::None:
    case Conversation::Action::PassOver:
        break;
    }
    QString status;
    switch (wire::replyOf(line)) {
    case wire::Reply::Taken:
    case wire::Reply::Already:
        status = stamped(QStringLiteral("出席済み"));
        break;
    case wire::Reply::Received:
        status = stamped(QStringLiteral("提出完了"));
        break;
    case wire::Reply::Unknown:
        status = NotConfirmed;
        break;
    case wire::Reply::Refused:
        status = NotHandedIn;
        break;
    case wire::Reply::ImageMode: // an empty file: nothing to send
        status = QStringLiteral("サーバの確認待ち");
        break;
    default:
        status = m_status;
        break;
    }
    // Set before the box: a connection lost while it is open must not leave
    // a confirmed submission shown as awaited.
    setStatus(status);
    if (!step.message.isEmpty() && !showMessage(step.message))
        return false;
    // The buttons change once the box is closed.
    refreshButtons();
    return true;
}

bool StudentClient::showMessage(const QString &text)
{
    const quint64 serial = m_connectionSerial;
    m_messages.show(text);
    return serial == m_connectionSerial;
}

void StudentClient::setLecture(const QString &line)
{
    refreshButtons(); // 配布物 once the lecture line came
    const std::optional<wire::LectureInfo> lecture = wire::parseLectureLine(line);
    if (!lecture)
        return;
    m_kougimei = shownText(lecture->kougimei);
    m_tantousya = shownText(lecture->tantousya);
    Q_EMIT lectureChanged();
}

void StudentClient::btnSendData_Click()
{
    if (m_talk.state() != State::Ready)
        return;
    const QString path = m_dialogs.openFileName(AllFiles);
    if (path.isEmpty())
        return;
    // The dialog kept the event loop going: the connection may be gone.
    Timer_Timer();
    if (m_talk.state() != State::Ready || m_socket->state() != Socket::StateConnected) {
        m_messages.show(QStringLiteral("ファイルを選んでいる間にサーバとの接続が切れました｡\r\n"
                                       "再接続してから送り直してください｡"));
        return;
    }
    const Result<ChosenFile> chosen = checkChosenFile(path, m_userName);
    if (!chosen) {
        m_messages.show(chosen.error());
        return;
    }
    m_chosen = *chosen;
    m_sentSha256 = m_chosen.size == 0 ? Sha256().hexResult() : QByteArray();
    m_talk.startUpload(m_chosen.size);
    sendLine(wire::putLine(m_chosen.announcedName, m_chosen.size));
    setStatus(WaitingForAnswer);
    armDeadline();
    refreshButtons();
}

void StudentClient::sendLine(const QString &line)
{
    m_sends.push_back(-1);
    m_socket->sendData(line);
}

void StudentClient::sendFile()
{
    m_upload = std::make_unique<FileUpload>(m_chosen.path, m_chosen.size);
    m_uploadDone = m_uploadInFlight = 0;
    if (const Result<> opened = m_upload->open(); !opened) {
        fileTrouble(opened.error());
        return;
    }
    showProgress(0);
    feedFile();
}

// Reads further pieces as the socket gets rid of earlier ones; a line is
// never sent while they are queued, since the server counts every byte.
void StudentClient::feedFile()
{
    while (m_upload && !m_upload->allRead() && m_uploadInFlight < UploadInFlight &&
           m_socket->state() == Socket::StateConnected) {
        const Result<QByteArray> piece = m_upload->nextPiece(UploadPiece);
        if (!piece) {
            fileTrouble(piece.error());
            return;
        }
        m_sends.push_back(piece->size());
        m_uploadInFlight += piece->size();
        m_socket->sendData(*piece);
    }
    if (m_upload && m_upload->allRead() && m_talk.state() == State::Sending) {
        m_sentSha256 = m_upload->sha256();
        m_talk.fileHandedOver();
        armDeadline();
    }
}

// The server waits for the announced count of bytes, and a different count
// would store a wrong file: ending the connection is the only honest way out.
void StudentClient::fileTrouble(const QString &cause)
{
    tellUnconfirmed(cause + QStringLiteral("課題の送信を中止しました｡"), lose());
}

void StudentClient::armDeadline()
{
    const bool bytesQueued = m_upload != nullptr;
    switch (Conversation::waitIn(m_talk.state(), bytesQueued)) {
    case Conversation::Wait::Answer:
        m_deadline.start(m_limits.replyMs);
        return;
    case Conversation::Wait::Progress:
        m_deadline.start(m_limits.stallMs);
        return;
    case Conversation::Wait::Confirmation:
        m_deadline.start(m_limits.confirmationMs);
        return;
    case Conversation::Wait::Receipt:
        m_deadline.start(m_limits.receiptMs);
        return;
    case Conversation::Wait::None:
        break;
    }
    m_deadline.stop();
}

void StudentClient::timeLimitPassed()
{
    if (m_talk.state() == State::Verifying) {
        receiptMissing();
        return;
    }
    const QString cause = Conversation::waitExceeded(m_talk.state(), m_upload != nullptr);
    if (!cause.isEmpty())
        tellUnconfirmed(cause, lose());
}

// Ends the connection in whatever state it is; gives what is therefore not
// confirmed, and shows it in the status line.
QString StudentClient::lose()
{
    const bool attending = m_talk.attendancePending();
    const QString unconfirmed = m_talk.end();
    closeConnection();
    if (!unconfirmed.isEmpty())
        setStatus(attending ? NotConfirmed : NotHandedIn);
    refreshButtons();
    return unconfirmed;
}

void StudentClient::tellUnconfirmed(const QString &cause, const QString &unconfirmed)
{
    refreshButtons();
    if (cause.isEmpty() && unconfirmed.isEmpty())
        return;
    const QString separator = cause.isEmpty() || unconfirmed.isEmpty() ? QString() : wire::Eol;
    m_messages.show(cause + separator + unconfirmed);
}

void StudentClient::WIRELANE_SendProgress(qint64 bytesSent, qint64)
{
    if (m_sends.empty() || m_sends.front() < 0 || !m_upload || !m_talk.uploadPending())
        return;
    showProgress(m_uploadDone + bytesSent);
    armDeadline(); // the server takes bytes: the stall limit starts again
}

void StudentClient::WIRELANE_SendComplete()
{
    if (m_sends.empty())
        return;
    const qint64 piece = m_sends.front();
    m_sends.pop_front();
    if (piece < 0 || !m_upload)
        return;
    m_uploadDone += piece;
    m_uploadInFlight -= piece;
    showProgress(m_uploadDone);
    if (m_uploadDone == m_upload->size()) {
        m_upload.reset();
        setStatus(QStringLiteral("サーバの確認待ち"));
    } else {
        feedFile();
    }
    armDeadline();
}

void StudentClient::showProgress(qint64 accepted)
{
    const qint64 total = m_chosen.size;
    const qint64 percent = total > 0 ? accepted * 100 / total : 100;
    setStatus(QStringLiteral("送信中: %1% (%2 / %3)")
                  .arg(percent)
                  .arg(amount(accepted, total), amount(total, total)));
}

void StudentClient::btnReConnect_Click()
{
    if (m_talk.uploadPending()) {
        cancelUpload();
        if (m_talk.uploadPending())
            return;
    }
    // A fetch ends with the connection; what it saved so far stays. So
    // does a confirmed upload whose receipt is awaited.
    if (m_talk.handoutsPending() || m_talk.state() == State::Verifying)
        lose();
    // A pending or open connection is left alone.
    if (m_socket->state() != Socket::StateClosed)
        return;
    m_talk.connecting();
    refreshButtons();
    m_socket->setLocalPort(0);
    if (!m_socket->connectToHost(m_serverAddress, m_serverPort))
        WIRELANE_Error(m_socket->errorNumber(), m_socket->errorString());
}

// 再接続 during an upload gives it up, once the student has agreed.
void StudentClient::cancelUpload()
{
    const bool agreed = m_messages.ask(
        QStringLiteral("課題の送信を取りやめて､接続し直しますか?\r\n"
                       "取りやめた場合､提出は済んでいません｡接続し直してから送り直してください｡"));
    // The upload may have been confirmed or lost while the question was open.
    if (agreed && m_talk.uploadPending())
        lose();
}

bool StudentClient::mayClose()
{
    return !m_talk.uploadPending() ||
           m_messages.ask(QStringLiteral("課題の送信中です｡今閉じると提出は済みません｡\r\n"
                                         "閉じますか?"));
}

void StudentClient::WIRELANE_Error(int number, const QString &description)
{
    const QString unconfirmed = lose();
    m_messages.show(QStringLiteral("エラー番号:") + QString::number(number) + QStringLiteral("->") +
                    description + wire::Eol +
                    QStringLiteral("少し待って再接続ボタンを押してください｡"));
    tellUnconfirmed(QString(), unconfirmed);
}

void StudentClient::Timer_Timer()
{
    if (m_socket->state() != Socket::StateClosing)
        return;
    const QString unconfirmed = lose();
    m_socket->setLocalPort(0);
    m_kougimei.clear();
    m_tantousya.clear();
    Q_EMIT lectureChanged();
    tellUnconfirmed(unconfirmed.isEmpty() ? QString()
                                          : QStringLiteral("サーバとの接続が切れました｡"),
                    unconfirmed);
}

void StudentClient::closeConnection()
{
    m_deadline.stop();
    m_socket->close();
    ++m_connectionSerial;
    m_replies.clear();
    m_upload.reset();
    m_sends.clear();
    m_handouts->abandon();
}

void StudentClient::refreshButtons()
{
    const Buttons buttons = m_talk.buttons();
    if (buttons == m_buttons)
        return;
    m_buttons = buttons;
    Q_EMIT buttonsChanged();
}

void StudentClient::setStatus(const QString &text)
{
    if (text == m_status)
        return;
    m_status = text;
    Q_EMIT statusChanged();
}
