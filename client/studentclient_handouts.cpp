#include "client/studentclient.h"

#include "client/handoutfetch.h"
#include "platform/dialogs.h"
#include "platform/socket.h"

// The handout fetch's share of the connection.

bool StudentClient::handoutsEnabled() const
{
    return m_buttons.handouts;
}

bool StudentClient::fetchingHandouts() const
{
    return m_talk.handoutsPending();
}

void StudentClient::btnHandouts_Click()
{
    if (m_socket->state() != Socket::StateConnected || !m_talk.startHandouts())
        return;
    if (const Result<> started = m_handouts->start(handoutFolderFor(m_handoutFolder, m_kougimei));
        !started) {
        if (!started.error().isEmpty())
            m_messages.show(started.error());
        m_talk.handoutsDone(); // the folder cannot be made: nothing was asked
        refreshButtons();
        return;
    }
    sendLine(wire::ListCommand + wire::Eol);
    refreshButtons();
}

void StudentClient::sendGet(const QString &line)
{
    if (m_talk.requestHandout())
        sendLine(line);
}

bool StudentClient::takeHandoutEntry(const QString &line)
{
    if (!m_handouts->takeEntry(line)) {
        lose();
        return false;
    }
    if (!m_handouts->wantsEntries())
        m_talk.handoutsListed();
    return true;
}

// A reply too long to be one is dropped; during a fetch it is a listing
// or an answer the fetch cannot take: the connection ends.
bool StudentClient::takeOverflow()
{
    if (!m_talk.handoutsPending())
        return true;
    m_handouts->lineTooLong();
    lose();
    return false;
}

// The fetch ends (its message follows): the conversation is back where it
// was before 配布物.
void StudentClient::handoutsActiveChanged()
{
    if (!m_handouts->active()) {
        m_talk.handoutsDone();
        refreshButtons();
    }
}

// The 401 or 402 line, or a refusal of the fetch's request. A 401 or 402
// the fetch does not take leaves no way to tell lines from bytes: the
// connection ends.
bool StudentClient::takeHandoutReply(Conversation::Action action, const QString &line)
{
    Result<> understood = Result<>::success();
    if (action == Conversation::Action::TakeHandoutList)
        understood = m_handouts->takeCount(line);
    else if (action == Conversation::Action::TakeHandout)
        understood = m_handouts->takeData(line);
    else
        m_handouts->refused(wire::refusalReason(line));
    if (understood)
        return true;
    lose();
    return false;
}

// The window closes: a fetch stops at once and without a word.
void StudentClient::closeForExit()
{
    m_poll.stop();
    m_handouts->stop();
    m_talk.end();
    m_socket->close();
}
