#include "server/ui/frmseats.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "platform/dialogs.h"
#include "server/app/lectureserver.h"
#include "server/app/seatscommand.h"
#include "server/records/journalcodec.h"
#include "server/records/journalreader.h"
#include "server/records/lecturejournal.h"
#include "server/records/seatclaims.h"
#include "server/ui/seatmapview.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

const QString FromFront = QStringLiteral("前から見る");
const QString FromBack = QStringLiteral("後ろから見る");

int secondsOf(const QString &time)
{
    int seconds = 0;
    journalcodec::isTimeOfDay(time.toLatin1(), &seconds);
    return seconds;
}

// A list under the map names its first entries only: a label laid out
// anew with a thousand names would hold up every mark.
QString shortList(const QStringList &entries)
{
    constexpr int Shown = 60;
    QString text = entries.mid(0, Shown).join(QStringLiteral("、"));
    if (entries.size() > Shown)
        text += QStringLiteral(" ほか %1 人").arg(entries.size() - Shown);
    return text;
}

QLabel *listLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

} // namespace

FrmSeats::FrmSeats(LectureServer &server, FileDialogs &dialogs, MessageBox &messages,
                   QWidget *parent)
    : QWidget(parent, Qt::Window), m_server(server), m_dialogs(dialogs), m_messages(messages)
{
    setObjectName(QStringLiteral("frmSeats"));
    setWindowTitle(QStringLiteral("座席表[*]"));
    buildControls();
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(RedrawDelayMs);
    connect(&m_redraw, &QTimer::timeout, this, &FrmSeats::redraw);
    AttendanceBook &book = server.book();
    connect(&book, &AttendanceBook::marked, this,
            [this](int, const QString &id, const QString &time, const QString &address) {
                m_map->addClaim({id, address, time, secondsOf(time)});
                scheduleRedraw();
            });
    connect(&book, &AttendanceBook::claimedAgain, this,
            [this](int, const QString &id, const QString &address) {
                const QString time = Clock::now().time().toString(QStringLiteral("HH:mm:ss"));
                m_map->addClaim({id, address, time, secondsOf(time)});
                scheduleRedraw();
            });
    connect(&book, &AttendanceBook::claimedOffRoster, this,
            [this](const QString &id, const QString &address, const QString &time) {
                m_map->addClaim({id, address, time, secondsOf(time)});
                scheduleRedraw();
            });
    connect(&book, &AttendanceBook::submitted, this,
            [this](const AttendanceBook::Submission &submission, const QString &) {
                m_map->addHandedIn(submission.userId, submission.fileName);
                scheduleRedraw();
            });
    m_map = std::make_unique<SeatMap>(SeatLayout::inArrivalOrder({}), QList<SeatMap::Student>(),
                                      std::nullopt);
}

FrmSeats::~FrmSeats()
{
    // Closing moves the focus off the label field, after the map is gone.
    disconnect(m_seatLabel, nullptr, this, nullptr);
}

void FrmSeats::buildControls()
{
    m_flip = new QPushButton(FromBack, this);
    m_flip->setObjectName(QStringLiteral("flipView"));
    connect(m_flip, &QPushButton::clicked, this, &FrmSeats::flip);
    auto *save = new QPushButton(QStringLiteral("画像保存"), this);
    save->setObjectName(QStringLiteral("saveImage"));
    connect(save, &QPushButton::clicked, this, &FrmSeats::saveImage);
    m_edit = new QPushButton(QStringLiteral("配置の編集"), this);
    m_edit->setObjectName(QStringLiteral("editLayout"));
    m_edit->setCheckable(true);
    connect(m_edit, &QPushButton::toggled, this, &FrmSeats::setEditing);
    m_view = new SeatMapView;
    m_view->setObjectName(QStringLiteral("seatMap"));
    connect(m_view, &SeatMapView::studentClicked, this, &FrmSeats::studentClicked);
    connect(m_view, &SeatMapView::seatSelected, this, &FrmSeats::selectSeat);
    connect(m_view, &SeatMapView::seatMoved, this, &FrmSeats::moveSeat);
    m_scroll = new QScrollArea(this);
    m_scroll->setWidget(m_view);
    m_scroll->setWidgetResizable(false);
    m_outside = listLabel(this);
    m_outside->setObjectName(QStringLiteral("outsideList"));
    m_absent = listLabel(this);
    m_absent->setObjectName(QStringLiteral("absentList"));
    m_problems = listLabel(this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_flip);
    buttons->addWidget(save);
    buttons->addWidget(m_edit);
    buttons->addStretch(1);
    auto *column = new QVBoxLayout(this);
    column->addLayout(buttons);
    column->addWidget(buildEditBar());
    column->addWidget(m_scroll, 1);
    column->addWidget(m_outside);
    column->addWidget(m_absent);
    column->addWidget(m_problems);
}

QWidget *FrmSeats::buildEditBar()
{
    m_editBar = new QWidget(this);
    m_seatLabel = new QLineEdit(m_editBar);
    m_seatLabel->setObjectName(QStringLiteral("seatLabel"));
    m_seatLabel->setPlaceholderText(QStringLiteral("座席をクリックして選びます"));
    connect(m_seatLabel, &QLineEdit::editingFinished, this, &FrmSeats::renameSelectedSeat);
    m_saveLayout = new QPushButton(QStringLiteral("保存"), m_editBar);
    m_saveLayout->setObjectName(QStringLiteral("saveLayout"));
    connect(m_saveLayout, &QPushButton::clicked, this, &FrmSeats::saveLayout);
    auto *row = new QHBoxLayout(m_editBar);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(new QLabel(QStringLiteral("座席名:"), m_editBar));
    row->addWidget(m_seatLabel, 1);
    row->addWidget(m_saveLayout);
    row->addWidget(new QLabel(QStringLiteral("座席はドラッグで動かせます｡"), m_editBar));
    m_editBar->hide();
    return m_editBar;
}

void FrmSeats::open(const QString &startFolder)
{
    const Lecture &lecture = m_server.lecture();
    m_startFolder = startFolder;
    const Result<SeatLayout> read = m_modified ? Result<SeatLayout>(m_map->layout())
                                               : readSeatLayoutFile(seatLayoutPath(startFolder));
    if (!read)
        m_messages.show(read.error() + QStringLiteral("｡到着順に並べます｡"));
    const std::optional<SeatLayout> layout = read ? *read : SeatLayout::inArrivalOrder({});
    m_problems->setText(layout->problems.join(u'\n'));
    const RosterGrid &grid = m_server.grid();
    QList<SeatMap::Student> roster;
    for (int row = 1; row <= grid.rosterCount() && row < grid.rows(); ++row)
        roster.append({grid.text(row, RosterGrid::UserId), grid.text(row, RosterGrid::UserName)});
    m_map = std::make_unique<SeatMap>(*layout, roster, rosterLateAfter(lecture.rosterPath()));
    const QDate today = Clock::now().date();
    const LectureJournals journals =
        findLectureJournals(lecture.kougimei(), {LectureJournal::folder()}, today, today);
    for (const QString &path :
         journals.byDate.count(today) ? journals.byDate.at(today) : QStringList())
        readSeatClaims(path, lecture.kougimei(), *m_map);
    redraw();
    if (!isVisible())
        fitToMap();
}

// Opened, the window shows the whole room when the screen has room for it:
// a scroll area on its own asks for a corner of it only. Once shown, the
// size is the lecturer's.
void FrmSeats::fitToMap()
{
    const int frame = 2 * m_scroll->frameWidth();
    const QSize map = m_view->sizeHint() + QSize(frame, frame);
    const QSize screenRoom = screen() ? screen()->availableGeometry().size() * 9 / 10
                                      : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const int width =
        qMin(layout()->sizeHint().width() - m_scroll->sizeHint().width() + map.width(),
             screenRoom.width());
    // The lists below wrap: their height is the one at that width.
    const int besides = (layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width)
                                                       : layout()->sizeHint().height()) -
                        m_scroll->sizeHint().height();
    resize(QSize(width, qMin(besides + map.height(), screenRoom.height()))
               .expandedTo(minimumSizeHint()));
}

void FrmSeats::scheduleRedraw()
{
    if (!m_redraw.isActive())
        m_redraw.start();
}

void FrmSeats::redraw()
{
    m_view->setMap(*m_map);
    QStringList outside;
    for (const SeatMap::Line &line : m_map->lines()) {
        if (line.seat < 0)
            outside << QStringLiteral("%1 %2 (%3)").arg(line.userId, line.name, line.address);
    }
    QStringList absent;
    for (const SeatMap::Student &student : m_map->absent())
        absent << student.id + u' ' + student.name;
    m_outside->setText(QStringLiteral("座席表にないアドレスから出席 (%1): ").arg(outside.size()) +
                       shortList(outside));
    m_absent->setText(QStringLiteral("未出席 (%1): ").arg(absent.size()) + shortList(absent));
}

void FrmSeats::flip()
{
    m_view->setFromFront(!m_view->fromFront());
    m_flip->setText(m_view->fromFront() ? FromBack : FromFront);
}

void FrmSeats::setEditing(bool editing)
{
    m_view->setEditing(editing);
    m_editBar->setVisible(editing);
    selectSeat(-1);
}

void FrmSeats::selectSeat(int seat)
{
    // A label typed for the seat selected before is that seat's.
    renameSelectedSeat();
    m_labelSeat = seat;
    m_view->setSelectedSeat(seat);
    m_seatLabel->setEnabled(seat >= 0);
    m_seatLabel->setText(seat >= 0 ? m_map->layout().seats[seat].label : QString());
}

void FrmSeats::moveSeat(int seat, int row, int column)
{
    if (!m_map->moveSeat(seat, row, column))
        return;
    setModified(true);
    redraw();
}

void FrmSeats::renameSelectedSeat()
{
    const int seat = m_labelSeat;
    if (seat < 0 || seat >= m_map->layout().seats.size())
        return;
    const QString label = m_seatLabel->text().trimmed();
    if (label == m_map->layout().seats[seat].label)
        return;
    if (const QString problem = SeatLayout::labelProblem(label); !problem.isEmpty()) {
        m_seatLabel->setText(m_map->layout().seats[seat].label);
        m_messages.show(QStringLiteral("座席名「%1」は使えません: %2｡").arg(label, problem));
        return;
    }
    if (m_map->renameSeat(seat, label)) {
        setModified(true);
        redraw();
    }
}

void FrmSeats::setModified(bool modified)
{
    m_modified = modified;
    setWindowModified(modified);
}

void FrmSeats::saveLayout()
{
    renameSelectedSeat();
    const SeatLayout &layout = m_map->layout();
    if (!layout.problems.isEmpty() &&
        !m_messages.ask(QStringLiteral("座席表の読めなかった %1 行は保存すると消えます｡"
                                       "保存しますか?")
                            .arg(layout.problems.size())))
        return;
    const QString path = seatLayoutSavePath(m_startFolder);
    if (const Result<> written = writeSeatLayoutFile(path, layout); !written) {
        m_messages.show(
            QStringLiteral("座席表 %1 に保存できません: %2").arg(path, written.error()));
        return;
    }
    // Read back from the file, as the next start will see it.
    setModified(false);
    open(m_startFolder);
}

void FrmSeats::saveImage()
{
    const QString path = m_dialogs.saveFileName(QStringLiteral("座席表.png"),
                                                QStringLiteral("PNGﾌｧｲﾙ (*.png)|*.png"));
    if (path.isEmpty())
        return;
    if (!m_view->grab().save(path, "PNG"))
        m_messages.show(QStringLiteral("%1 に保存できません｡").arg(path));
}
