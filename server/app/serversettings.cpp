#include "server/app/serversettings.h"

#include "common/readvar.h"

ServerSettings readServerSettings(const QString &fileName)
{
    ServerSettings settings;
    const Result<SettingsText> file = SettingsText::read(fileName);
    if (!file)
        return settings;
    settings.fileRead = true;
    if (file->value(QStringLiteral("kugiri")).toLower() == u"tab")
        settings.delimiter = QStringLiteral("\t");
    settings.spreadsheetCommand = file->value(QStringLiteral("ms-exceldir"));
    const qint64 port = leadingNumber(file->value(QStringLiteral("port")));
    settings.port = port == 0 ? ServerSettings::DefaultPort : port;
    const QString daihen = file->value(QStringLiteral("daihen")).toLower();
    settings.proxyCheck = daihen != u"0" && daihen != u"off" && daihen != u"no";
    // Only a number replaces the default: a typo must not lift the limit.
    const QString limit = file->value(QStringLiteral("per-address-limit")).trimmed();
    if (!limit.isEmpty() && limit.front().isDigit())
        settings.perAddressLimit = leadingNumber(limit);
    const QString hozon = file->value(QStringLiteral("hozon")).trimmed();
    if (!hozon.isEmpty() && hozon.front().isDigit())
        settings.keptVersions = qMin<qint64>(leadingNumber(hozon), 1000);
    return settings;
}
