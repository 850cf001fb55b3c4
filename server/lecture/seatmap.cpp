#include "server/lecture/seatmap.h"

#include <QSet>
#include <algorithm>

SeatMap::SeatMap(SeatLayout layout, QList<Student> roster, std::optional<int> lateAfter)
    : m_layout(std::move(layout)), m_roster(std::move(roster)), m_lateAfter(lateAfter)
{}

void SeatMap::addClaim(const Claim &claim)
{
    for (const Claim &earlier : m_claims) {
        if (earlier.userId == claim.userId && earlier.address == claim.address)
            return;
    }
    m_claims.append(claim);
    if (m_layout.byArrival)
        m_layout.addArrival(claim.address);
}

void SeatMap::addHandedIn(const QString &userId, const QString &fileName)
{
    m_handedIn.insert(userId, fileName);
}

SeatMap::Line SeatMap::lineOf(int claim) const
{
    const Claim &own = m_claims[claim];
    Line line;
    line.seat = m_layout.indexOf(own.address);
    line.address = own.address;
    line.userId = own.userId;
    line.time = own.time;
    line.handedIn = m_handedIn.contains(own.userId);
    line.fileName = m_handedIn.value(own.userId);
    // Two IDs from one machine, or one ID from two machines.
    for (const Claim &other : m_claims) {
        if (other.address == own.address && other.userId != own.userId)
            line.others << other.userId;
        else if (other.userId == own.userId && other.address != own.address)
            line.others << other.address;
    }
    const auto student = std::find_if(m_roster.cbegin(), m_roster.cend(),
                                      [&own](const Student &s) { return s.id == own.userId; });
    if (student != m_roster.cend())
        line.name = student->name;
    if (!line.others.isEmpty())
        line.state = State::Check;
    else if (student == m_roster.cend())
        line.state = State::OffRoster;
    else if (m_lateAfter && own.seconds > *m_lateAfter)
        line.state = State::Late;
    else
        line.state = State::Present;
    return line;
}

QList<SeatMap::Line> SeatMap::lines() const
{
    QList<Line> lines;
    for (int seat = 0; seat < m_layout.seats.size(); ++seat) {
        const QString &address = m_layout.seats[seat].address;
        bool taken = false;
        for (int claim = 0; claim < m_claims.size(); ++claim) {
            if (m_claims[claim].address == address) {
                lines.append(lineOf(claim));
                taken = true;
            }
        }
        if (!taken) {
            Line empty;
            empty.seat = seat;
            empty.address = address;
            lines.append(empty);
        }
    }
    for (int claim = 0; claim < m_claims.size(); ++claim) {
        if (m_layout.indexOf(m_claims[claim].address) < 0)
            lines.append(lineOf(claim));
    }
    return lines;
}

QList<SeatMap::Student> SeatMap::absent() const
{
    QSet<QString> present;
    for (const Claim &claim : m_claims)
        present.insert(claim.userId);
    QList<Student> absent;
    for (const Student &student : m_roster) {
        if (!present.contains(student.id))
            absent.append(student);
    }
    return absent;
}

QString SeatMap::stateText(State state)
{
    switch (state) {
    case State::Empty:
        return QStringLiteral("空席");
    case State::Present:
        return QStringLiteral("出席");
    case State::Late:
        return QStringLiteral("遅刻");
    case State::Check:
        return QStringLiteral("要確認");
    case State::OffRoster:
        return QStringLiteral("名簿外");
    }
    return {};
}
