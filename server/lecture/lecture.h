#pragma once

#include "server/lecture/assignmentdeadline.h"

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

    void setKougimei(const QString &text);
    void setTantousya(const QString &text);
    void setKadaidir(const QString &text);
    void setHaifudir(const QString &text);

    // The roster file the lecture was loaded from; empty without one.
    const QString &rosterPath() const { return m_rosterPath; }
    void setRosterPath(const QString &path);
    // The due time and cut-off in force for the assignment folder now.
    const AssignmentDeadline &deadline() const { return m_deadline; }
    void setDeadline(const AssignmentDeadline &deadline);
    // The roster file's simekiri and uketuke values, as a load read them.
    void setRosterDeadline(const QString &simekiri, const QString &uketuke);

Q_SIGNALS:
    void kougimeiChanged(const QString &text);
    void tantousyaChanged(const QString &text);
    void kadaidirChanged(const QString &text);
    void haifudirChanged(const QString &text);
    void deadlineChanged(const AssignmentDeadline &deadline);
    void rosterDeadlineRead(const QString &simekiri, const QString &uketuke);
    void rosterPathChanged(const QString &path);

private:
    QString m_kougimei;
    QString m_tantousya;
    QString m_kadaidir;
    QString m_haifudir;
    QString m_rosterPath;
    AssignmentDeadline m_deadline;
};
