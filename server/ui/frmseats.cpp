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
#include <QPushButton>
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
    setWindowTitle(QStringLiteral("座席表"));
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

FrmSeats::~FrmSeats() = default;

void FrmSeats::buildControls()
{
    m_flip = new QPushButton(FromBack, this);
    m_flip->setObjectName(QStringLiteral("flipView"));
    connect(m_flip, &QPushButton::clicked, this, &FrmSeats::flip);
    auto *save = new QPushButton(QStringLiteral("画像保存"), this);
    save->setObjectName(QStringLiteral("saveImage"));
    connect(save, &QPushButton::clicked, this, &FrmSeats::saveImage);
    m_view = new SeatMapView;
    m_view->setObjectName(QStringLiteral("seatMap"));
    connect(m_view, &SeatMapView::studentClicked, this, &FrmSeats::studentClicked);
    auto *scroll = new QScrollArea(this);
    scroll->setWidget(m_view);
    scroll->setWidgetResizable(false);
    m_outside = listLabel(this);
    m_outside->setObjectName(QStringLiteral("outsideList"));
    m_absent = listLabel(this);
    m_absent->setObjectName(QStringLiteral("absentList"));
    m_problems = listLabel(this);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_flip);
    buttons->addWidget(save);
    buttons->addStretch(1);
    auto *column = new QVBoxLayout(this);
    column->addLayout(buttons);
    column->addWidget(scroll, 1);
    column->addWidget(m_outside);
    column->addWidget(m_absent);
    column->addWidget(m_problems);
}

void FrmSeats::open(const QString &startFolder)
{
    const Lecture &lecture = m_server.lecture();
    QString error;
    std::optional<SeatLayout> layout = readSeatLayoutFile(seatLayoutPath(startFolder), &error);
    if (!layout) {
        m_messages.show(error + QStringLiteral("｡到着順に並べます｡"));
        layout = SeatLayout::inArrivalOrder({});
    }
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

void FrmSeats::saveImage()
{
    const QString path = m_dialogs.saveFileName(QStringLiteral("座席表.png"),
                                                QStringLiteral("PNGﾌｧｲﾙ (*.png)|*.png"));
    if (path.isEmpty())
        return;
    if (!m_view->grab().save(path, "PNG"))
        m_messages.show(QStringLiteral("%1 に保存できません｡").arg(path));
}
