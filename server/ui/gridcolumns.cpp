#include "server/ui/gridcolumns.h"

#include <QEvent>
#include <QTableView>

#include <numeric>

GridColumns::GridColumns(QTableView &view, int layoutWidth)
    : QObject(&view), m_view(view), m_layoutWidth(qMax(1, layoutWidth))
{
    view.installEventFilter(this);
}

void GridColumns::setBaseWidth(int column, int pixels)
{
    if (column < 0)
        return;
    if (column >= m_base.size())
        m_base.resize(column + 1, 0);
    m_base[column] = pixels;
    apply();
}

bool GridColumns::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_view && event->type() == QEvent::Resize)
        apply();
    return QObject::eventFilter(watched, event);
}

void GridColumns::apply()
{
    const qint64 columns = std::accumulate(m_base.cbegin(), m_base.cend(), qint64(0));
    if (columns <= 0)
        return;
    // Scaling the whole layout width would widen the empty space too.
    const qint64 room = columns + qMax(0, m_view.width() - m_layoutWidth);
    for (int column = 0; column < m_base.size(); ++column)
        m_view.setColumnWidth(column, int(m_base[column] * room / columns));
}
