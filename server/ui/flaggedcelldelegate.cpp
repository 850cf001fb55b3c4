#include "server/ui/flaggedcelldelegate.h"

#include "server/lecture/rostergrid.h"
#include "server/ui/rostermodel.h"

void FlaggedCellDelegate::initStyleOption(QStyleOptionViewItem *option,
                                          const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.data(RosterModel::AddressFlaggedRole).toBool())
        option->backgroundBrush = flaggedColour();
    else if (index.data(RosterModel::LateRole).toBool())
        option->backgroundBrush = lateColour();
}
