#include "server/lecture/seatmap.h"

SeatMap::SeatMap(SeatLayout layout, QList<Student> roster, std::optional<int> lateAfter)
    : m_layout(std::move(layout)), m_roster(std::move(roster)), m_lateAfter(lateAfter)
{
    for (int seat = 0; seat < m_layout.seats.size(); ++seat)
        m_seatOf.insert(m_layout.seats[seat].address, seat);
    for (int i = int(m_roster.size()) - 1; i >= 0; --i)
        m_studentOf.insert(m_roster[i].id, i);
}

void SeatMap::addClaim(const Claim &claim)
{
    QList<int> &ofAddress = m_claimsOfAddress[claim.address];
    for (int earlier : ofAddress) {
        if (m_claims[earlier].userId == claim.userId)
            return;
    }
    const int index = int(m_claims.size());
    m_claims.append(claim);
    ofAddress.append(index);
    m_claimsOfId[claim.userId].append(index);
    if (m_layout.byArrival && !m_seatOf.contains(claim.address)) {
        m_layout.addArrival(claim.address);
        m_seatOf.insert(claim.address, int(m_layout.seats.size()) - 1);
    }
}

void SeatMap::addHandedIn(const QString &userId, const QString &fileName)
{
    m_handedIn.insert(userId, fileName);
}

SeatMap::Line SeatMap::lineOf(int claim) const
{
    const Claim &own = m_claims[claim];
    Line line;
    line.seat = seatOf(own.address);
    line.address = own.address;
    line.userId = own.userId;
    line.time = own.time;
    line.handedIn = m_handedIn.contains(own.userId);
    line.fileName = m_handedIn.value(own.userId);
    // Two IDs from one machine, or one ID from two machines.
    for (int other : m_claimsOfAddress.value(own.address)) {
        if (m_claims[other].userId != own.userId)
            line.others << m_claims[other].userId;
    }
    for (int other : m_claimsOfId.value(own.userId)) {
        if (m_claims[other].address != own.address)
            line.others << m_claims[other].address;
    }
    const int student = m_studentOf.value(own.userId, -1);
    if (student >= 0)
        line.name = m_roster[student].name;
    if (!line.others.isEmpty())
        line.state = State::Check;
    else if (student < 0)
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
    lines.reserve(m_layout.seats.size() + m_claims.size());
    for (int seat = 0; seat < m_layout.seats.size(); ++seat) {
        const QString &address = m_layout.seats[seat].address;
        const QList<int> claims = m_claimsOfAddress.value(address);
        for (int claim : claims)
            lines.append(lineOf(claim));
        if (claims.isEmpty()) {
            Line empty;
            empty.seat = seat;
            empty.address = address;
            lines.append(empty);
        }
    }
    for (int claim = 0; claim < m_claims.size(); ++claim) {
        if (seatOf(m_claims[claim].address) < 0)
            lines.append(lineOf(claim));
    }
    return lines;
}

QList<SeatMap::Student> SeatMap::absent() const
{
    QList<Student> absent;
    for (const Student &student : m_roster) {
        if (!m_claimsOfId.contains(student.id))
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
