#include "server/net/recordbudget.h"

#include <utility>

void RecordBudget::renewIfDue()
{
    const qint64 now = m_clock.elapsed();
    if (now - m_windowStart < WindowMs)
        return;
    m_windowStart = now;
    m_spent = 0;
}

bool RecordBudget::spend(qint64 bytes)
{
    renewIfDue();
    if (m_spent + bytes > BytesPerWindow) {
        ++m_leftOut;
        return false;
    }
    m_spent += bytes;
    return true;
}

void RecordBudget::charge(qint64 bytes)
{
    renewIfDue();
    m_spent += bytes;
}

bool RecordBudget::hasRoomFor(qint64 bytes)
{
    renewIfDue();
    return m_spent + bytes <= BytesPerWindow;
}

qint64 RecordBudget::takeLeftOut()
{
    return std::exchange(m_leftOut, 0);
}
