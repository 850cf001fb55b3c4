#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

class FileDialogs;
class MessageBox;
class Socket;

// The student's side of the lecture after start-up: the connection to the
// lecturer's program, attendance, replies and the assignment upload. It
// holds what the window shows (button states, lecture labels, status text)
// and announces every change; the window only displays it.
class StudentClient : public QObject
{
    Q_OBJECT
public:
    struct Buttons
    {
        bool attendance = false; // "出欠"
        bool upload = false;     // "課題"
        bool reconnect = true;   // "再接続"
        bool operator==(const Buttons &) const = default;
    };

    StudentClient(QString userName, QString serverAddress, QString serverPort, MessageBox &messages,
                  FileDialogs &dialogs, QObject *parent = nullptr);
    ~StudentClient() override;

    // Starts the one automatic connection attempt. False when the address or
    // port is refused at once; `error` then tells why.
    bool connectToServer(QString *error);

    const QString &userName() const { return m_userName; }
    const Buttons &buttons() const { return m_buttons; }
    const QString &kougimei() const { return m_kougimei; }
    const QString &tantousya() const { return m_tantousya; }
    const QString &statusText() const { return m_status; }
    Socket &socket() { return *m_socket; }

    void SYUKKETUBTN_Click();
    void btnSendData_Click();
    void btnReConnect_Click();
    void Timer_Timer();

Q_SIGNALS:
    void buttonsChanged();
    void lectureChanged();
    void statusChanged();

private:
    void WIRELANE_Connect();
    void WIRELANE_DataArrival();
    void WIRELANE_Error(int number, const QString &description);
    void WIRELANE_SendProgress(qint64 bytesSent, qint64 bytesRemaining);
    void WIRELANE_SendComplete();

    bool dispatchReply(const QString &reply);
    bool showMessage(const QString &text);
    void sendFile();
    void setLecture(const QString &line);
    void setButtons(Buttons buttons);
    void setStatus(const QString &text);
    void closeConnection();

    QString m_userName;
    QString m_serverAddress;
    QString m_serverPort;
    MessageBox &m_messages;
    FileDialogs &m_dialogs;
    Socket *m_socket;

    Buttons m_buttons{false, false, true};
    QString m_kougimei;
    QString m_tantousya;
    QString m_status;

    QByteArray m_partialReply;
    QByteArray m_fileToSend; // read at the request, sent on reply 301
    bool m_awaitingGoAhead = false;
    quint64 m_connectionSerial = 0;
};
