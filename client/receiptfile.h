#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QString>

// The student's own copy of each receipt whose stored file the server
// showed to be the one sent: 提出控え.txt in the handout folder, one line
// per submission, never rewritten, only added to.
inline const QString ReceiptFileName = QStringLiteral("提出控え.txt");

struct ReceiptEntry
{
    QString storedAt;      // the server's YYYY/MM/DD HH:MM:SS
    QString lecture;       // 講義名
    QString announcedName; // the name the server stored it under
    QString originalName;  // the student's own file name
    qint64 size = 0;
    QByteArray sha256; // 64 lower-case hex digits
};

// "<日時>,<講義名>,<提出名>,<元のファイル>,<サイズ>,<SHA-256>" without a line end.
QString receiptFileLine(const ReceiptEntry &entry);

// Adds the entry's line (code page 932, CR LF) to ReceiptFileName in
// `folder`, made when missing: in one write at the file's end, forced to
// the disk before it returns. Never through a link; a failure says why.
Result<> appendReceipt(const QString &folder, const ReceiptEntry &entry);
