#include "server/roster/attendancebook.h"

#include "server/roster/assignmentdeadline.h"
#include "server/roster/rostergrid.h"

AttendanceBook::AttendanceBook(RosterGrid &grid, QObject *parent) : QObject(parent), m_grid(grid)
{
    m_grid.setFlagNotes([this](int row) { return noteFor(row); });
    // A roster loaded, closed or reloaded starts a new lecture.
    connect(&m_grid, &QAbstractItemModel::modelReset, this, &AttendanceBook::forget);
}

AttendanceBook::~AttendanceBook()
{
    m_grid.setFlagNotes({});
}

void AttendanceBook::forget()
{
    m_idsByAddress.clear();
    m_otherAddresses.clear();
}

AttendanceBook::Attendance AttendanceBook::markPresent(const QString &userId,
                                                       const QString &address)
{
    const std::optional<int> row = m_grid.searchtext(userId);
    if (!row)
        return Attendance::Unknown;
    if (RosterGrid::isTimeStamp(m_grid.text(*row, RosterGrid::Attendance))) {
        noteClaimAgain(*row, userId, address, true);
        return Attendance::Already;
    }
    const QString time = RosterGrid::timeOfDay();
    m_grid.setText(*row, RosterGrid::Attendance, time);
    m_grid.setText(*row, RosterGrid::Address, address);
    Q_EMIT marked(*row, userId, time, address);
    notePresent(*row, userId, address, true);
    return Attendance::Taken;
}

void AttendanceBook::recordSubmission(const Submission &submission)
{
    const QString time = RosterGrid::timeOfDay();
    if (const std::optional<int> row = m_grid.searchtext(submission.userId)) {
        m_grid.setText(*row, RosterGrid::Assignment, time);
        m_grid.setLateNote(*row, submission.lateSeconds > 0 ? lateText(submission.lateSeconds)
                                                            : QString());
    }
    Q_EMIT submitted(submission, time);
}

void AttendanceBook::recordRefusal(const QString &userId, const QString &fileName,
                                   const QString &reason)
{
    Q_EMIT refused(userId, fileName, reason, RosterGrid::timeOfDay());
}

bool AttendanceBook::restoreMark(const QString &userId, const QString &time, const QString &address)
{
    return inRowOf(userId, [&](int row) {
        m_grid.setText(row, RosterGrid::Attendance, time);
        m_grid.setText(row, RosterGrid::Address, address);
        notePresent(row, userId, address, false);
    });
}

bool AttendanceBook::restoreClaim(const QString &userId, const QString &address)
{
    return inRowOf(userId, [&](int row) { noteClaimAgain(row, userId, address, false); });
}

bool AttendanceBook::restoreSubmission(const QString &userId, const QString &time)
{
    return inRowOf(userId, [&](int row) { m_grid.setText(row, RosterGrid::Assignment, time); });
}

bool AttendanceBook::inRowOf(const QString &userId, const std::function<void(int)> &write)
{
    const std::optional<int> row = m_grid.searchtext(userId);
    if (row)
        write(*row);
    return row.has_value();
}

void AttendanceBook::notePresent(int row, const QString &userId, const QString &address,
                                 bool announce)
{
    QStringList &ids = m_idsByAddress[address];
    const QStringList others = ids;
    ids << userId;
    if (!m_proxyCheck || others.isEmpty())
        return;
    // The first one from this address is flagged when the second comes.
    if (others.size() == 1) {
        if (const std::optional<int> first = m_grid.searchtext(others.front()))
            m_grid.flagAddress(*first);
    }
    m_grid.flagAddress(row);
    if (announce)
        Q_EMIT logEntry(QStringLiteral("代返の疑い: %1 と %2 が同じアドレス %3 から出席しました｡")
                            .arg(userId, listed(others), address));
}

void AttendanceBook::noteClaimAgain(int row, const QString &userId, const QString &address,
                                    bool announce)
{
    const QString first = m_grid.text(row, RosterGrid::Address);
    QStringList &others = m_otherAddresses[row];
    // Each further address is told once, however often it claims.
    if (address == first || others.contains(address))
        return;
    others << address;
    if (announce)
        Q_EMIT claimedAgain(row, userId, address);
    if (!m_proxyCheck)
        return;
    m_grid.flagAddress(row);
    if (announce)
        Q_EMIT logEntry(
            QStringLiteral("代返の疑い: %1 は %2 から出席済みですが %3 からも出席を申告しました｡")
                .arg(userId, first, address));
}

QString AttendanceBook::listed(const QStringList &ids)
{
    // A whole class behind one address must not make an endless entry.
    constexpr qsizetype Named = 5;
    if (ids.size() <= Named)
        return ids.join(QStringLiteral(", "));
    return ids.first(Named).join(QStringLiteral(", ")) +
           QStringLiteral(" ほか%1人").arg(ids.size() - Named);
}

QString AttendanceBook::noteFor(int row) const
{
    QStringList notes;
    const QString userId = m_grid.text(row, RosterGrid::UserId);
    QStringList sharing = m_idsByAddress.value(m_grid.text(row, RosterGrid::Address));
    sharing.removeAll(userId);
    if (!sharing.isEmpty())
        notes << QStringLiteral("同じアドレスから出席: ") + listed(sharing);
    const QStringList others = m_otherAddresses.value(row);
    if (!others.isEmpty())
        notes << QStringLiteral("別のアドレスからも申告: ") + others.join(QStringLiteral(", "));
    return notes.join(u'\n');
}
