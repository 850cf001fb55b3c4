#pragma once

#include <QString>

struct Ledger;

// The ledger as comma-separated text, RFC 4180 quoting, every line ended by
// CR LF: "ユーザID,ユーザ名,", the session dates as YYYY/MM/DD, then the
// totals 出席,遅刻,欠席,公欠,出席率,受験資格,あと欠席可; one line per row.
QString ledgerCsv(const Ledger &ledger);
// The same with another delimiter (TAB for the clipboard); a field holding
// it is quoted.
QString ledgerText(const Ledger &ledger, QChar delimiter);
