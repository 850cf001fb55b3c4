#include "platform/sendqueue.h"

#include <QSocketNotifier>

#include <cerrno>

#include <sys/socket.h>

SendQueue::SendQueue(QObject *parent) : QObject(parent)
{}

SendQueue::~SendQueue()
{
    setDescriptor(-1);
}

void SendQueue::setDescriptor(int descriptor)
{
    clear();
    delete m_writable;
    m_writable = nullptr;
    m_descriptor = descriptor;
    if (descriptor < 0)
        return;
    m_writable = new QSocketNotifier(descriptor, QSocketNotifier::Write, this);
    m_writable->setEnabled(false);
    connect(m_writable, &QSocketNotifier::activated, this, &SendQueue::write);
}

void SendQueue::append(const QByteArray &bytes)
{
    if (m_descriptor < 0 || bytes.isEmpty())
        return;
    m_blocks.push_back(bytes);
    m_pending += bytes.size();
    // Only when nothing waited: otherwise the notifier is on already.
    if (m_pending == bytes.size())
        write();
}

void SendQueue::write()
{
    qint64 total = 0;
    int problem = 0;
    while (!m_blocks.empty()) {
        const QByteArray &block = m_blocks.front();
        const ssize_t n = ::send(m_descriptor, block.constData() + m_offset,
                                 size_t(block.size() - m_offset), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                problem = errno;
            else
                keepOnlyUnsent();
            break;
        }
        total += n;
        m_pending -= n;
        m_offset += n;
        if (m_offset == block.size()) {
            m_blocks.pop_front();
            m_offset = 0;
        }
    }
    if (m_writable)
        m_writable->setEnabled(!m_blocks.empty() && problem == 0);
    if (problem != 0)
        clear();
    if (total > 0)
        Q_EMIT taken(total);
    if (problem != 0)
        Q_EMIT failed(problem);
}

void SendQueue::keepOnlyUnsent()
{
    // A block the kernel took part of would hold its whole size while
    // waiting: what is held stays what is still to be sent.
    if (m_offset == 0 || m_blocks.empty())
        return;
    m_blocks.front() = m_blocks.front().sliced(m_offset);
    m_offset = 0;
}

void SendQueue::clear()
{
    m_blocks.clear();
    m_offset = 0;
    m_pending = 0;
    if (m_writable)
        m_writable->setEnabled(false);
}
