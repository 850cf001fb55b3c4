#include "client/clientstartup.h"

#include "common/cp932.h"
#include "common/readvar.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// Error numbers as the students' help desk knows them.
constexpr int PathNotFound = 76;
constexpr int FileNotFound = 53;
constexpr int FileAccessError = 75;

const QString SettingsFile = QStringLiteral("var.cfg");

} // namespace

QString startupFailure(int number, const QString &description)
{
    return QString::number(number) + u' ' + description +
           QStringLiteral("\r\nプログラムを終了します");
}

QString clientFolder()
{
#ifdef TAVRELLE_CLIENT_DIR
    if (const QString fixed = QStringLiteral(TAVRELLE_CLIENT_DIR); !fixed.isEmpty())
        return fixed;
#endif
#ifdef Q_OS_WIN
    return QStringLiteral("d:\\wirelane");
#else
    return QCoreApplication::applicationDirPath();
#endif
}

Result<ClientSettings> prepareClient(const std::optional<QString> &userName, const QString &folder)
{
    if (!userName || userName->isEmpty() || cp932::encode(*userName).size() > MaxUserNameBytes) {
        return Result<ClientSettings>::failure(
            QStringLiteral("ユーザ名の取得に失敗\r\nログインしてから再起動してください"));
    }
    if (!QDir::setCurrent(folder)) {
        return Result<ClientSettings>::failure(startupFailure(
            PathNotFound, QStringLiteral("フォルダ %1 が見つかりません｡").arg(folder)));
    }
    ClientSettings settings{*userName, {}, {}, {}};
    const Result<QString> address = readvar(QStringLiteral("serveraddress"), SettingsFile);
    const Result<QString> port = readvar(QStringLiteral("port"), SettingsFile);
    if (!address || !port) {
        const QString reason = address ? port.error() : address.error();
        const bool missing = !QFileInfo::exists(SettingsFile);
        return Result<ClientSettings>::failure(
            startupFailure(missing ? FileNotFound : FileAccessError,
                           QStringLiteral("%1 を読み込めません (%2)｡")
                               .arg(QDir(folder).filePath(SettingsFile), reason)));
    }
    settings.serverAddress = *address;
    settings.serverPort = *port;
    settings.handoutFolder = readvar(QStringLiteral("haifusaki"), SettingsFile).valueOr({});
    return settings;
}
