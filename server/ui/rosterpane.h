#pragma once

#include "server/ui/rosterfilter.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <optional>

class GridColumns;
class QLineEdit;
class QTableView;
class QToolButton;
class RosterGrid;
class RosterModel;

// The roster grid with its filters above it: a button for each filter
// showing how many students it holds, and a search on ID or name (Ctrl+F).
// The filters narrow only what the grid shows; saves, copies and exports
// read the grid itself.
class RosterPane : public QWidget
{
    Q_OBJECT
public:
    // Counts wait this long after a change, so that a class arriving at
    // once costs a few countings.
    static constexpr int CountDelayMs = 100;

    // `layoutWidth`: the grid's width in the window's layout, in pixels.
    RosterPane(const RosterGrid &grid, int layoutWidth, QWidget *parent = nullptr);
    ~RosterPane() override;

    QTableView &view() { return *m_view; }
    RosterFilter &filter() { return *m_filter; }
    // What the filters take above the grid, in pixels.
    int barHeight() const;
    void setLateAfter(std::optional<int> seconds);
    // Selects the student's row; a filter that hides it gives way to 全員.
    void selectStudent(const QString &userId);
    void focusSearch();

private:
    void buildBar();
    void buildView(int layoutWidth);
    int columnPixels(int column, int twips) const;
    int timeCellPixels() const;
    void scheduleCounts();
    void showCounts();

    const RosterGrid &m_grid;
    RosterModel *m_model = nullptr;
    RosterFilter *m_filter = nullptr;
    QWidget *m_bar = nullptr;
    std::array<QToolButton *, RosterFilter::KindCount> m_kinds{};
    QLineEdit *m_search = nullptr;
    QTableView *m_view = nullptr;
    GridColumns *m_columns = nullptr;
    QTimer m_counts;
};
