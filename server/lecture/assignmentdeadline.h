#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

// When an assignment is due (simekiri) and when uploads stop being taken
// (uketuke, the cut-off). Either may be missing. An upload is judged by the
// lecturer's clock when it is complete: after the due time it is late; a put
// line after the cut-off is refused.
struct AssignmentDeadline
{
    QDateTime due;    // invalid: no due time
    QDateTime cutoff; // invalid: no cut-off

    bool isEmpty() const { return !due.isValid() && !cutoff.isValid(); }
    bool operator==(const AssignmentDeadline &other) const = default;

    // Whole seconds after the due time at `moment`; 0 when on time or there
    // is no due time.
    qint64 lateSeconds(const QDateTime &moment) const;
    bool closed(const QDateTime &moment) const;

    // The status line's countdown in the last 10 minutes before the due
    // time ("締切まで 9分05秒"); empty otherwise.
    QString countdown(const QDateTime &now) const;
    // How the window shows it, one line per time ("締切 12/09 10:30").
    QString summary() const;
};

// "YYYY-MM-DD HH:MM" or "HH:MM" (on `today`); an empty text is no time.
// Nothing for a text of another form.
std::optional<QDateTime> parseDeadlineTime(const QString &text, QDate today);
// "YYYY-MM-DD HH:MM", as the roster key and the data folder write it.
QString deadlineTimeText(const QDateTime &time);
// "締切 2026-12-09 10:30、受付締切 2026-12-09 10:45", or "締切なし": for the log.
QString describeDeadline(const AssignmentDeadline &deadline);
// "締切後 12分", "締切後 45秒", "締切後 2時間5分", "締切後 3日4時間".
QString lateText(qint64 seconds);

// The deadline from a roster's simekiri and uketuke values, with what is
// wrong with them, for the log: a value that is no time (ignored), a due time
// already past at `now`, a cut-off before the due time (ignored, so that the
// students are not shut out before the work is due).
struct DeadlineReading
{
    AssignmentDeadline deadline;
    QStringList warnings;
};
DeadlineReading readDeadline(const QString &simekiri, const QString &uketuke, const QDateTime &now);
