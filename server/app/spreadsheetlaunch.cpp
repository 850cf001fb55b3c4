#include "server/app/spreadsheetlaunch.h"

#include "platform/processstarter.h"
#include "server/records/durablefile.h"

#include <QDir>
#include <QTemporaryDir>

Result<QString> openCsvInSpreadsheet(ProcessStarter &processes, const QString &command,
                                     const QString &fileName, const QByteArray &csv)
{
    if (command.trimmed().isEmpty())
        return Result<QString>::failure(spreadsheetCommandFailure(command));
    // A folder of our own (mode 0700), so no one else can put a file in
    // the spreadsheet's way; it outlives this call on purpose.
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/tavrelle-XXXXXX"));
    if (!folder.isValid())
        return Result<QString>::failure(
            QStringLiteral("一時フォルダを作れません: %1").arg(folder.errorString()));
    folder.setAutoRemove(false);
    const QString path = folder.filePath(fileName);
    if (path.contains(u'"'))
        return Result<QString>::failure(QStringLiteral("一時フォルダ %1 の名前に「\"」があります｡")
                                            .arg(QDir::toNativeSeparators(folder.path())));
    if (const Result<> written = replaceFileDurably(path, csv); !written)
        return Result<QString>::failure(QStringLiteral("%1 に書き込めません｡\r\n%2")
                                            .arg(QDir::toNativeSeparators(path), written.error()));
    if (!processes.startDetached(command + QStringLiteral(" \"") + QDir::toNativeSeparators(path) +
                                 u'"')) {
        // Nothing will read it.
        QDir(folder.path()).removeRecursively();
        return Result<QString>::failure(spreadsheetCommandFailure(command));
    }
    return path;
}

QString spreadsheetCommandFailure(const QString &command)
{
    return QStringLiteral("有効なパスを記述してください｡\r\n") + command +
           QStringLiteral("\r\nは間違ったパスです");
}
