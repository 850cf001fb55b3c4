#pragma once

#include <QAbstractTableModel>

class RosterGrid;

// The roster grid as the window shows it: the horizontal header is grid row
// 0 and model row k is grid row k + 1. Flagged addresses and late
// submissions carry their notes as tooltips and a role of their own.
class RosterModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // True on a flagged address cell, nothing elsewhere. The view picks how
    // to show it.
    static constexpr int AddressFlaggedRole = Qt::UserRole + 1;
    // True on the 課題 cell of a submission completed after the due time.
    static constexpr int LateRole = Qt::UserRole + 2;

    explicit RosterModel(const RosterGrid &grid, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void beginResize(int from, int to);
    void endResize(int from, int to);
    void showCells(int row, int first, int last);
    QVariant lateData(int row, int role) const;
    QVariant flagData(int row, int role) const;

    const RosterGrid &m_grid;
};
