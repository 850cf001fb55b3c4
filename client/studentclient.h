#pragma once

#include "common/result.h"
#include "common/wire.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>

class FileDialogs;
class FileUpload;
class HandoutFetch;
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
    Result<> connectToServer();

    const QString &userName() const { return m_userName; }
    const Buttons &buttons() const { return m_buttons; }
    const QString &kougimei() const { return m_kougimei; }
    const QString &tantousya() const { return m_tantousya; }
    const QString &statusText() const { return m_status; }
    Socket &socket() { return *m_socket; }

    // How long the server may take to start receiving an announced file
    // (reply 301) before the student is told it did not.
    static constexpr int UploadStartWaitMs = 30 * 1000;
    void setUploadStartWait(int ms) { m_uploadStartWait.setInterval(ms); }

    // Handouts land here instead of the lecture's folder in the documents.
    void setHandoutFolder(const QString &folder) { m_handoutFolder = folder; }
    // "配布物": once the lecture line has come, while neither a fetch nor a
    // submission is under way. The two never overlap: a get line sent
    // during an upload would be stored as the file's bytes.
    bool handoutsEnabled() const;
    bool fetchingHandouts() const;
    void btnHandouts_Click();

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
    void sendLine(const QString &line);
    void sendFile();
    void feedFile();
    void abandonUpload();
    void uploadNeverStarted();
    void setLecture(const QString &line);
    void setButtons(Buttons buttons);
    void setStatus(const QString &text);
    void closeConnection();
    void tellIfUnconfirmed();

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

    HandoutFetch *m_handouts;
    QString m_handoutFolder;
    bool m_lectureSeen = false;

    wire::LineFramer m_replies;
    quint64 m_connectionSerial = 0;

    // The chosen file, from the request until reply 301 starts it.
    QString m_chosenPath;
    qint64 m_chosenSize = 0;
    // From the request until reply 302: only that reply confirms.
    bool m_submissionPending = false;
    // Runs from the request until reply 301. A server that refused the
    // request says nothing, and the student would wait for ever.
    QTimer m_uploadStartWait;
    // The file while its bytes are handed to the socket.
    std::unique_ptr<FileUpload> m_upload;
    qint64 m_uploadDone = 0;     // bytes of completed pieces
    qint64 m_uploadInFlight = 0; // bytes of pieces the socket still holds
    // Our sends the socket has not reported complete, in order: a file
    // piece's size, or -1 for a line.
    std::deque<qint64> m_sends;
};
