#pragma once

#include "common/wire.h"

#include <QString>
#include <QStringView>

// A text from the server as a message or label shows it: at most `limit`
// characters, control characters as blanks.
QString shownText(QStringView text, qsizetype limit = 200);

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
        // 302 came and the hash line went out: any answer but the greeting
        // or the lecture line is the receipt's (an older server may answer
        // with an error, or not at all).
        Verifying,
        // Handouts, from Connected or Ready; back there when the fetch ends.
        Listing,     // list line sent, waiting for 401
        ListEntries, // 401 came: the lines it announced are entries, not replies
        Fetching,    // the fetch's turn: checking files or about to ask again
        Getting,     // get line sent, waiting for 402
        Receiving,   // 402 came: what follows is the file's bytes
        Closed,
    };

    // What the caller does besides telling the student.
    enum class Action {
        None,
        ShowLecture, // the reply is the lecture line
        SendFile,
        Close,
        TakeHandoutList, // the reply is a 401 line
        TakeHandout,     // the reply is a 402 line
        HandoutRefused,  // a 499 to the fetch's request
        AskReceipt,      // the upload is confirmed: send the hash line
        TakeReceipt,     // the reply answers the hash line (a 403 or not)
        PassOver,        // a hash line's answer that came after the wait: nothing to do
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
        bool handouts = false;   // "配布物"
        bool operator==(const Buttons &) const = default;
    };

    State state() const { return m_state; }
    Buttons buttons() const;
    // A user line or a put line is waiting for its answer.
    bool attendancePending() const { return m_state == State::Attending; }
    bool uploadPending() const;
    bool handoutsPending() const;

    void connecting();
    void connected();
    // True when the state lets the request be sent now; the caller sends it.
    bool startAttendance();
    bool startUpload(qint64 size);
    // The last byte of the file has been handed to the socket.
    void fileHandedOver();
    // Handouts: true when the list line may be sent now (the lecture line
    // came, nothing else outstanding); the caller sends it.
    bool startHandouts();
    // Every entry the 401 line announced has come.
    void handoutsListed();
    // True when a get line may be sent now: the list was checked, or the
    // previous file ended (its last byte or its refusal).
    bool requestHandout();
    // The fetch is over: back to where it began.
    void handoutsDone();
    // No answer to the hash line came in time: ready, nothing claimed. The
    // answer may still come; it is then passed over, not taken as a reply.
    void receiptAbsent();

    // Takes a reply and moves on; the step says what to do.
    Step receive(QStringView line);
    // The connection ended for a reason the caller tells the student (time
    // limit, cancel, loss): what is not confirmed because of it, empty when
    // nothing was outstanding.
    QString end();

    // The step a reply leads to in a state, without taking it.
    static Step stepFor(State state, wire::Reply reply, QStringView line);
    // What a state waits for, under a time limit: an answer to a request,
    // the server taking the file's queued bytes, or the confirmation.
    // Nothing for a fetch of handouts: a listing waits for hashes and a
    // handout may be large; 再接続 ends a fetch that stalls.
    enum class Wait { None, Answer, Progress, Confirmation, Receipt };
    static Wait waitIn(State state, bool bytesQueued);
    // Why the connection ends when that wait ran out; empty: no wait.
    static QString waitExceeded(State state, bool bytesQueued);
    // What the student is told is not confirmed when a connection ends in
    // `state`; empty when nothing is outstanding there.
    static QString unconfirmed(State state);

private:
    bool passesOverLateReceipt(wire::Reply reply);

    State m_state = State::Connecting;
    bool m_lectureSeen = false;
    int m_receiptsOverdue = 0; // hash lines whose answer came too late to wait for
    State m_beforeHandouts = State::Connected;
};
