#pragma once

#include "server/lecture/seatmap.h"

#include <QWidget>

// The room as seats: every seat of a seat map at its row and column, with
// its label, the ID and the name, coloured by its state. Looked at from the
// front (the lecturer's desk at the bottom, the room mirrored) or from the
// back (row 1 at the top). A click on a seat names its student. While the
// layout is edited a click selects a seat and a drag moves it to another
// place, the map showing a free row and column beyond the seats to move to;
// the view only tells what the mouse did, the seat map makes the change.
class SeatMapView : public QWidget
{
    Q_OBJECT
public:
    static constexpr int SeatWidth = 104;
    static constexpr int SeatHeight = 46;
    static constexpr int Gap = 4;

    explicit SeatMapView(QWidget *parent = nullptr);

    void setMap(const SeatMap &map);
    void setFromFront(bool fromFront);
    bool fromFront() const { return m_fromFront; }
    void setEditing(bool editing);
    bool editing() const { return m_editing; }
    // The seat selected for editing, or -1.
    int selectedSeat() const { return m_selected; }
    void setSelectedSeat(int seat);

    // The colour of a seat in `state`; handed in draws a mark as well.
    static QColor colourOf(SeatMap::State state);
    // The seat drawn at `point`, or -1.
    int seatAt(const QPoint &point) const;
    QRect seatRect(int seat) const;
    // The place (row, column) drawn at `point`, seat or not; {0, 0} off the
    // places.
    QPair<int, int> placeAt(const QPoint &point) const;
    QRect placeRect(int row, int column) const;
    QSize sizeHint() const override;
    // The tooltip of a seat: its label, address and every student's times.
    QString toolTipOf(int seat) const;

Q_SIGNALS:
    // The first student of the seat clicked; empty for an empty seat.
    void studentClicked(const QString &userId);
    void seatSelected(int seat);
    // A seat dragged to a place of the room.
    void seatMoved(int seat, int row, int column);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void paintSeat(QPainter &painter, int seat, const QRect &box) const;
    void paintPlaces(QPainter &painter, const QRect &area) const;
    QPair<int, int> dropPlace(const QPoint &mouse) const;
    int shownRows() const { return m_rows + (m_editing ? 1 : 0); }
    int shownColumns() const { return m_columns + (m_editing ? 1 : 0); }
    void fitSize();

    SeatLayout m_layout;
    QList<QList<SeatMap::Line>> m_bySeat;
    int m_rows = 0;
    int m_columns = 0;
    bool m_fromFront = true;
    bool m_editing = false;
    int m_selected = -1;
    int m_dragged = -1;
    QPoint m_grabOffset; // from the dragged seat's corner to the mouse
    QPoint m_dragAt;
};
