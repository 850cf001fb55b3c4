#include "client/conversation.h"

namespace {

using State = Conversation::State;
using Action = Conversation::Action;
using Reply = wire::Reply;

struct Row
{
    State state;
    Reply reply;
    State next;
    Action action;
    const char16_t *message;
};

const char16_t *const Refusal = u"サーバが課題の受け取りを断りました｡";

// Every reply that counts, in the one state that expects it. The greeting
// and the lecture line may come whenever no upload is under way.
constexpr Row Expected[] = {
    {State::Connected, Reply::Greeting, State::Connected, Action::None, nullptr},
    {State::Connected, Reply::Lecture, State::Connected, Action::ShowLecture, nullptr},
    {State::Attending, Reply::Greeting, State::Attending, Action::None, nullptr},
    {State::Attending, Reply::Lecture, State::Attending, Action::ShowLecture, nullptr},
    {State::Attending, Reply::Taken, State::Ready, Action::None, u"出席をとりました｡"},
    {State::Attending, Reply::Already, State::Ready, Action::None, u"既に出席を取っています｡"},
    {State::Attending, Reply::Unknown, State::Connected, Action::None,
     u"ユーザ名が登録されてません"},
    {State::Ready, Reply::Greeting, State::Ready, Action::None, nullptr},
    {State::Ready, Reply::Lecture, State::Ready, Action::ShowLecture, nullptr},
    {State::Requesting, Reply::ImageMode, State::Sending, Action::SendFile, nullptr},
    {State::Requesting, Reply::Refused, State::Ready, Action::None, Refusal},
    // An empty file has no byte to wait for: some servers confirm at once.
    {State::RequestingEmpty, Reply::ImageMode, State::Confirming, Action::None, nullptr},
    {State::RequestingEmpty, Reply::Received, State::Verifying, Action::AskReceipt, nullptr},
    {State::RequestingEmpty, Reply::Refused, State::Ready, Action::None, Refusal},
    {State::Confirming, Reply::Received, State::Verifying, Action::AskReceipt, nullptr},
    {State::Verifying, Reply::Greeting, State::Verifying, Action::None, nullptr},
    {State::Verifying, Reply::Lecture, State::Verifying, Action::ShowLecture, nullptr},
    // Handouts: the fetch tells the student itself how it went. The lines
    // after 401 and 402 are not replies and never reach the table.
    {State::Listing, Reply::Greeting, State::Listing, Action::None, nullptr},
    {State::Listing, Reply::Lecture, State::Listing, Action::ShowLecture, nullptr},
    {State::Listing, Reply::HandoutList, State::ListEntries, Action::TakeHandoutList, nullptr},
    {State::Listing, Reply::Refused, State::Fetching, Action::HandoutRefused, nullptr},
    {State::Fetching, Reply::Greeting, State::Fetching, Action::None, nullptr},
    {State::Fetching, Reply::Lecture, State::Fetching, Action::ShowLecture, nullptr},
    {State::Getting, Reply::Greeting, State::Getting, Action::None, nullptr},
    {State::Getting, Reply::Lecture, State::Getting, Action::ShowLecture, nullptr},
    {State::Getting, Reply::HandoutData, State::Receiving, Action::TakeHandout, nullptr},
    {State::Getting, Reply::Refused, State::Fetching, Action::HandoutRefused, nullptr},
};

// Enough of a stray reply to recognise it.
QString quoted(QStringView line)
{
    return shownText(line, 40);
}

QString refusalMessage(QStringView line)
{
    // Whole: a reason may name what the assignment accepts.
    constexpr qsizetype ReasonChars = 120;
    QString reason = shownText(wire::refusalReason(line), ReasonChars);
    if (reason.isEmpty())
        reason = QStringLiteral("(理由は示されていません)");
    return QString::fromUtf16(Refusal) + QStringLiteral("\r\n理由: ") + reason +
           QStringLiteral("\r\n提出は済んでいません｡");
}

} // namespace

QString shownText(QStringView text, qsizetype limit)
{
    QString shown;
    for (QChar c : text.first(qMin(text.size(), limit)))
        shown += c.category() == QChar::Other_Control ? u' ' : c;
    if (!shown.isEmpty() && shown.back().isHighSurrogate())
        shown.chop(1); // half a character is none
    return shown;
}

Conversation::Buttons Conversation::buttons() const
{
    switch (m_state) {
    case State::Connected:
        return {true, false, false, m_lectureSeen};
    case State::Ready:
        return {false, true, false, m_lectureSeen};
    case State::Attending:
        return {false, false, false};
    case State::Requesting:
    case State::RequestingEmpty:
    case State::Sending:
    case State::Confirming:
        return {false, false, true}; // 再接続 cancels the upload
    case State::Verifying:
        return {false, false, true}; // 再接続 stops waiting for the receipt
    case State::Listing:
    case State::ListEntries:
    case State::Fetching:
    case State::Getting:
    case State::Receiving:
        return {false, false, true}; // 再接続 cancels the fetch
    case State::Connecting:
    case State::Closed:
        break;
    }
    return {false, false, true};
}

bool Conversation::uploadPending() const
{
    return m_state == State::Requesting || m_state == State::RequestingEmpty ||
           m_state == State::Sending || m_state == State::Confirming;
}

bool Conversation::handoutsPending() const
{
    return m_state == State::Listing || m_state == State::ListEntries ||
           m_state == State::Fetching || m_state == State::Getting || m_state == State::Receiving;
}

void Conversation::connecting()
{
    m_state = State::Connecting;
    m_lectureSeen = false;
    m_receiptsOverdue = 0;
}

void Conversation::connected()
{
    m_state = State::Connected;
    m_lectureSeen = false;
    m_receiptsOverdue = 0;
}

bool Conversation::startAttendance()
{
    if (m_state != State::Connected)
        return false;
    m_state = State::Attending;
    return true;
}

bool Conversation::startUpload(qint64 size)
{
    if (m_state != State::Ready)
        return false;
    m_state = size == 0 ? State::RequestingEmpty : State::Requesting;
    return true;
}

void Conversation::fileHandedOver()
{
    if (m_state == State::Sending)
        m_state = State::Confirming;
}

bool Conversation::startHandouts()
{
    if (!buttons().handouts)
        return false;
    m_beforeHandouts = m_state;
    m_state = State::Listing;
    return true;
}

void Conversation::handoutsListed()
{
    if (m_state == State::ListEntries)
        m_state = State::Fetching;
}

bool Conversation::requestHandout()
{
    if (m_state != State::Fetching && m_state != State::Receiving)
        return false;
    m_state = State::Getting;
    return true;
}

void Conversation::handoutsDone()
{
    if (handoutsPending())
        m_state = m_beforeHandouts;
}

void Conversation::receiptAbsent()
{
    if (m_state != State::Verifying)
        return;
    m_state = State::Ready;
    ++m_receiptsOverdue;
}

// A busy server may answer the hash line after the student program stopped
// waiting: that answer is no fault of the server's. A 403 answers nothing
// else; a 499 is taken for the late answer only where no request of the
// student's could have earned it (a server that never answers the hash
// line must still be able to refuse a later upload).
bool Conversation::passesOverLateReceipt(wire::Reply reply)
{
    if (m_receiptsOverdue == 0 || (reply != wire::Reply::Receipt && reply != wire::Reply::Refused))
        return false;
    if (reply == wire::Reply::Refused && stepFor(m_state, reply, u"499").action != Action::Close)
        return false;
    --m_receiptsOverdue;
    return true;
}

Conversation::Step Conversation::receive(QStringView line)
{
    const wire::Reply reply = wire::replyOf(line);
    if (passesOverLateReceipt(reply))
        return {m_state, Action::PassOver, {}};
    const Step step = stepFor(m_state, reply, line);
    m_state = step.next;
    if (step.action == Action::ShowLecture)
        m_lectureSeen = true;
    return step;
}

QString Conversation::end()
{
    m_lectureSeen = false;
    return unconfirmed(std::exchange(m_state, State::Closed));
}

Conversation::Step Conversation::stepFor(State state, Reply reply, QStringView line)
{
    for (const Row &row : Expected) {
        if (row.state != state || row.reply != reply)
            continue;
        if (reply == Reply::Refused && row.message)
            return {row.next, row.action, refusalMessage(line)};
        return {row.next, row.action, row.message ? QString::fromUtf16(row.message) : QString()};
    }
    // The server asks to be left: only what was outstanding is worth a word.
    if (reply == Reply::Close)
        return {State::Closed, Action::Close, unconfirmed(state)};
    if (state == State::Verifying)
        return {State::Ready, Action::TakeReceipt, {}};
    const QString outstanding = unconfirmed(state);
    return {State::Closed, Action::Close,
            QStringLiteral("サーバから思いがけない返事｢%1｣が届いたため､接続を切りました｡\r\n")
                    .arg(quoted(line)) +
                (outstanding.isEmpty() ? QStringLiteral("再接続ボタンを押してください｡")
                                       : outstanding)};
}

QString Conversation::unconfirmed(State state)
{
    switch (state) {
    case State::Attending:
        return QStringLiteral("出席は確認されていません｡再接続してから出欠を押し直してください｡");
    case State::Requesting:
    case State::RequestingEmpty:
    case State::Sending:
    case State::Confirming:
        return QStringLiteral("提出は済んでいません｡再接続してから送り直してください｡");
    case State::Connecting:
    case State::Connected:
    case State::Ready:
    case State::Verifying: // 302 came: the file is stored
    case State::Listing:   // a fetch tells the student itself what it got
    case State::ListEntries:
    case State::Fetching:
    case State::Getting:
    case State::Receiving:
    case State::Closed:
        break;
    }
    return {};
}

Conversation::Wait Conversation::waitIn(State state, bool bytesQueued)
{
    switch (state) {
    case State::Attending:
    case State::Requesting:
    case State::RequestingEmpty:
        return Wait::Answer;
    case State::Sending:
        return Wait::Progress;
    case State::Confirming:
        return bytesQueued ? Wait::Progress : Wait::Confirmation;
    case State::Verifying:
        return Wait::Receipt;
    case State::Connecting:
    case State::Connected:
    case State::Ready:
    case State::Listing:
    case State::ListEntries:
    case State::Fetching:
    case State::Getting:
    case State::Receiving:
    case State::Closed:
        break;
    }
    return Wait::None;
}

QString Conversation::waitExceeded(State state, bool bytesQueued)
{
    switch (waitIn(state, bytesQueued)) {
    case Wait::Answer:
        return state == State::Attending
                   ? QStringLiteral("サーバが出欠に答えないため､接続を切りました｡")
                   : QStringLiteral(
                         "サーバが課題の受け取りを始めなかったため､送信を取りやめました｡");
    case Wait::Progress:
        return QStringLiteral("サーバが30秒の間データを受け取らなかったため､送信を取りやめました｡");
    case Wait::Confirmation:
        return QStringLiteral("送り終えてから60秒たってもサーバが受け取りを"
                              "確認しないため､接続を切りました｡");
    case Wait::Receipt: // the upload stands confirmed without its receipt
    case Wait::None:
        break;
    }
    return {};
}
