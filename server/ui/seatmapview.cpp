#include "server/ui/seatmapview.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>
#include <utility>

SeatMapView::SeatMapView(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(false);
}

void SeatMapView::setMap(const SeatMap &map)
{
    m_layout = map.layout();
    m_bySeat = QList<QList<SeatMap::Line>>(m_layout.seats.size());
    m_rows = 0;
    m_columns = 0;
    for (const Seat &seat : m_layout.seats) {
        m_rows = qMax(m_rows, seat.row);
        m_columns = qMax(m_columns, seat.column);
    }
    for (const SeatMap::Line &line : map.lines()) {
        if (line.seat >= 0)
            m_bySeat[line.seat].append(line);
    }
    if (m_selected >= m_layout.seats.size())
        m_selected = -1;
    fitSize();
    update();
}

void SeatMapView::fitSize()
{
    if (size() != sizeHint()) {
        updateGeometry();
        resize(sizeHint());
    }
}

void SeatMapView::setFromFront(bool fromFront)
{
    m_fromFront = fromFront;
    update();
}

void SeatMapView::setEditing(bool editing)
{
    m_editing = editing;
    m_dragged = -1;
    if (!editing)
        m_selected = -1;
    fitSize();
    update();
}

void SeatMapView::setSelectedSeat(int seat)
{
    m_selected = seat >= 0 && seat < m_layout.seats.size() ? seat : -1;
    update();
}

QColor SeatMapView::colourOf(SeatMap::State state)
{
    switch (state) {
    case SeatMap::State::Empty:
        return QColor(0xee, 0xee, 0xee);
    case SeatMap::State::Present:
        return QColor(0xc8, 0xf0, 0xc8);
    case SeatMap::State::Late:
        return QColor(0xff, 0xf0, 0x96);
    case SeatMap::State::Check:
        return QColor(0xff, 0xa8, 0x60);
    case SeatMap::State::OffRoster:
        return QColor(0xc8, 0xd8, 0xff);
    }
    return Qt::white;
}

QSize SeatMapView::sizeHint() const
{
    return {Gap + shownColumns() * (SeatWidth + Gap), Gap + shownRows() * (SeatHeight + Gap)};
}

QRect SeatMapView::placeRect(int row, int column) const
{
    // From the front the lecturer faces the class: row 1 nearest, at the
    // bottom, and column 1 on the right.
    const int y = m_fromFront ? shownRows() - row : row - 1;
    const int x = m_fromFront ? shownColumns() - column : column - 1;
    return {Gap + x * (SeatWidth + Gap), Gap + y * (SeatHeight + Gap), SeatWidth, SeatHeight};
}

QRect SeatMapView::seatRect(int seat) const
{
    const Seat &place = m_layout.seats[seat];
    return placeRect(place.row, place.column);
}

QPair<int, int> SeatMapView::placeAt(const QPoint &point) const
{
    // The gaps belong to the place to their lower right, so that a drop
    // always lands somewhere.
    const int x = (point.x() - Gap / 2) / (SeatWidth + Gap);
    const int y = (point.y() - Gap / 2) / (SeatHeight + Gap);
    if (point.x() < 0 || point.y() < 0 || x >= shownColumns() || y >= shownRows())
        return {0, 0};
    return {m_fromFront ? shownRows() - y : y + 1, m_fromFront ? shownColumns() - x : x + 1};
}

int SeatMapView::seatAt(const QPoint &point) const
{
    for (int seat = 0; seat < m_layout.seats.size(); ++seat) {
        if (seatRect(seat).contains(point))
            return seat;
    }
    return -1;
}

void SeatMapView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    if (m_editing)
        paintPlaces(painter, event->rect());
    for (int seat = 0; seat < m_layout.seats.size(); ++seat) {
        if (seat != m_dragged && seatRect(seat).intersects(event->rect()))
            paintSeat(painter, seat, seatRect(seat));
    }
    if (m_dragged >= 0)
        paintSeat(painter, m_dragged, QRect(m_dragAt - m_grabOffset, QSize(SeatWidth, SeatHeight)));
}

QPair<int, int> SeatMapView::dropPlace(const QPoint &mouse) const
{
    // Where the seat's middle is let go, not the mouse: a seat grabbed by
    // its corner lands where it is seen.
    return placeAt(mouse - m_grabOffset + QPoint(SeatWidth / 2, SeatHeight / 2));
}

void SeatMapView::paintPlaces(QPainter &painter, const QRect &area) const
{
    // Every place a seat may move to, and where a dragged seat would land.
    const QPair<int, int> target = m_dragged >= 0 ? dropPlace(m_dragAt) : QPair<int, int>();
    painter.save();
    for (int row = 1; row <= shownRows(); ++row) {
        for (int column = 1; column <= shownColumns(); ++column) {
            const QRect place = placeRect(row, column);
            if (!place.intersects(area))
                continue;
            const bool isTarget = target == QPair<int, int>(row, column);
            painter.setPen(QPen(isTarget ? Qt::blue : Qt::darkGray, isTarget ? 2 : 1,
                                isTarget ? Qt::SolidLine : Qt::DotLine));
            painter.drawRect(place.adjusted(0, 0, -1, -1));
        }
    }
    painter.restore();
}

void SeatMapView::paintSeat(QPainter &painter, int seat, const QRect &box) const
{
    const QList<SeatMap::Line> &lines = m_bySeat[seat];
    const SeatMap::State state = lines.isEmpty() ? SeatMap::State::Empty : lines.constFirst().state;
    painter.fillRect(box, colourOf(state));
    if (seat == m_selected)
        painter.setPen(QPen(Qt::blue, 3));
    else
        painter.setPen(state == SeatMap::State::Check ? QPen(Qt::red, 2) : QPen(Qt::gray));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    const QRect text = box.adjusted(3, 1, -3, -1);
    const QFontMetrics metrics(painter.font());
    const int line = metrics.height();
    painter.setPen(Qt::black);
    QFont bold = painter.font();
    bold.setBold(true);
    painter.save();
    painter.setFont(bold);
    painter.drawText(text.left(), text.top() + metrics.ascent(),
                     QFontMetrics(bold).elidedText(m_layout.seats[seat].label, Qt::ElideRight,
                                                   text.width() - 14));
    painter.restore();
    if (!lines.isEmpty() && lines.constFirst().handedIn)
        painter.drawText(QRect(text.right() - 12, text.top(), 13, line), Qt::AlignRight,
                         QStringLiteral("✓"));
    if (lines.isEmpty())
        return;
    const SeatMap::Line &first = lines.constFirst();
    const QString id = lines.size() > 1
                           ? QStringLiteral("%1 他%2").arg(first.userId).arg(lines.size() - 1)
                           : first.userId;
    painter.drawText(text.left(), text.top() + line + metrics.ascent(),
                     metrics.elidedText(id, Qt::ElideRight, text.width()));
    painter.drawText(text.left(), text.top() + 2 * line + metrics.ascent(),
                     metrics.elidedText(first.name, Qt::ElideRight, text.width()));
}

QString SeatMapView::toolTipOf(int seat) const
{
    const Seat &place = m_layout.seats[seat];
    QStringList text{QStringLiteral("%1 (%2 行 %3 列) %4")
                         .arg(place.label)
                         .arg(place.row)
                         .arg(place.column)
                         .arg(place.address)};
    if (m_bySeat[seat].isEmpty())
        text << SeatMap::stateText(SeatMap::State::Empty);
    for (const SeatMap::Line &line : m_bySeat[seat]) {
        QString entry = QStringLiteral("%1 %2 %3 %4")
                            .arg(line.userId, line.name, SeatMap::stateText(line.state), line.time);
        if (line.handedIn)
            entry += QStringLiteral(" 提出: ") + line.fileName;
        if (!line.others.isEmpty())
            entry += QStringLiteral(" (") + line.others.join(QStringLiteral(", ")) + u')';
        text << entry;
    }
    return text.join(u'\n');
}

void SeatMapView::mousePressEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    const int seat = seatAt(point);
    if (m_editing && event->button() == Qt::LeftButton) {
        m_selected = seat;
        m_dragged = seat;
        if (seat >= 0) {
            m_grabOffset = point - seatRect(seat).topLeft();
            m_dragAt = point;
        }
        update();
        Q_EMIT seatSelected(seat);
    } else if (!m_editing && seat >= 0) {
        Q_EMIT studentClicked(m_bySeat[seat].isEmpty() ? QString()
                                                       : m_bySeat[seat].constFirst().userId);
    }
    QWidget::mousePressEvent(event);
}

void SeatMapView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragged >= 0) {
        m_dragAt = event->position().toPoint();
        update();
    }
    QWidget::mouseMoveEvent(event);
}

void SeatMapView::mouseReleaseEvent(QMouseEvent *event)
{
    const int seat = std::exchange(m_dragged, -1);
    if (seat >= 0) {
        update();
        const QPair<int, int> place = dropPlace(event->position().toPoint());
        if (place.first > 0 &&
            place != QPair<int, int>(m_layout.seats[seat].row, m_layout.seats[seat].column))
            Q_EMIT seatMoved(seat, place.first, place.second);
    }
    QWidget::mouseReleaseEvent(event);
}

bool SeatMapView::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto *help = static_cast<QHelpEvent *>(event);
    const int seat = seatAt(help->pos());
    if (seat < 0)
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), toolTipOf(seat), this, seatRect(seat));
    return true;
}
