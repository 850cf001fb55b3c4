#include "common/readvar.h"

#include "common/cp932.h"
#include "common/lines.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <limits>
#include <utility>

namespace {

bool isIgnoredLine(QStringView line)
{
    return line.isEmpty() || line.front() == u'[' || line.front() == u'#';
}

Result<QByteArray> readSettingsBytes(const QString &fileName, qint64 maxBytes)
{
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile())
        return Result<QByteArray>::failure(QStringLiteral("普通のファイルではありません"));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return Result<QByteArray>::failure(file.errorString());
    const qint64 limit = maxBytes < 0 ? std::numeric_limits<qint64>::max() : maxBytes;
    if (file.size() > limit)
        return Result<QByteArray>::failure(QStringLiteral("%1 バイトを超えています").arg(limit));
    // The file may grow while it is read: one byte past the limit tells.
    const QByteArray bytes = maxBytes < 0 ? file.readAll() : file.read(limit + 1);
    if (file.error() != QFileDevice::NoError)
        return Result<QByteArray>::failure(file.errorString());
    if (bytes.size() > limit)
        return Result<QByteArray>::failure(QStringLiteral("%1 バイトを超えています").arg(limit));
    return bytes;
}

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

SettingsText::SettingsText(QStringView text) : SettingsText(splitLines(text))
{}

SettingsText::SettingsText(const QList<QStringView> &lines)
{
    int number = 0;
    for (QStringView line : lines) {
        ++number;
        if (isIgnoredLine(line))
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        QString key = line.first(equals).toString().toLower();
        if (m_indexOfKey.contains(key)) {
            m_repeated.push_back({std::move(key), {line.sliced(equals + 1).toString(), number}});
            continue;
        }
        m_indexOfKey.insert(key, qsizetype(m_entries.size()));
        m_entries.push_back({std::move(key), {line.sliced(equals + 1).toString(), number}});
    }
}

Result<SettingsText> SettingsText::read(const QString &fileName, qint64 maxBytes)
{
    const Result<QByteArray> bytes = readSettingsBytes(fileName, maxBytes);
    if (!bytes)
        return Result<SettingsText>::failure(bytes.error());
    QString text = cp932::decode(*bytes);
    SettingsText settings{QStringView(text)};
    settings.m_text = std::move(text);
    return settings;
}

std::optional<SettingLine> SettingsText::line(const QString &key) const
{
    const auto found = m_indexOfKey.constFind(key.toLower());
    if (found == m_indexOfKey.cend())
        return std::nullopt;
    return m_entries[size_t(*found)].line;
}

QString SettingsText::value(const QString &key) const
{
    const std::optional<SettingLine> found = line(key);
    return found ? found->value : QString();
}

std::vector<SettingLine> SettingsText::lines(const QString &key) const
{
    std::vector<SettingLine> found;
    const std::optional<SettingLine> first = line(key);
    if (!first)
        return found;
    found.push_back(*first);
    const QString name = key.toLower();
    for (const Entry &entry : m_repeated) {
        if (entry.key == name)
            found.push_back(entry.line);
    }
    return found;
}

Result<std::optional<SettingLine>> lookupSetting(const QString &key, const QString &fileName,
                                                 qint64 maxBytes)
{
    const Result<SettingsText> settings = SettingsText::read(fileName, maxBytes);
    if (!settings)
        return Result<std::optional<SettingLine>>::failure(settings.error());
    return settings->line(key);
}

Result<QString> readvar(const QString &key, const QString &fileName)
{
    const Result<SettingsText> settings = SettingsText::read(fileName);
    if (!settings)
        return Result<QString>::failure(settings.error());
    return settings->value(key);
}

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
