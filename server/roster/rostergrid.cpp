#include "server/roster/rostergrid.h"

#include <QTime>

RosterGrid::RosterGrid(QObject *parent) : QAbstractTableModel(parent), m_rows(2)
{}

void RosterGrid::setRows(int count)
{
    count = qMax(count, 1); // the header row always stays
    const int old = rows();
    if (count > old) {
        beginInsertRows(QModelIndex(), old - 1, count - 2);
        m_rows.resize(size_t(count));
        endInsertRows();
    } else if (count < old) {
        beginRemoveRows(QModelIndex(), count - 1, old - 2);
        m_rows.resize(size_t(count));
        endRemoveRows();
    }
}

bool RosterGrid::hasCell(int row, int column) const
{
    return row >= 0 && row < rows() && column >= 0 && column < ColumnCount;
}

const QString &RosterGrid::text(int row, int column) const
{
    static const QString none;
    return hasCell(row, column) ? m_rows[size_t(row)][size_t(column)] : none;
}

void RosterGrid::setText(int row, int column, const QString &value)
{
    if (!hasCell(row, column))
        return;
    m_rows[size_t(row)][size_t(column)] = value;
    if (row == 0)
        Q_EMIT headerDataChanged(Qt::Horizontal, column, column);
    else
        Q_EMIT dataChanged(index(row - 1, column), index(row - 1, column));
}

void RosterGrid::setColumnWidth(int column, int twips)
{
    if (!hasCell(0, column))
        return;
    m_widths[size_t(column)] = twips;
    Q_EMIT columnWidthChanged(column, twips);
}

int RosterGrid::columnWidth(int column) const
{
    return hasCell(0, column) ? m_widths[size_t(column)] : 0;
}

void RosterGrid::replaceRowsFrom(int first, std::vector<Row> newRows)
{
    Q_ASSERT(first >= 1);
    beginResetModel();
    m_rows.resize(size_t(qMin(first, rows())));
    m_rows.insert(m_rows.end(), std::make_move_iterator(newRows.begin()),
                  std::make_move_iterator(newRows.end()));
    endResetModel();
}

int RosterGrid::studentRows() const
{
    // With N students the grid holds the header, N rows and the total line.
    return qBound(0, m_rosterCount, rows() - 2);
}

std::optional<int> RosterGrid::searchtext(const QString &userId) const
{
    const int last = studentRows();
    for (int row = 1; row <= last; ++row) {
        if (m_rows[size_t(row)][UserId] == userId)
            return row;
    }
    return std::nullopt;
}

bool RosterGrid::isTimeStamp(const QString &cell)
{
    return cell.size() == 8 && cell[2] == u':' && cell[5] == u':';
}

QString RosterGrid::timeOfDay()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}

std::vector<RosterGrid::Row> RosterGrid::exportRows() const
{
    return {m_rows.begin(), m_rows.begin() + 1 + studentRows()};
}

int RosterGrid::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows() - 1;
}

int RosterGrid::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RosterGrid::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return m_rows[size_t(index.row() + 1)][size_t(index.column())];
}

QVariant RosterGrid::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal && section >= 0 && section < ColumnCount)
        return m_rows[0][size_t(section)];
    return {};
}
