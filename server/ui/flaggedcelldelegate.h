#pragma once

#include <QStyledItemDelegate>

// Shows the roster grid's flagged address cells highlighted, so that the
// lecturer looks at those rows.
class FlaggedCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QColor flaggedColour() { return {0xff, 0xc8, 0x96}; } // light orange

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};
