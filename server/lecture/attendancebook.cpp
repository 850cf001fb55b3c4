#include "server/lecture/attendancebook.h"

#include "server/lecture/assignmentdeadline.h"
#include "server/lecture/rostergrid.h"

AttendanceBook::AttendanceBook(RosterGrid &grid, QObject *parent) : QObject(parent), m_grid(grid)
{
    m_grid.setFlagNotes([this](int row) { return noteFor(row); });
    // A roster loaded, closed or reloaded starts a new lecture.
    connect(&m_grid, &RosterGrid::rowsReplaced, this, &AttendanceBook::forget);
}

AttendanceBook::~AttendanceBook()
{
    m_grid.setFlagNotes({});
}

void AttendanceBook::forget()
{
    m_firstAddress.clear();
    m_idsByAddress.clear();
    m_otherAddresses.clear();
}

bool AttendanceBook::inRoster(const QString &userId) const
{
    return m_grid.searchtext(userId).has_value();
}

QString AttendanceBook::ownerOf(const QString &fileName, QStringView separators) const
{
    // From the last separator backwards: the first prefix found is the longest.
    for (qsizetype end = fileName.size() - 1; end > 0; --end) {
        if (separators.contains(fileName[end]) && inRoster(fileName.first(end)))
            return fileName.first(end);
    }
    return {};
}

AttendanceBook::Attendance AttendanceBook::markPresent(const QString &userId,
                                                       const QString &address)
{
    return claim(userId, address, RosterGrid::timeOfDay()).attendance;
}

AttendanceBook::Claim AttendanceBook::claim(const QString &userId, const QString &address,
                                            const QString &time)
{
    const std::optional<int> row = m_grid.searchtext(userId);
    if (!row)
        return {};
    if (RosterGrid::isTimeStamp(m_grid.text(*row, RosterGrid::Attendance))) {
        // A time put in the table by other means counts with its address.
        if (!m_firstAddress.contains(userId))
            m_firstAddress.insert(userId, m_grid.text(*row, RosterGrid::Address));
        const QString first = m_firstAddress.value(userId);
        if (!noteFurtherAddress(userId, address))
            return {Attendance::Already, *row, false};
        Q_EMIT claimedAgain(*row, userId, address, time);
        if (m_proxyCheck) {
            m_grid.flagAddress(*row);
            Q_EMIT logEntry(QStringLiteral("代返の疑い: %1 は %2 から出席済みですが %3 "
                                           "からも出席を申告しました｡")
                                .arg(userId, first, address));
        }
        return {Attendance::Already, *row, true};
    }
    m_grid.setText(*row, RosterGrid::Attendance, time);
    m_grid.setText(*row, RosterGrid::Address, address);
    Q_EMIT marked(*row, userId, time, address);
    const QStringList others = m_idsByAddress.value(address);
    notePresent(userId, address);
    if (!m_proxyCheck || others.isEmpty())
        return {Attendance::Taken, *row, false};
    // The first one from this address is flagged when the second comes.
    for (const QString &other : others)
        flagRowOf(other);
    m_grid.flagAddress(*row);
    Q_EMIT logEntry(QStringLiteral("代返の疑い: %1 と %2 が同じアドレス %3 から出席しました｡")
                        .arg(userId, listed(others), address));
    return {Attendance::Taken, *row, false};
}

void AttendanceBook::recordSubmission(const Submission &submission)
{
    const QString time = submission.completedAt.isValid()
                             ? RosterGrid::timeStamp(submission.completedAt.time())
                             : RosterGrid::timeOfDay();
    if (!submission.earlierLecture) {
        if (const std::optional<int> row = m_grid.searchtext(submission.userId)) {
            m_grid.setText(*row, RosterGrid::Assignment, time);
            m_grid.setLateNote(*row, submission.lateSeconds > 0 ? lateText(submission.lateSeconds)
                                                                : QString());
        }
    }
    Q_EMIT submitted(submission, time);
}

void AttendanceBook::recordRefusal(const QString &userId, const QString &fileName,
                                   const QString &reason, const QString &time)
{
    Q_EMIT refused(userId, fileName, reason, time);
}

bool AttendanceBook::restoreMark(const QString &userId, const QString &time, const QString &address)
{
    return inRowOf(userId, [&](int row) {
        const QString since = m_firstAddress.value(userId);
        if (!since.isEmpty()) {
            // Marked again since the roster was opened: the earlier mark counts.
            m_idsByAddress[since].removeAll(userId);
            m_firstAddress.remove(userId);
        }
        m_grid.setText(row, RosterGrid::Attendance, time);
        m_grid.setText(row, RosterGrid::Address, address);
        notePresent(userId, address);
        if (!since.isEmpty())
            noteFurtherAddress(userId, since);
    });
}

bool AttendanceBook::restoreClaim(const QString &userId, const QString &address)
{
    return inRowOf(userId, [&](int) { noteFurtherAddress(userId, address); });
}

bool AttendanceBook::restoreSubmission(const QString &userId, const QString &time,
                                       qint64 lateSeconds)
{
    return inRowOf(userId, [&](int row) {
        m_grid.setText(row, RosterGrid::Assignment, time);
        m_grid.setLateNote(row, lateSeconds > 0 ? lateText(lateSeconds) : QString());
    });
}

void AttendanceBook::refreshFlags()
{
    m_grid.clearAddressFlags();
    if (!m_proxyCheck)
        return;
    for (const QStringList &ids : std::as_const(m_idsByAddress)) {
        if (ids.size() > 1) {
            for (const QString &userId : ids)
                flagRowOf(userId);
        }
    }
    for (auto others = m_otherAddresses.cbegin(); others != m_otherAddresses.cend(); ++others) {
        if (!others->isEmpty())
            flagRowOf(others.key());
    }
}

bool AttendanceBook::inRowOf(const QString &userId, const std::function<void(int)> &write)
{
    const std::optional<int> row = m_grid.searchtext(userId);
    if (row)
        write(*row);
    return row.has_value();
}

void AttendanceBook::flagRowOf(const QString &userId)
{
    if (const std::optional<int> row = m_grid.searchtext(userId))
        m_grid.flagAddress(*row);
}

void AttendanceBook::notePresent(const QString &userId, const QString &address)
{
    m_firstAddress.insert(userId, address);
    QStringList &ids = m_idsByAddress[address];
    if (!ids.contains(userId))
        ids << userId;
    m_otherAddresses[userId].removeAll(address);
}

// True when `address` is new for the student: each further address is told
// once, however often it claims.
bool AttendanceBook::noteFurtherAddress(const QString &userId, const QString &address)
{
    QStringList &others = m_otherAddresses[userId];
    if (address == m_firstAddress.value(userId) || others.contains(address))
        return false;
    others << address;
    return true;
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
    QStringList sharing = m_idsByAddress.value(m_firstAddress.value(userId));
    sharing.removeAll(userId);
    if (!sharing.isEmpty())
        notes << QStringLiteral("同じアドレスから出席: ") + listed(sharing);
    const QStringList others = m_otherAddresses.value(userId);
    if (!others.isEmpty())
        notes << QStringLiteral("別のアドレスからも申告: ") + others.join(QStringLiteral(", "));
    return notes.join(u'\n');
}
