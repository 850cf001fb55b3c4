#include "server/ui/ledgermodel.h"

#include "server/app/attendanceledger.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QTime>

namespace {

const QColor LateColour(0xff, 0xe8, 0x8c);
const QColor AbsentColour(0xf4, 0xa6, 0xa6);
const QColor ExcusedColour(0xb8, 0xd4, 0xf8);
const QColor NotEligibleColour(0xd9, 0x3b, 0x3b);
const QColor AtRiskColour(0xff, 0xc8, 0x70);

const QString TotalHeadings[LedgerModel::TotalColumns] = {
    QStringLiteral("出席"),      QStringLiteral("遅刻"),   QStringLiteral("欠席"),
    QStringLiteral("公欠"),      QStringLiteral("出席率"), QStringLiteral("受験資格"),
    QStringLiteral("あと欠席可")};

QString markTime(int seconds)
{
    const int day = 24 * 3600;
    const QString time = QTime(0, 0).addSecs(seconds % day).toString(QStringLiteral("HH:mm:ss"));
    return seconds >= day ? time + QStringLiteral(" (翌日)") : time;
}

} // namespace

LedgerModel::LedgerModel(const AttendanceLedger &ledger, QObject *parent)
    : QAbstractTableModel(parent), m_ledger(ledger)
{
    connect(&ledger, &AttendanceLedger::changed, this, [this] {
        beginResetModel();
        endResetModel();
    });
}

int LedgerModel::sessionOf(int column) const
{
    const int session = column - FirstSession;
    return session >= 0 && session < m_ledger.ledger().sessions.size() ? session : -1;
}

int LedgerModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_ledger.ledger().rows.size());
}

int LedgerModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0
                            : FirstSession + int(m_ledger.ledger().sessions.size()) + TotalColumns;
}

QVariant LedgerModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section == 0)
        return QStringLiteral("ユーザID");
    if (section == 1)
        return QStringLiteral("ユーザ名");
    if (const int session = sessionOf(section); session >= 0)
        return m_ledger.ledger().sessions[session].toString(QStringLiteral("MM/dd"));
    const int total = section - FirstSession - int(m_ledger.ledger().sessions.size());
    return total >= 0 && total < TotalColumns ? QVariant(TotalHeadings[total]) : QVariant();
}

QVariant LedgerModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || size_t(index.row()) >= m_ledger.ledger().rows.size())
        return {};
    const LedgerRow &row = m_ledger.ledger().rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return text(row, index.column());
    case Qt::BackgroundRole:
        return background(row, index.column());
    case Qt::ForegroundRole:
        if (isRowMark(index.column()) && !row.totals.eligible)
            return QBrush(Qt::white);
        return {};
    case Qt::FontRole: {
        const int session = sessionOf(index.column());
        if (session < 0 || !row.cells[size_t(session)].corrected)
            return {};
        QFont font;
        font.setBold(true);
        return font;
    }
    case Qt::ToolTipRole:
        return toolTip(row, index.column());
    case Qt::TextAlignmentRole:
        return index.column() >= FirstSession ? QVariant(Qt::AlignCenter) : QVariant();
    default:
        return {};
    }
}

QVariant LedgerModel::text(const LedgerRow &row, int column) const
{
    if (column == 0)
        return row.userId;
    if (column == 1)
        return row.name;
    if (const int session = sessionOf(column); session >= 0)
        return statusLetter(row.cells[size_t(session)].status);
    const LedgerTotals &totals = row.totals;
    switch (column - FirstSession - int(m_ledger.ledger().sessions.size())) {
    case 0:
        return totals.present;
    case 1:
        return totals.late;
    case 2:
        return totals.absent;
    case 3:
        return totals.excused;
    case 4:
        return totals.rate;
    case 5:
        return totals.eligible ? QStringLiteral("可") : QStringLiteral("不可");
    case 6:
        return totals.absencesLeft;
    default:
        return {};
    }
}

QVariant LedgerModel::background(const LedgerRow &row, int column) const
{
    if (const int session = sessionOf(column); session >= 0) {
        switch (row.cells[size_t(session)].status) {
        case SessionStatus::Late:
            return QBrush(LateColour);
        case SessionStatus::Absent:
            return QBrush(AbsentColour);
        case SessionStatus::Excused:
            return QBrush(ExcusedColour);
        case SessionStatus::Present:
            return {};
        }
    }
    const bool rowMark = isRowMark(column);
    if (rowMark && !row.totals.eligible)
        return QBrush(NotEligibleColour);
    if (rowMark && row.totals.atRisk)
        return QBrush(AtRiskColour);
    return {};
}

bool LedgerModel::isRowMark(int column) const
{
    // ID, name and 受験資格 carry the row's mark.
    return column < FirstSession || column == columnCount() - 2;
}

QVariant LedgerModel::toolTip(const LedgerRow &row, int column) const
{
    if (const int session = sessionOf(column); session >= 0) {
        const LedgerCell &cell = row.cells[size_t(session)];
        QString tip = cell.markSeconds >= 0
                          ? QStringLiteral("出席の印 %1").arg(markTime(cell.markSeconds))
                          : QStringLiteral("出席の印なし");
        const QDate date = m_ledger.ledger().sessions[session];
        if (const auto correction = m_ledger.corrections().cell(date, row.userId))
            tip += QStringLiteral("\n訂正: %1 %2")
                       .arg(statusLetter(correction->status), correction->reason);
        return tip;
    }
    if (!row.totals.eligible)
        return QStringLiteral("受験資格がありません");
    if (row.totals.atRisk)
        return QStringLiteral("あと %1 回の欠席で受験資格を失います")
            .arg(row.totals.absencesLeft + 1);
    return {};
}
