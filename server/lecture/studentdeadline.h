#pragma once

#include "server/lecture/assignmentdeadline.h"

#include <QDate>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <vector>

struct SettingLine;

// One student's own due time and cut-off (an extension, 延長), which
// replaces the assignment's for that student: lateness, the refusal after
// the cut-off and every record of the upload use it. Without a cut-off of
// its own the due time is also the cut-off.
struct StudentDeadline
{
    QString userId;
    AssignmentDeadline deadline;
    QString reason;
    bool fromRoster = false; // an enchou line; otherwise set in the window
    QDate setOn;             // the day it was set in the window; invalid: unknown

    bool operator==(const StudentDeadline &other) const = default;
    // "締切 …、受付締切 … (reason)": the log and the 個別締切 column.
    QString text() const;
};

// The enchou lines of a roster, "ID,YYYY-MM-DD HH:MM[,YYYY-MM-DD HH:MM]",
// for IDs in `rosterIds`. A line that cannot be read, names an ID the roster
// does not hold, has its cut-off before its due time, or names an ID again is
// left out with a warning naming its line.
struct StudentDeadlineReading
{
    QList<StudentDeadline> deadlines;
    QStringList warnings;
};
StudentDeadlineReading readStudentDeadlines(const std::vector<SettingLine> &lines,
                                            const QSet<QString> &rosterIds);

// The text of a reason as a line of the data folder keeps it: no line ends,
// no control characters, bounded.
QString plainReason(const QString &reason);
