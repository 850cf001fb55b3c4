#include "server/ui/rosterfilter.h"

#include "server/lecture/rostergrid.h"

#include <QTime>

RosterFilter::RosterFilter(const RosterGrid &grid, QObject *parent)
    : QSortFilterProxyModel(parent), m_grid(grid)
{
    // A mark or a flag may move a row in or out of the filter.
    setDynamicSortFilter(true);
    // A roster's rows become students only once its count is set.
    connect(&grid, &RosterGrid::rosterCountChanged, this, &RosterFilter::invalidateFilter);
}

void RosterFilter::setKind(Kind kind)
{
    m_kind = kind;
    invalidateFilter();
}

void RosterFilter::setSearch(const QString &text)
{
    m_search = text;
    invalidateFilter();
}

void RosterFilter::setLateAfter(std::optional<int> seconds)
{
    m_lateAfter = seconds;
    invalidateFilter();
}

bool RosterFilter::isOfKind(int row, Kind kind) const
{
    const QString &attended = m_grid.text(row, RosterGrid::Attendance);
    switch (kind) {
    case All:
    case KindCount:
        return true;
    case Absent:
        return attended.isEmpty();
    case NotHandedIn:
        return m_grid.text(row, RosterGrid::Assignment).isEmpty();
    case Late: {
        const QTime time = QTime::fromString(attended, QStringLiteral("HH:mm:ss"));
        return m_lateAfter && time.isValid() && time.msecsSinceStartOfDay() / 1000 > *m_lateAfter;
    }
    case Flagged:
        return m_grid.isAddressFlagged(row);
    }
    return true;
}

bool RosterFilter::matchesSearch(int row) const
{
    return m_search.isEmpty() ||
           m_grid.text(row, RosterGrid::UserId).contains(m_search, Qt::CaseInsensitive) ||
           m_grid.text(row, RosterGrid::UserName).contains(m_search, Qt::CaseInsensitive);
}

bool RosterFilter::filterAcceptsRow(int sourceRow, const QModelIndex &) const
{
    const int row = sourceRow + 1; // the model leaves out the heading row
    if (row > m_grid.studentRows())
        return true; // the 計 line
    return isOfKind(row, m_kind) && matchesSearch(row);
}

int RosterFilter::count(Kind kind) const
{
    int count = 0;
    for (int row = 1; row <= m_grid.studentRows(); ++row)
        count += isOfKind(row, kind) ? 1 : 0;
    return count;
}

QString RosterFilter::caption(Kind kind) const
{
    static const char16_t *const names[KindCount] = {u"全員", u"未出席", u"未提出", u"遅刻",
                                                     u"要確認"};
    return QStringLiteral("%1 (%2)").arg(QString::fromUtf16(names[kind])).arg(count(kind));
}
