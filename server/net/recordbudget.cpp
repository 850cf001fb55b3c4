#include "server/net/recordbudget.h"

#include <utility>

void RecordBudget::renewIfDue()
{
    const qint64 now = m_clock.elapsed();
    if (now - m_windowStart < WindowMs)
        return;
    m_windowStart = now;
    m_logSpent = 0;
    m_journalSpent = 0;
}

bool RecordBudget::spend(qint64 bytes)
{
    renewIfDue();
    if (m_logSpent + bytes > BytesPerWindow) {
        ++m_leftOut;
        return false;
    }
    m_logSpent += bytes;
    return true;
}

void RecordBudget::charge(qint64 bytes)
{
    renewIfDue();
    m_journalSpent += bytes;
}

bool RecordBudget::hasRoomFor(qint64 bytes)
{
    renewIfDue();
    return m_journalSpent + bytes <= BytesPerWindow;
}

qint64 RecordBudget::takeLeftOut()
{
    return std::exchange(m_leftOut, 0);
}
