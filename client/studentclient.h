#pragma once

#include "client/conversation.h"
#include "client/uploadchecks.h"
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
// lecturer's program, attendance, replies and the assignment upload. The
// Conversation decides what a reply means; this class sends, reads the
// file, watches the time limits and holds what the window shows (button
// states, lecture labels, status text), announcing every change.
class StudentClient : public QObject
{
    Q_OBJECT
public:
    using Buttons = Conversation::Buttons;

    // How long the server may stay silent before the student is told that
    // nothing was confirmed and the connection is ended.
    struct TimeLimits
    {
        int replyMs = 30 * 1000;        // an answer to a user line or a put line
        int stallMs = 30 * 1000;        // no byte of the file taken by the server
        int confirmationMs = 60 * 1000; // reply 302 after the file's last byte
        int receiptMs = 5 * 1000;       // the answer to the hash line after 302
    };

    StudentClient(QString userName, QString serverAddress, QString serverPort, MessageBox &messages,
                  FileDialogs &dialogs, QObject *parent = nullptr);
    ~StudentClient() override;

    // Starts the one automatic connection attempt. A failure (the address
    // or port refused at once) tells why.
    Result<> connectToServer();
    // The program's start: the automatic connection attempt, then the
    // twice-a-second look for a connection the server has closed. A failure's
    // message is what the student is shown before the program ends.
    Result<> start();

    const QString &userName() const { return m_userName; }
    const Buttons &buttons() const { return m_buttons; }
    const QString &kougimei() const { return m_kougimei; }
    const QString &tantousya() const { return m_tantousya; }
    const QString &statusText() const { return m_status; }
    Conversation::State state() const { return m_talk.state(); }
    Socket &socket() { return *m_socket; }

    void setTimeLimits(const TimeLimits &limits) { m_limits = limits; }

    // Whether the window may close now: during an upload the student is
    // asked first, since closing leaves the assignment not handed in.
    bool mayClose();
    // The window closes (the student agreed): ends the connection, its
    // watch and any fetch at once, telling nothing.
    void closeForExit();

    // Handouts land here instead of the lecture's folder in the documents.
    void setHandoutFolder(const QString &folder) { m_handoutFolder = folder; }
    // "配布物": once the lecture line has come, while no other request is
    // outstanding. A fetch and a submission never overlap: a get line sent
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
    void WIRELANE_DataArrival(const QByteArray &arrived);
    void WIRELANE_Error(int number, const QString &description);
    void WIRELANE_SendProgress(qint64 bytesSent, qint64 bytesRemaining);
    void WIRELANE_SendComplete();

    bool takeReply(const QString &line);
    void askReceipt();
    bool takeReceipt(const QString &line);
    void receiptMissing();
    enum class Proof { None, Matched, Different };
    bool concludeUpload(Proof proof, const QString &storedAt = {});
    QString keepReceipt(const QString &storedAt);
    bool takeHandoutReply(Conversation::Action action, const QString &line);
    bool takeHandoutEntry(const QString &line);
    bool takeOverflow();
    void sendGet(const QString &line);
    void handoutsActiveChanged();
    bool showMessage(const QString &text);
    void sendLine(const QString &line);
    void sendFile();
    void feedFile();
    void fileTrouble(const QString &cause);
    void timeLimitPassed();
    void armDeadline();
    void cancelUpload();
    QString lose();
    void tellUnconfirmed(const QString &cause, const QString &unconfirmed);
    void setLecture(const QString &line);
    void refreshButtons();
    void setStatus(const QString &text);
    void showProgress(qint64 accepted);
    void closeConnection();

    QString m_userName;
    QString m_serverAddress;
    QString m_serverPort;
    MessageBox &m_messages;
    FileDialogs &m_dialogs;
    Socket *m_socket;

    Conversation m_talk;
    Buttons m_buttons{false, false, true};
    QString m_kougimei;
    QString m_tantousya;
    QString m_status;

    HandoutFetch *m_handouts;
    QString m_handoutFolder;

    wire::LineFramer m_replies;
    quint64 m_connectionSerial = 0;

    TimeLimits m_limits;
    // Runs while an answer or a byte of the file is awaited; which limit
    // depends on the state.
    QTimer m_deadline;
    // Looks for a connection the server has closed (Timer_Timer).
    QTimer m_poll;

    // The file announced by the last put line.
    ChosenFile m_chosen;
    // The file while its bytes are handed to the socket.
    std::unique_ptr<FileUpload> m_upload;
    qint64 m_uploadDone = 0;     // bytes of pieces the socket has sent
    qint64 m_uploadInFlight = 0; // bytes of pieces the socket still holds
    // Our sends the socket has not reported complete, in order: a file
    // piece's size, or -1 for a line.
    std::deque<qint64> m_sends;
    // The SHA-256 of the bytes sent for the last put line, and the time of
    // day its 302 came.
    QByteArray m_sentSha256;
    QString m_confirmedAt;
};
