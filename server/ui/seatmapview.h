#pragma once

#include "server/lecture/seatmap.h"

#include <QWidget>

// The room as seats: every seat of a seat map at its row and column, with
// its label, the ID and the name, coloured by its state. Looked at from the
// front (the lecturer's desk at the bottom, the room mirrored) or from the
// back (row 1 at the top). A click on a seat names its student.
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

    // The colour of a seat in `state`; handed in draws a mark as well.
    static QColor colourOf(SeatMap::State state);
    // The seat drawn at `point`, or -1.
    int seatAt(const QPoint &point) const;
    QRect seatRect(int seat) const;
    QSize sizeHint() const override;
    // The tooltip of a seat: its label, address and every student's times.
    QString toolTipOf(int seat) const;

Q_SIGNALS:
    // The first student of the seat clicked; empty for an empty seat.
    void studentClicked(const QString &userId);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;

private:
    void paintSeat(QPainter &painter, int seat) const;

    SeatLayout m_layout;
    QList<QList<SeatMap::Line>> m_bySeat;
    int m_rows = 0;
    int m_columns = 0;
    bool m_fromFront = true;
};
