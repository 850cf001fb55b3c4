#pragma once

#include "common/result.h"
#include "server/lecture/assignmentdeadline.h"
#include "server/lecture/studentdeadline.h"

#include <QDate>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>

// What the lecturer set in the window for one assignment folder.
struct FolderDeadlines
{
    struct Assignment
    {
        AssignmentDeadline set;  // in force for the folder
        AssignmentDeadline plan; // the roster's values the setting was made against
        QDate setOn;             // invalid: kept by an older build, day unknown
    };
    std::optional<Assignment> assignment;
    QList<StudentDeadline> students;

    bool isEmpty() const { return !assignment && students.isEmpty(); }
};

// The file in the data folder that remembers FolderDeadlines per folder,
// one line each (code page 932, CR LF):
//   deadline,key,set on,due,cut-off,roster due,roster cut-off,folder
//   enchou,key,set on,ID,due,cut-off,reason
// The key is a hash of the folder, whatever the code page can hold; the
// folder is there for people reading the file. Lines of older builds,
// "key,due,cut-off,roster due,roster cut-off,folder", are read too.
class DeadlineStore
{
public:
    explicit DeadlineStore(QString path) : m_path(std::move(path)) {}

    static QString keyOf(const QString &folder);
    const QString &path() const { return m_path; }

    QHash<QString, FolderDeadlines> load() const;
    // Writes every folder's lines; `folder` names the key keyOf(folder)
    // (the others keep the names the file had).
    Result<> save(const QHash<QString, FolderDeadlines> &entries, const QString &folder) const;

private:
    QString m_path;
};
