#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

// One seat of the room: its label, where it stands (rows and columns from
// 1) and the address of the machine on it.
struct Seat
{
    QString label;
    int row = 0;
    int column = 0;
    QString address;
};

// The room's seats, read from a layout file (zaseki.cfg): one seat a line,
// "<seat label>,<row>,<column>,<address>"; "#" lines and blank lines are
// ignored, a line that is not a seat is named in problems() and skipped.
struct SeatLayout
{
    static constexpr int MaxRowsOrColumns = 200;
    static constexpr int SeatsPerArrivalRow = 10;

    QList<Seat> seats;
    QStringList problems;
    // No file: a seat map adds a seat for each new address (addArrival).
    bool byArrival = false;

    // The file's text, decoded; lines end at LF, a CR before it dropped.
    static SeatLayout parse(QStringView text);
    // Without a file: a seat per address in the order given, 10 to a row,
    // labelled by their number; later addresses are added the same way.
    static SeatLayout inArrivalOrder(const QStringList &addresses);
    void addArrival(const QString &address);

    // The seat of `address`, or -1.
    int indexOf(const QString &address) const;
    // The seat at `row`, `column`, or -1.
    int seatAt(int row, int column) const;

    // Edits, as the lecturer makes them on the seat map; false when refused
    // or when nothing would change. A seat standing at the place `seat` moves to
    // takes the place `seat` leaves.
    bool moveSeat(int seat, int row, int column);
    // The label is taken without its outer spaces.
    bool renameSeat(int seat, const QString &label);
    // Why `label` cannot be a seat's label in the file, or empty.
    static QString labelProblem(const QString &label);
    // The file's text of the seats, CR LF, ready to be encoded.
    QString text() const;
};
