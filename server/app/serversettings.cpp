#include "server/app/serversettings.h"

#include "common/readvar.h"

#include <cmath>
#include <limits>

namespace {

// The longest prefix of `text` that reads as a decimal number: sign, digits,
// a decimal point and an exponent.
QString numberPrefix(const QString &text)
{
    qsizetype i = 0;
    const auto digits = [&] {
        while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128)
            ++i;
    };
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    digits();
    if (i < text.size() && text[i] == u'.') {
        ++i;
        digits();
    }
    const qsizetype mantissaEnd = i;
    if (i < text.size() && (text[i].toLower() == u'e' || text[i].toLower() == u'd')) {
        ++i;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
            ++i;
        const qsizetype exponentStart = i;
        digits();
        if (i == exponentStart)
            i = mantissaEnd;
    }
    QString prefix = text.first(i);
    prefix.replace(u'd', u'e').replace(u'D', u'e');
    return prefix;
}

} // namespace

qint64 leadingNumber(QStringView text)
{
    QString compact = text.toString();
    compact.remove(u' ').remove(u'\t');
    bool ok = false;
    const double value = numberPrefix(compact).toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return 0;
    const double rounded = std::nearbyint(value); // ties go to even
    constexpr double limit = 1e15;                // far beyond any port, still exact
    return qint64(qBound(-limit, rounded, limit));
}

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
