#pragma once

#include "common/wire.h"

#include <QString>
#include <QStringView>

// The student program's side of one connection, as a table: which replies a
// state expects, where each leads, what the student is told and what the
// program does next. A reply counts only in a state that expects it; any
// other ends the connection, and the student is told what is therefore not
// confirmed. No socket, no window: the caller sends and shows.
class Conversation
{
public:
    enum class State {
        Connecting,
        Connected,       // attendance not confirmed on this connection
        Attending,       // user line sent
        Ready,           // attendance confirmed, nothing outstanding
        Requesting,      // put line sent, waiting for 301
        RequestingEmpty, // put line of an empty file sent: 302 may come at once
        Sending,         // 301 came; the file's bytes are being handed over
        Confirming,      // every byte handed to the socket, waiting for 302
        Closed,
    };

    // What the caller does besides telling the student.
    enum class Action {
        None,
        ShowLecture, // the reply is the lecture line
        SendFile,
        Close,
    };

    struct Step
    {
        State next = State::Closed;
        Action action = Action::None;
        QString message; // for a message box; empty: none
        bool operator==(const Step &) const = default;
    };

    struct Buttons
    {
        bool attendance = false; // "出欠"
        bool upload = false;     // "課題"
        bool reconnect = true;   // "再接続"
        bool operator==(const Buttons &) const = default;
    };

    State state() const { return m_state; }
    Buttons buttons() const;
    // A user line or a put line is waiting for its answer.
    bool attendancePending() const { return m_state == State::Attending; }
    bool uploadPending() const;

    void connecting() { m_state = State::Connecting; }
    void connected();
    // True when the state lets the request be sent now; the caller sends it.
    bool startAttendance();
    bool startUpload(qint64 size);
    // The last byte of the file has been handed to the socket.
    void fileHandedOver();

    // Takes a reply and moves on; the step says what to do.
    Step receive(QStringView line);
    // The connection ended for a reason the caller tells the student (time
    // limit, cancel, loss): what is not confirmed because of it, empty when
    // nothing was outstanding.
    QString end();

    // The step a reply leads to in a state, without taking it.
    static Step stepFor(State state, wire::Reply reply, QStringView line);
    // What the student is told is not confirmed when a connection ends in
    // `state`; empty when nothing is outstanding there.
    static QString unconfirmed(State state);

private:
    State m_state = State::Connecting;
};
