#pragma once

#include <QStyledItemDelegate>

// Shows the roster grid's flagged address cells and late submissions
// highlighted, so that the lecturer looks at those rows.
class FlaggedCellDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static QColor flaggedColour() { return {0xff, 0xc8, 0x96}; } // light orange
    static QColor lateColour() { return {0xff, 0xb4, 0xb4}; }    // light red

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};
