#include "server/ui/seatmapview.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QToolTip>

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
    if (size() != sizeHint()) {
        updateGeometry();
        resize(sizeHint());
    }
    update();
}

void SeatMapView::setFromFront(bool fromFront)
{
    m_fromFront = fromFront;
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
    return {Gap + m_columns * (SeatWidth + Gap), Gap + m_rows * (SeatHeight + Gap)};
}

QRect SeatMapView::seatRect(int seat) const
{
    const Seat &place = m_layout.seats[seat];
    // From the front the lecturer faces the class: row 1 nearest, at the
    // bottom, and column 1 on the right.
    const int row = m_fromFront ? m_rows - place.row : place.row - 1;
    const int column = m_fromFront ? m_columns - place.column : place.column - 1;
    return {Gap + column * (SeatWidth + Gap), Gap + row * (SeatHeight + Gap), SeatWidth,
            SeatHeight};
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
    for (int seat = 0; seat < m_layout.seats.size(); ++seat) {
        if (seatRect(seat).intersects(event->rect()))
            paintSeat(painter, seat);
    }
}

void SeatMapView::paintSeat(QPainter &painter, int seat) const
{
    const QRect box = seatRect(seat);
    const QList<SeatMap::Line> &lines = m_bySeat[seat];
    const SeatMap::State state = lines.isEmpty() ? SeatMap::State::Empty : lines.constFirst().state;
    painter.fillRect(box, colourOf(state));
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
    const int seat = seatAt(event->position().toPoint());
    if (seat >= 0)
        Q_EMIT studentClicked(m_bySeat[seat].isEmpty() ? QString()
                                                       : m_bySeat[seat].constFirst().userId);
    QWidget::mousePressEvent(event);
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
