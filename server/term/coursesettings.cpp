#include "server/term/coursesettings.h"

#include "common/lines.h"
#include "common/readvar.h"

#include <QRegularExpression>

namespace {

const QString StartMarker = QStringLiteral("<start data>");
const QString EndMarker = QStringLiteral("<end data>");
constexpr int MaxMinutes = 24 * 60;
constexpr int MaxSessions = 1000;

// A whole number from `low` to `high`, written in plain digits.
std::optional<int> wholeNumber(const QString &value, int low, int high)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,6}$"));
    if (!digits.match(value).hasMatch())
        return std::nullopt;
    const int number = value.toInt();
    if (number < low || number > high)
        return std::nullopt;
    return number;
}

QString expectedFor(const QString &key)
{
    if (key == u"kaisi")
        return QStringLiteral("HH:MM の時刻");
    if (key == u"sikaku")
        return QStringLiteral("2/3 のような分数か 80、66.7% のような百分率か 0.8 のような割合");
    if (key == u"kikan")
        return QStringLiteral("YYYY-MM-DD..YYYY-MM-DD");
    if (key == u"kaisu")
        return QStringLiteral("1 から %1 の整数").arg(MaxSessions);
    return QStringLiteral("0 から %1 の整数").arg(MaxMinutes);
}

} // namespace

CourseSettings::CourseSettings(QDate today)
{
    std::tie(m_from, m_to) = termOf(today);
}

std::pair<QDate, QDate> CourseSettings::termOf(QDate day)
{
    const int year = day.year();
    if (day.month() >= 4 && day.month() <= 9)
        return {QDate(year, 4, 1), QDate(year, 9, 30)};
    const int autumn = day.month() >= 10 ? year : year - 1;
    return {QDate(autumn, 10, 1), QDate(autumn + 1, 3, 31)};
}

QDate CourseSettings::dayOf(const QString &text)
{
    static const QRegularExpression shape(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
    return shape.match(text).hasMatch() ? QDate::fromString(text, QStringLiteral("yyyy-MM-dd"))
                                        : QDate();
}

CourseSettings CourseSettings::fromText(QStringView text, QDate today)
{
    // The rules of the settings lookup, except that student lines are never
    // keys: they are emptied, keeping the numbers of the lines after them.
    QList<QStringView> lines = splitLines(text);
    bool inBlock = false;
    for (QStringView &line : lines) {
        const bool marker = inBlock ? line == EndMarker : line == StartMarker;
        if (inBlock || marker)
            line = QStringView();
        if (marker)
            inBlock = !inBlock;
    }
    CourseSettings settings(today);
    const SettingsText keys(lines);
    for (const SettingsText::Entry &entry : keys.entries())
        settings.apply(entry.key, entry.line.value.trimmed(), entry.line.number);
    settings.checkLateWindow(settings.m_lateWindowLine);
    return settings;
}

void CourseSettings::apply(const QString &key, const QString &value, int lineNumber)
{
    bool ok = true;
    if (key == u"kaisi") {
        ok = setStart(value);
    } else if (key == u"tikoku" || key == u"kesseki" || key == u"kaisu" || key == u"tikokukansan") {
        const bool sessions = key == u"kaisu";
        const std::optional<int> number =
            wholeNumber(value, sessions ? 1 : 0, sessions ? MaxSessions : MaxMinutes);
        ok = number.has_value();
        if (ok && key == u"tikoku")
            m_onTimeMinutes = *number, m_lateWindowLine = qMax(m_lateWindowLine, lineNumber);
        else if (ok && key == u"kesseki")
            m_absentAfterMinutes = *number, m_lateWindowLine = qMax(m_lateWindowLine, lineNumber);
        else if (ok && key == u"kaisu")
            m_plannedSessions = *number;
        else if (ok)
            m_latesPerAbsence = *number;
    } else if (key == u"sikaku") {
        ok = setRequired(value);
    } else if (key == u"kikan") {
        ok = setPeriod(value);
    } else {
        return; // a key of the roster's other uses
    }
    if (!ok)
        m_problems << QStringLiteral("%1 行目: %2 の値「%3」は使えません (%4)｡既定値を使います｡")
                          .arg(lineNumber)
                          .arg(key, value, expectedFor(key));
}

bool CourseSettings::setStart(const QString &value)
{
    static const QRegularExpression shape(QStringLiteral("^([0-9]{1,2}):([0-9]{2})$"));
    const QRegularExpressionMatch match = shape.match(value);
    if (!match.hasMatch())
        return false;
    const QTime time(match.captured(1).toInt(), match.captured(2).toInt());
    if (!time.isValid())
        return false;
    m_start = time;
    return true;
}

bool CourseSettings::setRequired(const QString &value)
{
    static const QRegularExpression fraction(QStringLiteral("^([0-9]{1,4})/([0-9]{1,4})$"));
    static const QRegularExpression decimal(
        QStringLiteral("^([0-9]{1,3})(?:\\.([0-9]{1,4}))?(%?)$"));
    int numerator = 0;
    int denominator = 1;
    const QRegularExpressionMatch asFraction = fraction.match(value);
    const QRegularExpressionMatch asDecimal = decimal.match(value);
    if (asFraction.hasMatch()) {
        numerator = asFraction.captured(1).toInt();
        denominator = asFraction.captured(2).toInt();
    } else if (asDecimal.hasMatch()) {
        const QString decimals = asDecimal.captured(2);
        // 0.8 is a share of the sessions (80 %); 80, 80% and 0.8% are percentages.
        const bool share = asDecimal.captured(1).toInt() == 0 && !decimals.isEmpty() &&
                           asDecimal.captured(3).isEmpty();
        denominator = share ? 1 : 100;
        for (qsizetype i = 0; i < decimals.size(); ++i)
            denominator *= 10;
        numerator = (asDecimal.captured(1) + decimals).toInt();
    } else {
        return false;
    }
    if (denominator == 0 || numerator > denominator)
        return false;
    m_requiredNumerator = numerator;
    m_requiredDenominator = denominator;
    return true;
}

bool CourseSettings::setPeriod(const QString &value)
{
    const qsizetype dots = value.indexOf(QStringLiteral(".."));
    if (dots < 0)
        return false;
    const QDate from = dayOf(value.first(dots));
    const QDate to = dayOf(value.sliced(dots + 2));
    if (!from.isValid() || !to.isValid() || from > to)
        return false;
    m_from = from;
    m_to = to;
    return true;
}

void CourseSettings::checkLateWindow(int lineNumber)
{
    if (m_absentAfterMinutes >= m_onTimeMinutes)
        return;
    m_problems << QStringLiteral("%1 行目: kesseki (%2 分) が tikoku (%3 分) より短いため、"
                                 "tikoku を過ぎた印はすべて欠席とします｡")
                      .arg(lineNumber)
                      .arg(m_absentAfterMinutes)
                      .arg(m_onTimeMinutes);
    m_absentAfterMinutes = m_onTimeMinutes;
}

int CourseSettings::allowedAbsences(int excused) const
{
    // Excused sessions count neither way, as in the rate. The share times
    // the sessions is rounded to tenths before the ceiling, so that 66.7 %
    // and 2/3 are one rule.
    const long long sessions = qMax(0, m_plannedSessions - excused);
    const long long tenths = (sessions * m_requiredNumerator * 20 + m_requiredDenominator) /
                             (2LL * m_requiredDenominator);
    return int(sessions - (tenths + 9) / 10);
}
