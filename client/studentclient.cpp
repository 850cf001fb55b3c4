#include "client/studentclient.h"

#include "client/fileupload.h"
#include "client/handoutfetch.h"
#include "common/cp932.h"
#include "platform/dialogs.h"
#include "platform/socket.h"

#include <QFileInfo>

namespace {

const QString AllFiles = QStringLiteral("すべてのファイル (*.*)|*.*");

// A file is read in pieces of this size, and at most this many bytes of it
// wait in the socket at any time.
constexpr qint64 UploadPiece = 256 * 1024;
constexpr qint64 UploadInFlight = 1024 * 1024;

StudentClient::Buttons disconnectedButtons()
{
    return {false, false, true};
}

// From the last "." of the file's own name; empty when the name has none.
QString suffixOf(const QString &path)
{
    const qsizetype separator = qMax(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot > separator ? path.sliced(dot) : QString();
}

// Why the server would refuse or alter the announced name, in the student's
// words; empty when it takes the name as it is. The name itself is not
// repeated: it may hold anything.
QString nameProblem(const QString &name)
{
    const QString body = wire::putLine(name, 0).chopped(wire::Eol.size());
    const std::optional<wire::PutRequest> request = wire::parsePutLine(body);
    if (!request || request->fileName != name)
        return QStringLiteral("拡張子に｢,｣が含まれています｡");
    for (QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("拡張子に制御文字が含まれています｡");
    }
    if (!wire::isSafeFileName(name))
        return QStringLiteral("拡張子に｢:｣｢*｣｢?｣などファイル名に使えない文字が含まれているか､"
                              "拡張子が｢.｣で終わっているか､長すぎます｡");
    if (cp932::decode(cp932::encode(name)) != name)
        return QStringLiteral("拡張子にShift_JISで表せない文字が含まれています｡");
    return {};
}

} // namespace

StudentClient::StudentClient(QString userName, QString serverAddress, QString serverPort,
                             MessageBox &messages, FileDialogs &dialogs, QObject *parent)
    : QObject(parent), m_userName(std::move(userName)), m_serverAddress(std::move(serverAddress)),
      m_serverPort(std::move(serverPort)), m_messages(messages), m_dialogs(dialogs),
      m_socket(new Socket(this)),
      m_handouts(new HandoutFetch(
          messages, [this](const QString &line) { sendLine(line); }, this))
{
    connect(m_socket, &Socket::connected, this, &StudentClient::WIRELANE_Connect);
    connect(m_socket, &Socket::dataArrival, this, &StudentClient::WIRELANE_DataArrival);
    connect(m_socket, &Socket::error, this, &StudentClient::WIRELANE_Error);
    connect(m_socket, &Socket::sendProgress, this, &StudentClient::WIRELANE_SendProgress);
    connect(m_socket, &Socket::sendComplete, this, &StudentClient::WIRELANE_SendComplete);
    m_uploadStartWait.setSingleShot(true);
    m_uploadStartWait.setInterval(UploadStartWaitMs);
    connect(&m_uploadStartWait, &QTimer::timeout, this, &StudentClient::uploadNeverStarted);
    connect(m_handouts, &HandoutFetch::statusChanged, this, &StudentClient::setStatus);
    connect(m_handouts, &HandoutFetch::activeChanged, this, &StudentClient::buttonsChanged);
    connect(m_handouts, &HandoutFetch::connectionUnusable, this, [this] {
        closeConnection();
        setButtons(disconnectedButtons());
    });
}

StudentClient::~StudentClient()
{
    m_socket->close();
}

Result<> StudentClient::connectToServer()
{
    m_socket->setLocalPort(0);
    if (m_socket->connectToHost(m_serverAddress, m_serverPort))
        return Result<>::success();
    return Result<>::failure(QString::number(m_socket->errorNumber()) + u' ' +
                             m_socket->errorString());
}

void StudentClient::WIRELANE_Connect()
{
    ++m_connectionSerial;
    setButtons({true, m_buttons.upload, false});
}

void StudentClient::SYUKKETUBTN_Click()
{
    if (m_socket->state() == Socket::StateConnected)
        sendLine(wire::userLine(m_userName));
}

void StudentClient::WIRELANE_DataArrival()
{
    const QByteArray arrived = m_socket->getData();
    QByteArrayView rest(arrived);
    const quint64 serial = m_connectionSerial;
    // Every complete reply is judged once, in order; a reply still on its
    // way waits for its line end, and one that never ends is dropped.
    QByteArray line;
    for (;;) {
        if (serial != m_connectionSerial)
            return;                     // the connection ended meanwhile; its replies are void
        if (m_handouts->wantsBytes()) { // a handout's bytes, not lines
            if (rest.isEmpty())
                return;
            m_handouts->takeBytes(rest);
            continue;
        }
        const wire::LineFramer::Status status = m_replies.take(rest, line);
        if (status == wire::LineFramer::Status::Incomplete)
            return;
        if (status == wire::LineFramer::Status::Overflow)
            continue;
        const QString reply = cp932::decode(wire::lineBody(line));
        if (m_handouts->takeLine(reply))
            continue;
        if (!dispatchReply(reply))
            return;
    }
}

bool StudentClient::handoutsEnabled() const
{
    return m_lectureSeen && !m_handouts->active() && !m_submissionPending;
}

bool StudentClient::fetchingHandouts() const
{
    return m_handouts->active();
}

void StudentClient::btnHandouts_Click()
{
    if (handoutsEnabled() && m_socket->state() == Socket::StateConnected)
        m_handouts->start(handoutFolderFor(m_handoutFolder, m_kougimei));
}

bool StudentClient::dispatchReply(const QString &reply)
{
    switch (wire::replyOf(reply)) {
    case wire::Reply::Taken:
    case wire::Reply::Already:
        if (!showMessage(wire::replyOf(reply) == wire::Reply::Taken
                             ? QStringLiteral("出席をとりました｡")
                             : QStringLiteral("既に出席を取っています｡")))
            return false;
        setButtons({false, true, m_buttons.reconnect});
        break;
    case wire::Reply::ImageMode:
        sendFile();
        break;
    case wire::Reply::Received:
        m_submissionPending = false;
        m_uploadStartWait.stop(); // an empty file is confirmed without a 301
        if (!showMessage(QStringLiteral("送信完了しました")))
            return false;
        setStatus(QString());
        setButtons({m_buttons.attendance, true, m_buttons.reconnect});
        break;
    case wire::Reply::Unknown:
        return showMessage(QStringLiteral("ユーザ名が登録されてません"));
    case wire::Reply::Close:
        closeConnection();
        setButtons(disconnectedButtons());
        tellIfUnconfirmed();
        return false;
    case wire::Reply::Lecture:
        setLecture(reply);
        break;
    case wire::Reply::Greeting:
    case wire::Reply::Other:
    case wire::Reply::HandoutList: // only when no fetch asked
    case wire::Reply::HandoutData:
    case wire::Reply::Refused:
        break;
    }
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
    m_lectureSeen = true;
    Q_EMIT buttonsChanged();
    const std::optional<wire::LectureInfo> lecture = wire::parseLectureLine(line);
    if (!lecture)
        return;
    m_kougimei = lecture->kougimei;
    m_tantousya = lecture->tantousya;
    Q_EMIT lectureChanged();
}

void StudentClient::btnSendData_Click()
{
    if (fetchingHandouts())
        return;
    const QString path = m_dialogs.openFileName(AllFiles);
    if (path.isEmpty())
        return;
    const QString suffix = suffixOf(path);
    if (suffix.isEmpty())
        return;
    const QString name = m_userName + suffix;
    if (const QString problem = nameProblem(name); !problem.isEmpty()) {
        m_messages.show(QStringLiteral("このファイルは送信できません｡\r\n") + problem +
                        QStringLiteral("\r\nファイル名を変えてから送ってください｡"));
        return;
    }
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return;
    if (info.size() > wire::MaxUploadSize) {
        m_messages.show(QStringLiteral("ファイルが大きすぎるため送信できません｡\r\n"
                                       "2GB未満のファイルを選んでください｡"));
        return;
    }
    if (m_socket->state() != Socket::StateConnected)
        return;
    m_chosenPath = path;
    m_chosenSize = info.size();
    m_submissionPending = true;
    m_uploadStartWait.start();
    sendLine(wire::putLine(name, m_chosenSize));
    setButtons({m_buttons.attendance, false, m_buttons.reconnect});
}

void StudentClient::sendLine(const QString &line)
{
    m_sends.push_back(-1);
    m_socket->sendData(line);
}

void StudentClient::sendFile()
{
    if (!m_submissionPending || m_upload || m_chosenPath.isEmpty())
        return;
    m_uploadStartWait.stop();
    m_upload = std::make_unique<FileUpload>(std::exchange(m_chosenPath, QString()), m_chosenSize);
    m_uploadDone = m_uploadInFlight = 0;
    setStatus(QStringLiteral("課題を送信中"));
    if (!m_upload->open()) {
        abandonUpload();
        return;
    }
    if (m_upload->size() == 0) {
        m_upload.reset();
        setStatus(QStringLiteral("送信完了"));
        return;
    }
    feedFile();
}

// Reads further pieces as the socket gets rid of earlier ones.
void StudentClient::feedFile()
{
    while (m_upload && !m_upload->allRead() && m_uploadInFlight < UploadInFlight &&
           m_socket->state() == Socket::StateConnected) {
        const QByteArray piece = m_upload->nextPiece(UploadPiece);
        if (m_upload->problem() != FileUpload::Problem::None) {
            abandonUpload();
            return;
        }
        m_sends.push_back(piece.size());
        m_uploadInFlight += piece.size();
        m_socket->sendData(piece);
    }
}

// The server waits for the announced count of bytes, and a different count
// would store a wrong file: ending the connection is the only honest way out.
void StudentClient::abandonUpload()
{
    const bool changed = m_upload->problem() == FileUpload::Problem::SizeChanged;
    m_submissionPending = false;
    closeConnection();
    setButtons(disconnectedButtons());
    setStatus(QString());
    m_messages.show((changed ? QStringLiteral("選んだ後にファイルの大きさが変わったため､")
                             : QStringLiteral("ファイルを読めなくなったため､")) +
                    QStringLiteral("課題の送信を中止しました｡\r\n"
                                   "再接続してから送り直してください｡"));
}

// A 301 arriving after this would make the server wait for the file while
// the student believes nothing was sent: ending the connection settles it.
void StudentClient::uploadNeverStarted()
{
    if (!m_submissionPending || m_upload)
        return;
    m_submissionPending = false;
    closeConnection();
    setButtons(disconnectedButtons());
    setStatus(QString());
    m_messages.show(
        QStringLiteral("サーバが課題の受け取りを始めなかったため､送信を取りやめました｡\r\n"
                       "提出は済んでいません｡再接続してから送り直してください｡"));
}

void StudentClient::WIRELANE_SendProgress(qint64 bytesSent, qint64 bytesRemaining)
{
    if (m_sends.empty())
        return;
    // A file goes out in pieces; the student sees what is left of the file.
    const qint64 remaining = m_sends.front() >= 0 && m_upload
                                 ? m_upload->size() - m_uploadDone - bytesSent
                                 : bytesRemaining;
    setStatus(QStringLiteral("送信中: ") + QString::number(remaining) +
              QStringLiteral(" が未送信"));
}

void StudentClient::WIRELANE_SendComplete()
{
    if (m_sends.empty())
        return;
    const qint64 piece = m_sends.front();
    m_sends.pop_front();
    if (piece < 0 || !m_upload) {
        setStatus(QStringLiteral("送信完了"));
        return;
    }
    m_uploadDone += piece;
    m_uploadInFlight -= piece;
    if (m_uploadDone == m_upload->size()) {
        m_upload.reset();
        setStatus(QStringLiteral("送信完了"));
        return;
    }
    feedFile();
}

void StudentClient::btnReConnect_Click()
{
    // A pending or open connection is left alone.
    if (m_socket->state() != Socket::StateClosed)
        return;
    m_socket->setLocalPort(0);
    if (!m_socket->connectToHost(m_serverAddress, m_serverPort))
        WIRELANE_Error(m_socket->errorNumber(), m_socket->errorString());
}

void StudentClient::WIRELANE_Error(int number, const QString &description)
{
    m_messages.show(QStringLiteral("エラー番号:") + QString::number(number) + QStringLiteral("->") +
                    description + wire::Eol +
                    QStringLiteral("少し待って再接続ボタンを押してください｡"));
    closeConnection();
    setButtons(disconnectedButtons());
    tellIfUnconfirmed();
}

void StudentClient::Timer_Timer()
{
    if (m_socket->state() != Socket::StateClosing)
        return;
    closeConnection();
    m_socket->setLocalPort(0);
    setButtons(disconnectedButtons());
    m_kougimei.clear();
    m_tantousya.clear();
    Q_EMIT lectureChanged();
    tellIfUnconfirmed();
}

void StudentClient::closeConnection()
{
    m_uploadStartWait.stop();
    m_socket->close();
    ++m_connectionSerial;
    m_replies.clear();
    m_chosenPath.clear();
    m_upload.reset();
    m_sends.clear();
    m_lectureSeen = false;
    m_handouts->abandon();
    Q_EMIT buttonsChanged();
}

// Bytes that left are no submission: only the server's confirmation is.
void StudentClient::tellIfUnconfirmed()
{
    if (!std::exchange(m_submissionPending, false))
        return;
    setStatus(QString());
    m_messages.show(QStringLiteral("課題の受け取りがサーバから確認される前に接続が切れました｡\r\n"
                                   "提出は済んでいません｡再接続してから送り直してください｡"));
}

void StudentClient::setButtons(Buttons buttons)
{
    if (buttons == m_buttons)
        return;
    m_buttons = buttons;
    Q_EMIT buttonsChanged();
}

void StudentClient::setStatus(const QString &text)
{
    m_status = text;
    Q_EMIT statusChanged();
}
