#pragma once

#include "server/lecture/seatlayout.h"

#include <QHash>
#include <QList>
#include <QString>
#include <optional>

// Who sits where: the seats of a layout with the students who attended from
// their addresses, judged as the lecturer must see them. An empty seat or a
// seat claimed twice shows at once.
class SeatMap
{
public:
    enum class State { Empty, Present, Late, Check, OffRoster };

    struct Student
    {
        QString id;
        QString name;
    };
    // An attendance claim: the ID, the address it came from, its time.
    struct Claim
    {
        QString userId;
        QString address;
        QString time; // hh:mm:ss as recorded
        int seconds = 0;
    };
    // One seat and one of its students (a seat with two IDs gives two), or a
    // student at an address outside the layout (seat -1).
    struct Line
    {
        int seat = -1;
        QString address;
        QString userId;
        QString name;
        State state = State::Empty;
        QString time;
        bool handedIn = false;
        QString fileName;
        // What makes the line 要確認: the other IDs or the other addresses.
        QStringList others;
    };

    // `lateAfter`: seconds of the day after which a claim is late (kaisi +
    // tikoku); none: nobody is late.
    SeatMap(SeatLayout layout, QList<Student> roster, std::optional<int> lateAfter);

    // Claims in the order they happened; only each ID's first claim from an
    // address counts.
    void addClaim(const Claim &claim);
    // The latest file `userId` handed in.
    void addHandedIn(const QString &userId, const QString &fileName);

    const SeatLayout &layout() const { return m_layout; }
    // The layout's edits (SeatLayout::moveSeat, renameSeat): a seat keeps its
    // address, so who sits on it stays.
    bool moveSeat(int seat, int row, int column) { return m_layout.moveSeat(seat, row, column); }
    bool renameSeat(int seat, const QString &label) { return m_layout.renameSeat(seat, label); }
    // Seat lines in layout order, then students outside the layout.
    QList<Line> lines() const;
    // Roster students who have not attended, in roster order.
    QList<Student> absent() const;

    static QString stateText(State state);

private:
    Line lineOf(int claim) const;
    int seatOf(const QString &address) const { return m_seatOf.value(address, -1); }

    SeatLayout m_layout;
    QList<Student> m_roster;
    std::optional<int> m_lateAfter;
    QList<Claim> m_claims;
    // Indexes over the above, so that a room of a thousand stays quick.
    QHash<QString, int> m_seatOf;                 // address -> seat
    QHash<QString, int> m_studentOf;              // user ID -> first roster entry
    QHash<QString, QList<int>> m_claimsOfAddress; // address -> claims
    QHash<QString, QList<int>> m_claimsOfId;      // user ID -> claims
    QHash<QString, QString> m_handedIn;           // the file, per user ID
};
