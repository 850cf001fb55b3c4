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
constexpr int InvalidSetting = 380;

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

namespace {

// var.cfg is a few lines written by hand: anything larger is not it.
constexpr qint64 MaxSettingsBytes = 64 * 1024;

using Setting = Result<QString>;

QString settingsPath(const QString &folder)
{
    return QDir(folder).filePath(SettingsFile);
}

Result<SettingLine> settingFailure(int number, const QString &description)
{
    return Result<SettingLine>::failure(startupFailure(number, description));
}

// The line of `key`, or the start-up message that says what is wrong.
Result<SettingLine> readSetting(const Result<SettingsText> &file, const QString &key,
                                const QString &folder)
{
    const QString path = settingsPath(folder);
    if (!file) {
        const bool missing = !QFileInfo::exists(SettingsFile);
        return settingFailure(missing ? FileNotFound : FileAccessError,
                              QStringLiteral("%1 を読み込めません (%2)｡").arg(path, file.error()));
    }
    const std::optional<SettingLine> found = file->line(key);
    if (!found) {
        return settingFailure(
            InvalidSetting,
            QStringLiteral("%1 に %2 の行がありません｡%2=… の行を書いてください｡").arg(path, key));
    }
    if (found->value.isEmpty()) {
        return settingFailure(InvalidSetting, QStringLiteral("%1 の %2 行目: %3 の値が空です｡")
                                                  .arg(path)
                                                  .arg(found->number)
                                                  .arg(key));
    }
    return *found;
}

Setting invalid(const QString &folder, const QString &key, const SettingLine &line,
                const QString &why)
{
    return Setting::failure(
        startupFailure(InvalidSetting, QStringLiteral("%1 の %2 行目: %3 の値｢%4｣%5")
                                           .arg(settingsPath(folder))
                                           .arg(line.number)
                                           .arg(key, line.value, why)));
}

Setting serverAddress(const Result<SettingsText> &file, const QString &folder)
{
    const QString key = QStringLiteral("serveraddress");
    const Result<SettingLine> line = readSetting(file, key, folder);
    if (!line)
        return Setting::failure(line.error());
    // Nothing is trimmed, as in every settings file: a blank is a typo.
    for (QChar c : line->value) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return invalid(folder, key, *line,
                           QStringLiteral("に空白が含まれています｡アドレスだけを書いてください｡"));
    }
    return line->value;
}

// The leading number of the value, as the lecturer's program reads its port.
Setting serverPort(const Result<SettingsText> &file, const QString &folder)
{
    const QString key = QStringLiteral("port");
    const Result<SettingLine> line = readSetting(file, key, folder);
    if (!line)
        return Setting::failure(line.error());
    const qint64 port = leadingNumber(line->value);
    if (port < 1 || port > 65535)
        return invalid(folder, key, *line,
                       QStringLiteral("はポート番号 (1～65535) ではありません｡"));
    return QString::number(port);
}

// haifusaki= may be left out: handouts then land in the default folder.
QString handoutFolder(const Result<SettingsText> &file)
{
    return file ? file->value(QStringLiteral("haifusaki")) : QString();
}

} // namespace

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
    const Result<SettingsText> file = SettingsText::read(SettingsFile, MaxSettingsBytes);
    const Setting address = serverAddress(file, folder);
    if (!address)
        return Result<ClientSettings>::failure(address.error());
    const Setting port = serverPort(file, folder);
    if (!port)
        return Result<ClientSettings>::failure(port.error());
    return ClientSettings{*userName, *address, *port, handoutFolder(file)};
}
