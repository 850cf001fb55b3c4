#pragma once

#include "server/lecture/assignmentdeadline.h"
#include "server/lecture/deadlinestore.h"
#include "server/lecture/studentdeadline.h"

#include <QHash>
#include <QObject>
#include <QString>

class Lecture;

// Keeps the lecture's deadlines in step with its assignment folder. A roster
// load brings the file's simekiri and uketuke and its students' enchou lines;
// the lecturer may change or clear them in the window, and give a student
// an own deadline there; what the lecturer set is remembered per folder in
// the data folder, so that choosing a folder again brings its deadlines
// back. Opening the same roster again keeps the lecturer's change; a roster
// whose values differ from those the change was made against (edited, or
// "HH:MM" on another day) brings its own.
//
// A setting belongs to the day it was made: on a later day (next week's
// lecture with the same folder) one whose times have all passed is dropped,
// and the log says so, instead of shutting that day's students out.
class DeadlineKeeper : public QObject
{
    Q_OBJECT
public:
    explicit DeadlineKeeper(Lecture &lecture, QString storePath = defaultStorePath(),
                            QObject *parent = nullptr);

    static QString defaultStorePath();

    // The lecturer's own setting for the folder shown now; the students'
    // own deadlines set in the window stay as they are.
    void change(const AssignmentDeadline &deadline);
    // The same with the students' own deadlines set in the window (those
    // from the roster are left out: the roster brings them).
    void change(const AssignmentDeadline &deadline, const QList<StudentDeadline> &students);

Q_SIGNALS:
    void logEntry(const QString &entry);

private:
    void folderChosen(const QString &folder);
    void rosterRead(const QString &simekiri, const QString &uketuke);
    void rosterStudentsRead(const QList<StudentDeadline> &students);
    void apply(const AssignmentDeadline &deadline, const QString &why);
    // The folder's remembered setting without what a later day has left
    // behind; what is dropped is logged and forgotten in the file.
    FolderDeadlines heldFor(const QString &folder);
    void dropPassed(FolderDeadlines &entry);
    void applyStudents(const FolderDeadlines &entry);
    QList<StudentDeadline> windowStudents() const;
    void save(const QHash<QString, FolderDeadlines> &entries);

    Lecture &m_lecture;
    DeadlineStore m_store;
    QString m_rosterFolder;
    AssignmentDeadline m_rosterPlan;
    QList<StudentDeadline> m_rosterStudents;
};
