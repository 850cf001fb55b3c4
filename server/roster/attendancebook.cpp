#include "server/roster/attendancebook.h"

#include "server/roster/rostergrid.h"

AttendanceBook::AttendanceBook(RosterGrid &grid, QObject *parent) : QObject(parent), m_grid(grid)
{}

AttendanceBook::Attendance AttendanceBook::markPresent(const QString &userId,
                                                       const QString &address)
{
    const std::optional<int> row = m_grid.searchtext(userId);
    if (!row)
        return Attendance::Unknown;
    if (RosterGrid::isTimeStamp(m_grid.text(*row, RosterGrid::Attendance)))
        return Attendance::Already;
    const QString time = RosterGrid::timeOfDay();
    m_grid.setText(*row, RosterGrid::Attendance, time);
    m_grid.setText(*row, RosterGrid::Address, address);
    Q_EMIT marked(*row, userId, time, address);
    return Attendance::Taken;
}

void AttendanceBook::recordSubmission(const Submission &submission)
{
    const QString time = RosterGrid::timeOfDay();
    if (const std::optional<int> row = m_grid.searchtext(submission.userId))
        m_grid.setText(*row, RosterGrid::Assignment, time);
    Q_EMIT submitted(submission, time);
}
