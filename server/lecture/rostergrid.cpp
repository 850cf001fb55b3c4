#include "server/lecture/rostergrid.h"

#include "common/clock.h"

#include <QTime>
#include <utility>

RosterGrid::RosterGrid(QObject *parent) : QObject(parent), m_rows(2)
{}

void RosterGrid::setRows(int count)
{
    count = qMax(count, 1); // the header row always stays
    const int old = rows();
    m_rowOfIdStale = true;
    if (count == old)
        return;
    Q_EMIT rowsAboutToBeResized(old, count);
    m_rows.resize(size_t(count));
    Q_EMIT rowsResized(old, count);
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
    QString &cell = m_rows[size_t(row)][size_t(column)];
    if (column == UserId)
        m_rowOfIdStale = true;
    const bool wasStamp = isTimeStamp(cell);
    cell = value;
    Q_EMIT cellsChanged(row, column, column);
    if (!isStudentRow(row) || wasStamp == isTimeStamp(value))
        return;
    const int delta = wasStamp ? -1 : 1;
    if (column == Attendance)
        m_present += delta;
    else if (column == Assignment)
        m_submitted += delta;
    else
        return;
    showCounts();
}

void RosterGrid::setRosterCount(int count)
{
    m_rosterCount = count;
    recount();
    Q_EMIT rosterCountChanged();
}

void RosterGrid::recount()
{
    m_present = 0;
    m_submitted = 0;
    for (int row = 1; row <= studentRows(); ++row) {
        m_present += isTimeStamp(m_rows[size_t(row)][Attendance]) ? 1 : 0;
        m_submitted += isTimeStamp(m_rows[size_t(row)][Assignment]) ? 1 : 0;
    }
    showCounts();
}

void RosterGrid::showCounts()
{
    // The total line follows the last student of a loaded roster.
    const int total = m_rosterCount + 1;
    if (total >= rows() || studentRows() != m_rosterCount ||
        m_rows[size_t(total)][UserId] != TotalLineId)
        return;
    Row &line = m_rows[size_t(total)];
    line[Attendance] = QStringLiteral("%1 人").arg(m_present);
    line[Assignment] = QStringLiteral("%1 人").arg(m_submitted);
    Q_EMIT cellsChanged(total, Attendance, Assignment);
}

void RosterGrid::flagAddress(int row)
{
    if (isStudentRow(row) && m_flaggedRows.insert(row).second)
        Q_EMIT cellsChanged(row, Address, Address);
}

void RosterGrid::clearAddressFlags()
{
    const std::set<int> flagged = std::exchange(m_flaggedRows, {});
    for (const int row : flagged)
        Q_EMIT cellsChanged(row, Address, Address);
}

QString RosterGrid::addressFlag(int row) const
{
    if (!m_flaggedRows.count(row))
        return {};
    return m_flagNotes ? m_flagNotes(row) : QStringLiteral("!");
}

void RosterGrid::setLateNote(int row, const QString &note)
{
    if (!isStudentRow(row))
        return;
    if (note.isEmpty())
        m_lateNotes.remove(row);
    else
        m_lateNotes.insert(row, note);
    Q_EMIT cellsChanged(row, Assignment, Assignment);
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
    Q_EMIT rowsAboutToBeReplaced();
    m_rows.resize(size_t(qMin(first, rows())));
    m_rows.insert(m_rows.end(), std::make_move_iterator(newRows.begin()),
                  std::make_move_iterator(newRows.end()));
    m_flaggedRows.clear();
    m_lateNotes.clear();
    m_rowOfIdStale = true;
    recount();
    Q_EMIT rowsReplaced();
}

int RosterGrid::studentRows() const
{
    // With N students the grid holds the header, N rows and the total line.
    return qBound(0, m_rosterCount, rows() - 2);
}

std::optional<int> RosterGrid::searchtext(const QString &userId) const
{
    if (m_rowOfIdStale) {
        m_rowOfId.clear();
        for (int row = rows() - 1; row >= 1; --row)
            m_rowOfId.insert(m_rows[size_t(row)][UserId], row);
        m_rowOfIdStale = false;
    }
    const int row = m_rowOfId.value(userId, 0);
    if (row < 1 || row > studentRows())
        return std::nullopt;
    return row;
}

bool RosterGrid::isTimeStamp(const QString &cell)
{
    return cell.size() == 8 && cell[2] == u':' && cell[5] == u':';
}

QString RosterGrid::timeOfDay()
{
    return timeStamp(Clock::timeOfDay());
}

QString RosterGrid::timeStamp(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

std::vector<RosterGrid::Row> RosterGrid::exportRows() const
{
    return {m_rows.begin(), m_rows.begin() + 1 + studentRows()};
}
