#pragma once

#include "server/lecture/assignmentdeadline.h"

#include <QDialog>
#include <QToolButton>

class DeadlineKeeper;
class Lecture;
class QCheckBox;
class QDateTimeEdit;
class QLabel;

// Setting the due time and the cut-off of the assignment folder: two times,
// each switched on or off, and a button that clears both.
class DeadlineDialog : public QDialog
{
    Q_OBJECT
public:
    DeadlineDialog(const AssignmentDeadline &current, QWidget *parent = nullptr);

    AssignmentDeadline deadline() const;

    void accept() override;

private:
    void addRow(QCheckBox *on, QDateTimeEdit *time, const QDateTime &value, int row);

    QCheckBox *m_dueOn = nullptr;
    QDateTimeEdit *m_due = nullptr;
    QCheckBox *m_cutoffOn = nullptr;
    QDateTimeEdit *m_cutoff = nullptr;
    QLabel *m_problem = nullptr;
};

// Beside the assignment folder: shows the deadline in force and opens the
// dialog that sets, changes or clears it.
class DeadlineControl : public QToolButton
{
    Q_OBJECT
public:
    DeadlineControl(Lecture &lecture, DeadlineKeeper &keeper, QWidget *parent = nullptr);

    void simekiri_Click();

private:
    void display(const AssignmentDeadline &deadline);

    Lecture &m_lecture;
    DeadlineKeeper &m_keeper;
};
