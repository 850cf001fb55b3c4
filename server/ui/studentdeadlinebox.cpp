#include "server/ui/studentdeadlinebox.h"

#include "common/clock.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

namespace {

QDateTimeEdit *timeEdit(const char *name, QWidget *parent)
{
    auto *edit = new QDateTimeEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    edit->setCalendarPopup(true);
    const QDateTime now = Clock::now();
    // Tomorrow at this hour: an extension is rarely for today.
    edit->setDateTime(QDateTime(now.date().addDays(1), QTime(now.time().hour(), 0)));
    return edit;
}

QDateTime wholeMinute(const QDateTimeEdit *edit)
{
    const QDateTime time = edit->dateTime();
    return QDateTime(time.date(), QTime(time.time().hour(), time.time().minute()));
}

} // namespace

StudentDeadlineBox::StudentDeadlineBox(const QList<StudentDeadline> &current,
                                       const QList<Student> &roster, QLabel *problem,
                                       QWidget *parent)
    : QGroupBox(QStringLiteral("個別の締切"), parent), m_deadlines(current), m_roster(roster),
      m_problem(problem), m_list(new QListWidget(this)), m_id(new QComboBox(this)),
      m_due(timeEdit("ownDue", this)),
      m_cutoffOn(new QCheckBox(QStringLiteral("受付締切(&K)"), this)),
      m_cutoff(timeEdit("ownCutoff", this)), m_reason(new QLineEdit(this))
{
    setObjectName(QStringLiteral("ownDeadlines"));
    std::sort(
        m_deadlines.begin(), m_deadlines.end(),
        [](const StudentDeadline &a, const StudentDeadline &b) { return a.userId < b.userId; });
    m_list->setObjectName(QStringLiteral("ownList"));
    // A few lines are enough; the times and the reason need the width.
    m_list->setMaximumHeight(m_list->fontMetrics().height() * 6);
    setMinimumWidth(m_list->fontMetrics().horizontalAdvance(QString(64, u'0')));
    m_id->setObjectName(QStringLiteral("ownId"));
    m_cutoffOn->setObjectName(QStringLiteral("ownCutoffOn"));
    m_reason->setObjectName(QStringLiteral("ownReason"));
    m_reason->setPlaceholderText(QStringLiteral("理由 (診断書など)"));
    m_reason->setMaxLength(100);
    for (const Student &student : roster)
        m_id->addItem(student.first + QStringLiteral("  ") + student.second, student.first);
    m_cutoff->setEnabled(false);
    connect(m_cutoffOn, &QCheckBox::toggled, m_cutoff, &QWidget::setEnabled);
    auto *add = new QPushButton(QStringLiteral("設定(&A)"), this);
    add->setObjectName(QStringLiteral("ownAdd"));
    add->setEnabled(!roster.isEmpty());
    m_remove = new QPushButton(QStringLiteral("削除(&R)"), this);
    m_remove->setObjectName(QStringLiteral("ownRemove"));
    connect(add, &QPushButton::clicked, this, &StudentDeadlineBox::addOrReplace);
    connect(m_remove, &QPushButton::clicked, this, &StudentDeadlineBox::removeChosen);
    connect(m_list, &QListWidget::currentRowChanged, this, &StudentDeadlineBox::showChosen);
    auto *layout = new QGridLayout(this);
    layout->addWidget(m_list, 0, 0, 1, 3);
    layout->addWidget(new QLabel(QStringLiteral("ユーザID"), this), 1, 0);
    layout->addWidget(m_id, 1, 1, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("締切"), this), 2, 0);
    layout->addWidget(m_due, 2, 1, 1, 2);
    layout->addWidget(m_cutoffOn, 3, 0);
    layout->addWidget(m_cutoff, 3, 1, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("理由"), this), 4, 0);
    layout->addWidget(m_reason, 4, 1, 1, 2);
    layout->addWidget(add, 5, 1);
    layout->addWidget(m_remove, 5, 2);
    refill();
}

void StudentDeadlineBox::refill()
{
    m_list->clear();
    for (const StudentDeadline &own : std::as_const(m_deadlines)) {
        m_list->addItem(own.userId + QStringLiteral(": ") + own.text() +
                        (own.fromRoster ? QStringLiteral(" [受講ﾌｧｲﾙ]") : QString()));
        m_list->item(m_list->count() - 1)->setToolTip(m_list->item(m_list->count() - 1)->text());
    }
    m_remove->setEnabled(false);
}

void StudentDeadlineBox::showChosen()
{
    const int row = m_list->currentRow();
    if (row < 0 || row >= m_deadlines.size()) {
        m_remove->setEnabled(false);
        return;
    }
    const StudentDeadline &own = m_deadlines[row];
    m_remove->setEnabled(!own.fromRoster);
    m_id->setCurrentIndex(m_id->findData(own.userId));
    m_due->setDateTime(own.deadline.due);
    m_cutoffOn->setChecked(own.deadline.cutoff != own.deadline.due);
    m_cutoff->setDateTime(own.deadline.cutoff);
    m_reason->setText(own.reason);
}

void StudentDeadlineBox::addOrReplace()
{
    const QString id = m_id->currentData().toString();
    if (id.isEmpty())
        return;
    const QDateTime due = wholeMinute(m_due);
    const QDateTime cutoff = m_cutoffOn->isChecked() ? wholeMinute(m_cutoff) : due;
    if (cutoff < due) {
        m_problem->setText(QStringLiteral("受付締切は締切より後にしてください｡"));
        return;
    }
    m_problem->clear();
    m_deadlines.removeIf([&id](const StudentDeadline &own) { return own.userId == id; });
    m_deadlines.append({id, {due, cutoff}, plainReason(m_reason->text()), false, Clock::today()});
    std::sort(
        m_deadlines.begin(), m_deadlines.end(),
        [](const StudentDeadline &a, const StudentDeadline &b) { return a.userId < b.userId; });
    refill();
}

void StudentDeadlineBox::removeChosen()
{
    const int row = m_list->currentRow();
    if (row < 0 || row >= m_deadlines.size() || m_deadlines[row].fromRoster)
        return;
    m_deadlines.removeAt(row);
    refill();
}
