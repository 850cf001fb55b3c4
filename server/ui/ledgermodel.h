#pragma once

#include <QAbstractTableModel>

class AttendanceLedger;
struct LedgerRow;

// The ledger as the window shows it: user ID, name, a column per session
// with the status letters, then the totals. Late, absent and excused cells
// each have a colour of their own; rows without the right to sit the exam,
// or with at most one absence left, are marked.
class LedgerModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int FirstSession = 2;
    static constexpr int TotalColumns = 7;

    explicit LedgerModel(const AttendanceLedger &ledger, QObject *parent = nullptr);

    // Session index of a column, -1 for the others.
    int sessionOf(int column) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QVariant text(const LedgerRow &row, int column) const;
    QVariant background(const LedgerRow &row, int column) const;
    QVariant toolTip(const LedgerRow &row, int column) const;
    bool isRowMark(int column) const;

    const AttendanceLedger &m_ledger;
};
