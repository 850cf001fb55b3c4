#pragma once

#include "server/lecture/studentdeadline.h"

#include <QGroupBox>
#include <QList>
#include <QString>
#include <utility>

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// The 個別の締切 part of the deadline dialog: the students' own deadlines
// in force, and a row that gives one student (chosen from the roster) an
// own due time, cut-off and reason, or takes one set here away. Those from
// the roster's enchou lines are shown and may be replaced, not removed: the
// roster brings them back.
class StudentDeadlineBox : public QGroupBox
{
    Q_OBJECT
public:
    using Student = std::pair<QString, QString>; // ID, name
    StudentDeadlineBox(const QList<StudentDeadline> &current, const QList<Student> &roster,
                       QLabel *problem, QWidget *parent = nullptr);

    const QList<StudentDeadline> &deadlines() const { return m_deadlines; }

private:
    void addOrReplace();
    void removeChosen();
    void showChosen();
    void refill();

    QList<StudentDeadline> m_deadlines;
    QList<Student> m_roster;
    QLabel *m_problem = nullptr;
    QListWidget *m_list = nullptr;
    QComboBox *m_id = nullptr;
    QDateTimeEdit *m_due = nullptr;
    QCheckBox *m_cutoffOn = nullptr;
    QDateTimeEdit *m_cutoff = nullptr;
    QLineEdit *m_reason = nullptr;
    QPushButton *m_remove = nullptr;
};
