#include "server/ui/gridcolumns.h"

#include <QEvent>
#include <QTableView>

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
    const int width = qMax(m_view.width(), m_layoutWidth);
    for (int column = 0; column < m_base.size(); ++column)
        m_view.setColumnWidth(column, int(qint64(m_base[column]) * width / m_layoutWidth));
}
