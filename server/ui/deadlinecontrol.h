#pragma once

#include "server/lecture/assignmentdeadline.h"
#include "server/ui/studentdeadlinebox.h"

#include <QDialog>
#include <QToolButton>

class LectureServer;
class QCheckBox;
class QDateTimeEdit;
class QLabel;

// Setting the due time and the cut-off of the assignment folder: two times,
// each switched on or off, a button that clears both, and the students' own
// deadlines below them.
class DeadlineDialog : public QDialog
{
    Q_OBJECT
public:
    DeadlineDialog(const AssignmentDeadline &current, const QList<StudentDeadline> &students,
                   const QList<StudentDeadlineBox::Student> &roster, QWidget *parent = nullptr);

    AssignmentDeadline deadline() const;
    const QList<StudentDeadline> &studentDeadlines() const { return m_students->deadlines(); }

    void accept() override;

private:
    void addRow(QCheckBox *on, QDateTimeEdit *time, const QDateTime &value, int row);

    QCheckBox *m_dueOn = nullptr;
    QDateTimeEdit *m_due = nullptr;
    QCheckBox *m_cutoffOn = nullptr;
    QDateTimeEdit *m_cutoff = nullptr;
    QLabel *m_problem = nullptr;
    StudentDeadlineBox *m_students = nullptr;
};

// Beside the assignment folder: shows the deadline in force and opens the
// dialog that sets, changes or clears it.
class DeadlineControl : public QToolButton
{
    Q_OBJECT
public:
    explicit DeadlineControl(LectureServer &server, QWidget *parent = nullptr);

    void simekiri_Click();

private:
    void display(const AssignmentDeadline &deadline);

    LectureServer &m_server;
};
