#include "client/studentclient.h"

#include "common/cp932.h"
#include "platform/dialogs.h"
#include "platform/socket.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString Eol = QStringLiteral("\r\n");
const QString AllFiles = QStringLiteral("すべてのファイル (*.*)|*.*");
constexpr qint64 MaxUploadSize = 2147483647;

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

} // namespace

StudentClient::StudentClient(QString userName, QString serverAddress, QString serverPort,
                             MessageBox &messages, FileDialogs &dialogs, QObject *parent)
    : QObject(parent), m_userName(std::move(userName)), m_serverAddress(std::move(serverAddress)),
      m_serverPort(std::move(serverPort)), m_messages(messages), m_dialogs(dialogs),
      m_socket(new Socket(this))
{
    connect(m_socket, &Socket::connected, this, &StudentClient::WIRELANE_Connect);
    connect(m_socket, &Socket::dataArrival, this, &StudentClient::WIRELANE_DataArrival);
    connect(m_socket, &Socket::error, this, &StudentClient::WIRELANE_Error);
    connect(m_socket, &Socket::sendProgress, this, &StudentClient::WIRELANE_SendProgress);
    connect(m_socket, &Socket::sendComplete, this, &StudentClient::WIRELANE_SendComplete);
}

StudentClient::~StudentClient()
{
    m_socket->close();
}

bool StudentClient::connectToServer(QString *error)
{
    m_socket->setLocalPort(0);
    if (m_socket->connectToHost(m_serverAddress, m_serverPort))
        return true;
    if (error)
        *error = QString::number(m_socket->errorNumber()) + u' ' + m_socket->errorString();
    return false;
}

void StudentClient::WIRELANE_Connect()
{
    ++m_connectionSerial;
    setButtons({true, m_buttons.upload, false});
}

void StudentClient::SYUKKETUBTN_Click()
{
    if (m_socket->state() == Socket::StateConnected)
        m_socket->sendData(QStringLiteral("user ") + m_userName + Eol);
}

void StudentClient::WIRELANE_DataArrival()
{
    m_partialReply += m_socket->getData();
    const quint64 serial = m_connectionSerial;
    // Every complete reply is judged once, in order; a reply still on its
    // way waits for its line end.
    qsizetype start = 0;
    qsizetype lf;
    while ((lf = m_partialReply.indexOf('\n', start)) >= 0) {
        QByteArrayView line = QByteArrayView(m_partialReply).sliced(start, lf - start);
        start = lf + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        const QString reply = cp932::decode(line);
        if (!dispatchReply(reply) || serial != m_connectionSerial)
            return; // the connection ended meanwhile; its replies are void
    }
    m_partialReply.remove(0, start);
}

bool StudentClient::dispatchReply(const QString &reply)
{
    const QStringView code = QStringView(reply).first(qMin<qsizetype>(3, reply.size()));
    if (code == u"101" || code == u"102") {
        if (!showMessage(code == u"101" ? QStringLiteral("出席をとりました｡")
                                        : QStringLiteral("既に出席を取っています｡")))
            return false;
        setButtons({false, true, m_buttons.reconnect});
    } else if (code == u"301") {
        sendFile();
    } else if (code == u"302") {
        if (!showMessage(QStringLiteral("送信完了しました")))
            return false;
        setStatus(QString());
        setButtons({m_buttons.attendance, true, m_buttons.reconnect});
    } else if (code == u"501") {
        return showMessage(QStringLiteral("ユーザ名が登録されてません"));
    } else if (code == u"999") {
        closeConnection();
        setButtons(disconnectedButtons());
        return false;
    } else if (code == u"800") {
        setLecture(reply);
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
    const QString rest = line.mid(4);
    const qsizetype comma = rest.indexOf(u',');
    if (comma < 0)
        return;
    m_kougimei = rest.first(comma);
    m_tantousya = rest.sliced(comma + 1);
    Q_EMIT lectureChanged();
}

void StudentClient::btnSendData_Click()
{
    const QString path = m_dialogs.openFileName(AllFiles);
    if (path.isEmpty())
        return;
    const QString suffix = suffixOf(path);
    if (suffix.isEmpty())
        return;
    const QFileInfo info(path);
    if (!info.isFile())
        return;
    if (info.size() > MaxUploadSize) {
        m_messages.show(QStringLiteral("ファイルが大きすぎるため送信できません｡\r\n"
                                       "2GB未満のファイルを選んでください｡"));
        return;
    }
    // The file is read once: what is announced is exactly what is sent.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError || bytes.size() > MaxUploadSize)
        return;
    if (m_socket->state() != Socket::StateConnected)
        return;
    m_fileToSend = std::move(bytes);
    m_awaitingGoAhead = true;
    m_socket->sendData(QStringLiteral("put ") + m_userName + suffix + u',' +
                       QString::number(m_fileToSend.size()) + Eol);
    setButtons({m_buttons.attendance, false, m_buttons.reconnect});
}

void StudentClient::sendFile()
{
    if (!m_awaitingGoAhead)
        return;
    m_awaitingGoAhead = false;
    setStatus(QStringLiteral("課題を送信中"));
    // The socket keeps the bytes until they are out; we need not.
    m_socket->sendData(std::exchange(m_fileToSend, QByteArray()));
}

void StudentClient::WIRELANE_SendProgress(qint64, qint64 bytesRemaining)
{
    setStatus(QStringLiteral("送信中: ") + QString::number(bytesRemaining) +
              QStringLiteral(" が未送信"));
}

void StudentClient::WIRELANE_SendComplete()
{
    setStatus(QStringLiteral("送信完了"));
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
                    description + Eol + QStringLiteral("少し待って再接続ボタンを押してください｡"));
    closeConnection();
    setButtons(disconnectedButtons());
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
}

void StudentClient::closeConnection()
{
    m_socket->close();
    ++m_connectionSerial;
    m_partialReply.clear();
    m_fileToSend.clear();
    m_awaitingGoAhead = false;
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
