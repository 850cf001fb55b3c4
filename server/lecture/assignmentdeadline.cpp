#include "server/lecture/assignmentdeadline.h"

#include <QRegularExpression>

namespace {

constexpr qint64 CountdownSeconds = 10 * 60;

QString shortTime(const QDateTime &time)
{
    return time.toString(QStringLiteral("MM/dd HH:mm"));
}

} // namespace

qint64 AssignmentDeadline::lateSeconds(const QDateTime &moment) const
{
    if (!due.isValid())
        return 0;
    return qMax<qint64>(0, due.secsTo(moment));
}

bool AssignmentDeadline::closed(const QDateTime &moment) const
{
    return cutoff.isValid() && cutoff.secsTo(moment) > 0;
}

QString AssignmentDeadline::countdown(const QDateTime &now) const
{
    if (!due.isValid())
        return {};
    const qint64 left = now.secsTo(due);
    if (left < 0 || left > CountdownSeconds)
        return {};
    return QStringLiteral("締切まで %1分%2秒").arg(left / 60).arg(left % 60, 2, 10, QChar(u'0'));
}

QString AssignmentDeadline::summary() const
{
    QStringList lines;
    if (due.isValid())
        lines << QStringLiteral("締切 ") + shortTime(due);
    if (cutoff.isValid())
        lines << QStringLiteral("受付 ") + shortTime(cutoff);
    return lines.isEmpty() ? QStringLiteral("締切なし") : lines.join(u'\n');
}

std::optional<QDateTime> parseDeadlineTime(const QString &text, QDate today)
{
    if (text.isEmpty())
        return QDateTime();
    static const QRegularExpression form(
        QStringLiteral("^(?:(\\d{4})-(\\d{2})-(\\d{2}) )?(\\d{1,2}):(\\d{2})$"));
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const QDate day = match.captured(1).isEmpty()
                          ? today
                          : QDate(match.captured(1).toInt(), match.captured(2).toInt(),
                                  match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt());
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(day, time);
}

QString deadlineTimeText(const QDateTime &time)
{
    return time.isValid() ? time.toString(QStringLiteral("yyyy-MM-dd HH:mm")) : QString();
}

QString describeDeadline(const AssignmentDeadline &deadline)
{
    if (deadline.isEmpty())
        return QStringLiteral("締切なし");
    QStringList parts;
    if (deadline.due.isValid())
        parts << QStringLiteral("締切 ") + deadlineTimeText(deadline.due);
    if (deadline.cutoff.isValid())
        parts << QStringLiteral("受付締切 ") + deadlineTimeText(deadline.cutoff);
    return parts.join(QStringLiteral("、"));
}

QString lateText(qint64 seconds)
{
    QString amount;
    if (seconds < 60)
        amount = QStringLiteral("%1秒").arg(seconds);
    else if (seconds < 3600)
        amount = QStringLiteral("%1分").arg(seconds / 60);
    else if (seconds < 86400)
        amount = QStringLiteral("%1時間%2分").arg(seconds / 3600).arg(seconds % 3600 / 60);
    else
        amount = QStringLiteral("%1日%2時間").arg(seconds / 86400).arg(seconds % 86400 / 3600);
    return QStringLiteral("締切後 ") + amount;
}

DeadlineReading readDeadline(const QString &simekiri, const QString &uketuke, const QDateTime &now)
{
    DeadlineReading reading;
    const auto read = [&](const char *key, const QString &text) {
        const std::optional<QDateTime> time = parseDeadlineTime(text, now.date());
        if (!time)
            reading.warnings << QStringLiteral("%1=%2 は日時として読めないため使いません｡"
                                               "(YYYY-MM-DD HH:MM または HH:MM)")
                                    .arg(QLatin1StringView(key), text);
        return time.value_or(QDateTime());
    };
    reading.deadline.due = read("simekiri", simekiri);
    reading.deadline.cutoff = read("uketuke", uketuke);
    AssignmentDeadline &deadline = reading.deadline;
    if (deadline.due.isValid() && deadline.cutoff.isValid() && deadline.cutoff < deadline.due) {
        reading.warnings << QStringLiteral(
                                "受付締切 %1 が締切 %2 より前のため、受付締切は使いません｡")
                                .arg(deadlineTimeText(deadline.cutoff),
                                     deadlineTimeText(deadline.due));
        deadline.cutoff = QDateTime();
    }
    if (deadline.due.isValid() && deadline.due < now)
        reading.warnings
            << QStringLiteral("締切 %1 は既に過ぎています｡これからの提出はすべて締切後になります｡")
                   .arg(deadlineTimeText(deadline.due));
    if (deadline.cutoff.isValid() && deadline.cutoff < now)
        reading.warnings << QStringLiteral("受付締切 %1 は既に過ぎています｡提出はすべて断られます｡")
                                .arg(deadlineTimeText(deadline.cutoff));
    return reading;
}
