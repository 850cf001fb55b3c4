#include "server/lecture/seatlayout.h"

#include "common/cp932.h"

#include <QSet>
#include <algorithm>

namespace {

// A row or a column: digits only, 1 to the room's bound.
int place(QStringView field)
{
    bool ok = false;
    const int value = field.toInt(&ok);
    const bool digits = !field.isEmpty() && std::all_of(field.begin(), field.end(), [](QChar c) {
        return c >= u'0' && c <= u'9';
    });
    return ok && digits && value >= 1 && value <= SeatLayout::MaxRowsOrColumns ? value : 0;
}

// Why `line` is no seat, or empty when `seat` holds it. The label may hold
// commas: the last three fields are the place and the address.
QString readSeat(QStringView line, Seat *seat)
{
    const qsizetype third = line.lastIndexOf(u',');
    const qsizetype second = third > 0 ? line.lastIndexOf(u',', third - 1) : -1;
    const qsizetype first = second > 0 ? line.lastIndexOf(u',', second - 1) : -1;
    if (first < 0)
        return QStringLiteral("「座席,行,列,アドレス」の形ではありません");
    seat->label = line.left(first).toString();
    seat->row = place(line.mid(first + 1, second - first - 1));
    seat->column = place(line.mid(second + 1, third - second - 1));
    seat->address = line.mid(third + 1).toString();
    if (seat->label.isEmpty())
        return QStringLiteral("座席の名前がありません");
    if (seat->row == 0 || seat->column == 0)
        return QStringLiteral("行と列は 1 から %1 までの数で書いてください")
            .arg(SeatLayout::MaxRowsOrColumns);
    if (seat->address.isEmpty())
        return QStringLiteral("アドレスがありません");
    return {};
}

} // namespace

SeatLayout SeatLayout::parse(QStringView text)
{
    SeatLayout layout;
    QSet<QString> addresses;
    QSet<QPair<int, int>> places;
    int number = 0;
    for (QStringView line : text.split(u'\n')) {
        ++number;
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        Seat seat;
        QString why = readSeat(line, &seat);
        if (why.isEmpty() && addresses.contains(seat.address))
            why = QStringLiteral("アドレス %1 はほかの座席にあります").arg(seat.address);
        if (why.isEmpty() && places.contains({seat.row, seat.column}))
            why = QStringLiteral("%1 行 %2 列にはほかの座席があります")
                      .arg(seat.row)
                      .arg(seat.column);
        if (!why.isEmpty()) {
            layout.problems
                << QStringLiteral("%1 行目: %2｡この行は使いません｡").arg(number).arg(why);
            continue;
        }
        addresses.insert(seat.address);
        places.insert({seat.row, seat.column});
        layout.seats.append(seat);
    }
    return layout;
}

SeatLayout SeatLayout::inArrivalOrder(const QStringList &addresses)
{
    SeatLayout layout;
    layout.byArrival = true;
    for (const QString &address : addresses)
        layout.addArrival(address);
    return layout;
}

void SeatLayout::addArrival(const QString &address)
{
    if (indexOf(address) >= 0)
        return;
    // The next place in order that no seat stands on: the lecturer may have
    // moved seats of the order of arrival anywhere.
    QSet<QPair<int, int>> taken;
    for (const Seat &seat : std::as_const(seats))
        taken.insert({seat.row, seat.column});
    const int n = int(seats.size());
    for (int place = n;; ++place) {
        const QPair<int, int> cell{place / SeatsPerArrivalRow + 1, place % SeatsPerArrivalRow + 1};
        if (!taken.contains(cell)) {
            seats.append({QString::number(n + 1), cell.first, cell.second, address});
            return;
        }
    }
}

int SeatLayout::seatAt(int row, int column) const
{
    for (int i = 0; i < seats.size(); ++i) {
        if (seats[i].row == row && seats[i].column == column)
            return i;
    }
    return -1;
}

bool SeatLayout::moveSeat(int seat, int row, int column)
{
    if (seat < 0 || seat >= seats.size() || row < 1 || row > MaxRowsOrColumns || column < 1 ||
        column > MaxRowsOrColumns)
        return false;
    Seat &moved = seats[seat];
    if (moved.row == row && moved.column == column)
        return false;
    if (const int other = seatAt(row, column); other >= 0) {
        seats[other].row = moved.row;
        seats[other].column = moved.column;
    }
    moved.row = row;
    moved.column = column;
    return true;
}

QString SeatLayout::labelProblem(const QString &label)
{
    if (label.isEmpty())
        return QStringLiteral("座席の名前がありません");
    if (label.contains(u'\n') || label.contains(u'\r'))
        return QStringLiteral("座席の名前は一行で書いてください");
    if (label.startsWith(u'#'))
        return QStringLiteral("「#」で始まる行は読まれません");
    if (cp932::decode(cp932::encode(label)) != label)
        return QStringLiteral("座席表のファイルに書けない文字があります");
    return {};
}

bool SeatLayout::renameSeat(int seat, const QString &label)
{
    const QString trimmed = label.trimmed();
    if (seat < 0 || seat >= seats.size() || !labelProblem(trimmed).isEmpty() ||
        seats[seat].label == trimmed)
        return false;
    seats[seat].label = trimmed;
    return true;
}

int SeatLayout::indexOf(const QString &address) const
{
    for (int i = 0; i < seats.size(); ++i) {
        if (seats[i].address == address)
            return i;
    }
    return -1;
}

QString SeatLayout::text() const
{
    QString text = QStringLiteral("# 座席,行,列,アドレス\r\n");
    for (const Seat &seat : seats)
        text += QStringLiteral("%1,%2,%3,%4\r\n")
                    .arg(seat.label)
                    .arg(seat.row)
                    .arg(seat.column)
                    .arg(seat.address);
    return text;
}
