#include "server/term/ledgercsv.h"

#include "common/csvtext.h"
#include "server/term/ledger.h"

#include <QStringList>

namespace {

const QString Eol = QStringLiteral("\r\n");

QString rowLine(const LedgerRow &row, QChar delimiter)
{
    QStringList fields{csvField(textCell(row.userId), delimiter),
                       csvField(textCell(row.name), delimiter)};
    for (const LedgerCell &cell : row.cells)
        fields << statusLetter(cell.status);
    const LedgerTotals &totals = row.totals;
    for (const int count : {totals.present, totals.late, totals.absent, totals.excused})
        fields << QString::number(count);
    fields << totals.rate << (totals.eligible ? QStringLiteral("可") : QStringLiteral("不可"))
           << QString::number(totals.absencesLeft);
    return fields.join(delimiter) + Eol;
}

} // namespace

QString ledgerCsv(const Ledger &ledger)
{
    return ledgerText(ledger, u',');
}

QString ledgerText(const Ledger &ledger, QChar delimiter)
{
    QStringList heading{QStringLiteral("ユーザID"), QStringLiteral("ユーザ名")};
    for (const QDate date : ledger.sessions)
        heading << date.toString(QStringLiteral("yyyy/MM/dd"));
    heading << QStringLiteral("出席") << QStringLiteral("遅刻") << QStringLiteral("欠席")
            << QStringLiteral("公欠") << QStringLiteral("出席率") << QStringLiteral("受験資格")
            << QStringLiteral("あと欠席可");
    QString text = heading.join(delimiter) + Eol;
    for (const LedgerRow &row : ledger.rows)
        text += rowLine(row, delimiter);
    return text;
}
