#include "server/ui/flaggedcelldelegate.h"

#include "server/lecture/rostergrid.h"

void FlaggedCellDelegate::initStyleOption(QStyleOptionViewItem *option,
                                          const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.data(RosterGrid::AddressFlaggedRole).toBool())
        option->backgroundBrush = flaggedColour();
    else if (index.data(RosterGrid::LateRole).toBool())
        option->backgroundBrush = lateColour();
}
