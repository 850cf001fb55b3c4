#include "platform/widgets/qtdocumentopener.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

// xdg-open's exit codes.
QString xdgOpenFailure(int exitCode)
{
    switch (exitCode) {
    case 2:
        return QStringLiteral("ファイルがありません");
    case 3:
        return QStringLiteral("このファイルを表示するプログラムがありません");
    case 4:
        return QStringLiteral("表示するプログラムが異常終了しました");
    default:
        return QStringLiteral("xdg-open が終了コード %1 で終了しました").arg(exitCode);
    }
}

} // namespace

QtDocumentOpener::~QtDocumentOpener()
{
    // A viewer still open when the program ends keeps running: xdg-open is
    // stopped, the viewer it started is not. Nobody is told about that.
    for (QProcess *process : findChildren<QProcess *>())
        process->disconnect();
}

void QtDocumentOpener::open(const QString &path, Failure failed)
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (openWithXdgOpen(path, failed))
        return;
#endif
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        failed(QStringLiteral("このファイルを表示するプログラムがありません"));
}

bool QtDocumentOpener::openWithXdgOpen(const QString &path, const Failure &failed)
{
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (xdgOpen.isEmpty())
        return false;
    auto *process = new QProcess(this);
    process->setProgram(xdgOpen);
    process->setArguments({path});
    // The viewer inherits these: no pipe of ours may outlive the watch.
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this,
            [process, failed](int exitCode, QProcess::ExitStatus status) {
                process->deleteLater();
                if (status != QProcess::NormalExit)
                    failed(QStringLiteral("xdg-open が異常終了しました"));
                else if (exitCode != 0)
                    failed(xdgOpenFailure(exitCode));
            });
    connect(process, &QProcess::errorOccurred, this, [process, failed](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart)
            return;
        process->deleteLater();
        failed(QStringLiteral("xdg-open を起動できません: ") + process->errorString());
    });
    process->start();
    return true;
}
