#pragma once

#include "server/lecture/assignmentdeadline.h"
#include "server/lecture/studentdeadline.h"
#include "server/lecture/uploadgate.h"

#include <QHash>

#include <QObject>
#include <QString>

// The lecture values the window shows in its labels: lecture name, lecturer
// in charge, assignment folder and handout folder. The labels display them; the
// protocol reads them from here at the moment it needs them.
class Lecture : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    const QString &kougimei() const { return m_kougimei; }
    const QString &tantousya() const { return m_tantousya; }
    const QString &kadaidir() const { return m_kadaidir; }
    // The folder whose files are handed out to the students.
    const QString &haifudir() const { return m_haifudir; }
    // The folder of work returned: each file goes only to the student it
    // is named for.
    const QString &henkyakudir() const { return m_henkyakudir; }

    void setKougimei(const QString &text);
    void setTantousya(const QString &text);
    void setKadaidir(const QString &text);
    void setHaifudir(const QString &text);
    void setHenkyakudir(const QString &text);

    // The roster file the lecture was loaded from; empty without one.
    const QString &rosterPath() const { return m_rosterPath; }
    void setRosterPath(const QString &path);
    // The due time and cut-off in force for the assignment folder now.
    const AssignmentDeadline &deadline() const { return m_deadline; }
    void setDeadline(const AssignmentDeadline &deadline);
    // The roster file's simekiri and uketuke values, as a load read them.
    void setRosterDeadline(const QString &simekiri, const QString &uketuke);

    // Students' own deadlines in force for the assignment folder, per ID.
    const QHash<QString, StudentDeadline> &studentDeadlines() const { return m_studentDeadlines; }
    void setStudentDeadlines(const QList<StudentDeadline> &deadlines);
    // The deadline `userId` is held to: their own, or the assignment's.
    AssignmentDeadline deadlineOf(const QString &userId) const;
    // The roster's enchou lines, as a load read them (the IDs checked).
    void setRosterStudentDeadlines(const QList<StudentDeadline> &deadlines);

    // What the assignment accepts (kakutyousi, saidai).
    const AcceptedFiles &accepted() const { return m_accepted; }
    void setAccepted(const AcceptedFiles &accepted) { m_accepted = accepted; }

Q_SIGNALS:
    void kougimeiChanged(const QString &text);
    void tantousyaChanged(const QString &text);
    void kadaidirChanged(const QString &text);
    void haifudirChanged(const QString &text);
    void henkyakudirChanged(const QString &text);
    void deadlineChanged(const AssignmentDeadline &deadline);
    void rosterDeadlineRead(const QString &simekiri, const QString &uketuke);
    void studentDeadlinesChanged();
    void rosterStudentDeadlinesRead(const QList<StudentDeadline> &deadlines);
    void rosterPathChanged(const QString &path);

private:
    QString m_kougimei;
    QString m_tantousya;
    QString m_kadaidir;
    QString m_haifudir;
    QString m_henkyakudir;
    QString m_rosterPath;
    AssignmentDeadline m_deadline;
    QHash<QString, StudentDeadline> m_studentDeadlines;
    AcceptedFiles m_accepted;
};
