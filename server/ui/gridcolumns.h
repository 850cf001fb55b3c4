#pragma once

#include <QList>
#include <QObject>

class QTableView;

// Makes the grid's columns follow its width: the room a grid wider than the
// layout made it gains goes to the columns, each widened by the same factor,
// so the columns keep their shares and the space beside them stays as the
// layout left it; at the layout's width they are exactly the layout's widths.
class GridColumns : public QObject
{
    Q_OBJECT
public:
    // `layoutWidth`: the grid's width in the layout, in pixels.
    GridColumns(QTableView &view, int layoutWidth);

    // The layout's width of `column`, in pixels.
    void setBaseWidth(int column, int pixels);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void apply();

    QTableView &m_view;
    int m_layoutWidth;
    QList<int> m_base;
};
