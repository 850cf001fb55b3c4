#include "server/ui/rostermodel.h"

#include "server/lecture/rostergrid.h"

RosterModel::RosterModel(const RosterGrid &grid, QObject *parent)
    : QAbstractTableModel(parent), m_grid(grid)
{
    connect(&grid, &RosterGrid::rowsAboutToBeResized, this, &RosterModel::beginResize);
    connect(&grid, &RosterGrid::rowsResized, this, &RosterModel::endResize);
    connect(&grid, &RosterGrid::rowsAboutToBeReplaced, this, &RosterModel::beginResetModel);
    connect(&grid, &RosterGrid::rowsReplaced, this, &RosterModel::endResetModel);
    connect(&grid, &RosterGrid::cellsChanged, this, &RosterModel::showCells);
}

void RosterModel::beginResize(int from, int to)
{
    if (to > from)
        beginInsertRows(QModelIndex(), from - 1, to - 2);
    else
        beginRemoveRows(QModelIndex(), to - 1, from - 2);
}

void RosterModel::endResize(int from, int to)
{
    if (to > from)
        endInsertRows();
    else
        endRemoveRows();
}

void RosterModel::showCells(int row, int first, int last)
{
    if (row == 0)
        Q_EMIT headerDataChanged(Qt::Horizontal, first, last);
    else
        Q_EMIT dataChanged(index(row - 1, first), index(row - 1, last));
}

int RosterModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_grid.rows() - 1;
}

int RosterModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : RosterGrid::ColumnCount;
}

QVariant RosterModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    const int row = index.row() + 1;
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_grid.text(row, index.column());
    if (index.column() == RosterGrid::Assignment)
        return lateData(row, role);
    if (index.column() == RosterGrid::Address)
        return flagData(row, role);
    return {};
}

QVariant RosterModel::lateData(int row, int role) const
{
    const QString note = m_grid.lateNote(row);
    if (note.isEmpty())
        return {};
    if (role == Qt::ToolTipRole)
        return note;
    if (role == LateRole)
        return true;
    return {};
}

QVariant RosterModel::flagData(int row, int role) const
{
    if (!m_grid.isAddressFlagged(row))
        return {};
    if (role == Qt::ToolTipRole)
        return m_grid.addressFlag(row);
    if (role == AddressFlaggedRole)
        return true;
    return {};
}

QVariant RosterModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal && section >= 0 && section < RosterGrid::ColumnCount)
        return m_grid.text(0, section);
    return {};
}
