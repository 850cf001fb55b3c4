#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QString>

class ProcessStarter;

// 表計算で開く: `csv` goes to `fileName` in a temporary folder of its own
// (left for the spreadsheet program, which reads it after we return), and
// `command`, the ms-exceldir setting, is started with the file's path after
// it. The file's path, or the message for the lecturer.
Result<QString> openCsvInSpreadsheet(ProcessStarter &processes, const QString &command,
                                     const QString &fileName, const QByteArray &csv);

// "有効なパスを記述してください｡", the command, "は間違ったパスです".
QString spreadsheetCommandFailure(const QString &command);
