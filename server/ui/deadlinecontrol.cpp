#include "server/ui/deadlinecontrol.h"

#include "common/clock.h"
#include "server/app/lectureserver.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace {

// The next full hour: a sensible first guess for a time not yet set.
QDateTime nextHour()
{
    const QDateTime now = Clock::now();
    return QDateTime(now.date(), QTime(now.time().hour(), 0)).addSecs(3600);
}

} // namespace

DeadlineDialog::DeadlineDialog(const AssignmentDeadline &current,
                               const QList<StudentDeadline> &students,
                               const QList<StudentDeadlineBox::Student> &roster, QWidget *parent)
    : QDialog(parent), m_dueOn(new QCheckBox(QStringLiteral("締切(&D)"), this)),
      m_due(new QDateTimeEdit(this)),
      m_cutoffOn(new QCheckBox(QStringLiteral("受付締切(&U)"), this)),
      m_cutoff(new QDateTimeEdit(this)), m_problem(new QLabel(this))
{
    setObjectName(QStringLiteral("DeadlineDialog"));
    setWindowTitle(QStringLiteral("課題の締切"));
    m_dueOn->setObjectName(QStringLiteral("dueOn"));
    m_due->setObjectName(QStringLiteral("due"));
    m_cutoffOn->setObjectName(QStringLiteral("cutoffOn"));
    m_cutoff->setObjectName(QStringLiteral("cutoff"));
    m_problem->setObjectName(QStringLiteral("problem"));
    auto *layout = new QGridLayout(this);
    addRow(m_dueOn, m_due, current.due, 0);
    addRow(m_cutoffOn, m_cutoff, current.cutoff, 1);
    auto *help = new QLabel(QStringLiteral("締切の後に届いた課題は締切後として記録します｡\n"
                                           "受付締切の後は課題を受け付けません｡"),
                            this);
    layout->addWidget(help, 2, 0, 1, 2);
    m_problem->setStyleSheet(QStringLiteral("color: #b00000"));
    layout->addWidget(m_problem, 3, 0, 1, 2);
    m_students = new StudentDeadlineBox(students, roster, m_problem, this);
    layout->addWidget(m_students, 4, 0, 1, 2);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton *clear = buttons->addButton(QStringLiteral("ｸﾘｱ(&C)"), QDialogButtonBox::ResetRole);
    clear->setObjectName(QStringLiteral("clear"));
    connect(clear, &QPushButton::clicked, this, [this] {
        m_dueOn->setChecked(false);
        m_cutoffOn->setChecked(false);
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &DeadlineDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &DeadlineDialog::reject);
    layout->addWidget(buttons, 5, 0, 1, 2);
}

void DeadlineDialog::addRow(QCheckBox *on, QDateTimeEdit *time, const QDateTime &value, int row)
{
    time->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    time->setCalendarPopup(true);
    time->setDateTime(value.isValid() ? value : nextHour());
    on->setChecked(value.isValid());
    time->setEnabled(value.isValid());
    connect(on, &QCheckBox::toggled, time, &QWidget::setEnabled);
    auto *layout = static_cast<QGridLayout *>(this->layout());
    layout->addWidget(on, row, 0);
    layout->addWidget(time, row, 1);
}

AssignmentDeadline DeadlineDialog::deadline() const
{
    // Whole minutes, as the roster writes them.
    const auto minute = [](const QDateTimeEdit *edit) {
        const QDateTime time = edit->dateTime();
        return QDateTime(time.date(), QTime(time.time().hour(), time.time().minute()));
    };
    return {m_dueOn->isChecked() ? minute(m_due) : QDateTime(),
            m_cutoffOn->isChecked() ? minute(m_cutoff) : QDateTime()};
}

void DeadlineDialog::accept()
{
    const AssignmentDeadline chosen = deadline();
    if (chosen.due.isValid() && chosen.cutoff.isValid() && chosen.cutoff < chosen.due) {
        m_problem->setText(QStringLiteral("受付締切は締切より後にしてください｡"));
        return;
    }
    QDialog::accept();
}

DeadlineControl::DeadlineControl(LectureServer &server, QWidget *parent)
    : QToolButton(parent), m_server(server)
{
    setObjectName(QStringLiteral("simekiri"));
    setAutoRaise(true);
    // Mouse only: the keyboard's way through the window stays as it was.
    setFocusPolicy(Qt::ClickFocus);
    QFont small = font();
    small.setPointSizeF(7.5);
    setFont(small);
    connect(this, &QToolButton::clicked, this, &DeadlineControl::simekiri_Click);
    const Lecture &lecture = m_server.lecture();
    connect(&lecture, &Lecture::deadlineChanged, this, &DeadlineControl::display);
    connect(&lecture, &Lecture::studentDeadlinesChanged, this,
            [this] { display(m_server.lecture().deadline()); });
    display(lecture.deadline());
}

void DeadlineControl::display(const AssignmentDeadline &deadline)
{
    setText(deadline.summary());
    QString tip = QStringLiteral("課題の締切を設定します｡\n") + deadline.summary();
    if (const qsizetype own = m_server.lecture().studentDeadlines().size())
        tip += QStringLiteral("\n個別の締切 %1人").arg(own);
    setToolTip(tip);
}

void DeadlineControl::simekiri_Click()
{
    const Lecture &lecture = m_server.lecture();
    const RosterGrid &grid = m_server.grid();
    QList<StudentDeadlineBox::Student> roster;
    for (int row = 1; row <= grid.studentRows(); ++row)
        roster.append({grid.text(row, RosterGrid::UserId), grid.text(row, RosterGrid::UserName)});
    DeadlineDialog dialog(lecture.deadline(), lecture.studentDeadlines().values(), roster,
                          window());
    if (dialog.exec() == QDialog::Accepted)
        m_server.deadlines().change(dialog.deadline(), dialog.studentDeadlines());
}
