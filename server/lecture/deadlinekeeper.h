#pragma once

#include "server/lecture/assignmentdeadline.h"

#include <QHash>
#include <QObject>
#include <QString>

class Lecture;

// Keeps the lecture's deadline in step with its assignment folder. A roster
// load brings the file's simekiri and uketuke; the lecturer may change or
// clear them in the window; what the lecturer set is remembered per folder
// in the data folder, so that choosing a folder again brings its deadline
// back. Opening the same roster again keeps the lecturer's change; a roster
// whose values differ from those the change was made against (edited, or
// "HH:MM" on another day) brings its own.
class DeadlineKeeper : public QObject
{
    Q_OBJECT
public:
    explicit DeadlineKeeper(Lecture &lecture, QString storePath = defaultStorePath(),
                            QObject *parent = nullptr);

    static QString defaultStorePath();

    // The lecturer's own setting for the folder shown now.
    void change(const AssignmentDeadline &deadline);

Q_SIGNALS:
    void logEntry(const QString &entry);

private:
    struct Entry
    {
        AssignmentDeadline set;  // in force for the folder
        AssignmentDeadline plan; // the roster's values the setting was made against
    };

    void folderChosen(const QString &folder);
    void rosterRead(const QString &simekiri, const QString &uketuke);
    void apply(const AssignmentDeadline &deadline, const QString &why);
    QHash<QString, Entry> load() const;
    void save(const QHash<QString, Entry> &entries);
    static QString keyOf(const QString &folder);

    Lecture &m_lecture;
    QString m_storePath;
    QString m_rosterFolder;
    AssignmentDeadline m_rosterPlan;
};
