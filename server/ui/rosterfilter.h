#pragma once

#include <QSortFilterProxyModel>
#include <optional>

class RosterGrid;

// Which rows of the roster model the grid shows: every student, those not
// present, those who have not handed in, the late, or the flagged (要確認),
// narrowed by a search text that an ID or a name contains. The 計 row is
// always shown. Only the view is narrowed: saves, copies and exports read
// the grid itself.
class RosterFilter : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    enum Kind { All, Absent, NotHandedIn, Late, Flagged, KindCount };

    explicit RosterFilter(const RosterGrid &grid, QObject *parent = nullptr);

    void setKind(Kind kind);
    Kind kind() const { return m_kind; }
    void setSearch(const QString &text);
    // Seconds of the day after which a mark is late (kaisi + tikoku).
    void setLateAfter(std::optional<int> seconds);

    // Students of `kind`, the search left aside.
    int count(Kind kind) const;
    // "全員 (35)" and the like.
    QString caption(Kind kind) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    bool isOfKind(int gridRow, Kind kind) const;
    bool matchesSearch(int gridRow) const;

    const RosterGrid &m_grid;
    Kind m_kind = All;
    QString m_search;
    std::optional<int> m_lateAfter;
};
