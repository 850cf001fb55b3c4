#include "server/app/serversettings.h"

#include "common/readvar.h"

ServerSettings readServerSettings(const QString &fileName)
{
    ServerSettings settings;
    const Result<QString> kugiri = readvar(QStringLiteral("kugiri"), fileName);
    if (!kugiri)
        return settings;
    settings.fileRead = true;
    if (kugiri->toLower() == u"tab")
        settings.delimiter = QStringLiteral("\t");
    settings.spreadsheetCommand = readvar(QStringLiteral("ms-exceldir"), fileName).valueOr({});
    const qint64 port = leadingNumber(readvar(QStringLiteral("port"), fileName).valueOr({}));
    settings.port = port == 0 ? ServerSettings::DefaultPort : port;
    const QString daihen = readvar(QStringLiteral("daihen"), fileName).valueOr({}).toLower();
    settings.proxyCheck = daihen != u"0" && daihen != u"off" && daihen != u"no";
    // Only a number replaces the default: a typo must not lift the limit.
    const QString limit =
        readvar(QStringLiteral("per-address-limit"), fileName).valueOr({}).trimmed();
    if (!limit.isEmpty() && limit.front().isDigit())
        settings.perAddressLimit = leadingNumber(limit);
    const QString hozon = readvar(QStringLiteral("hozon"), fileName).valueOr({}).trimmed();
    if (!hozon.isEmpty() && hozon.front().isDigit())
        settings.keptVersions = qMin<qint64>(leadingNumber(hozon), 1000);
    return settings;
}
