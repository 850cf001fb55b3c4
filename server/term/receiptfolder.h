#pragma once

#include <QHash>
#include <QString>

#include <sys/types.h>

// Whether what a journal line names (its folder and file name) is the
// assignment folder a list is made for. The folder counts by what it is,
// not by how it was written: the same device and inode, or the same
// canonical path, so that a link to the folder, or the folder reached
// through one, is the same folder. A folder that does not exist on this
// machine (the journals came with a copy of it) is this one when it has the
// same last name and the file named is here, in the folder or its history;
// a journal line that names no folder (older builds) only needs the file.
class ReceiptFolder
{
public:
    explicit ReceiptFolder(const QString &folder);

    const QString &path() const { return m_path; }
    bool holds(const QString &namedFolder, const QString &fileName);

private:
    enum class Verdict { Here, Elsewhere, Absent };
    Verdict verdictOn(const QString &namedFolder);
    bool fileIsHere(const QString &fileName);

    QString m_path; // absolute and clean, as the list names it
    QString m_canonical;
    QString m_lastName;
    dev_t m_device = 0;
    ino_t m_inode = 0;
    bool m_exists = false;
    // Journals name few folders and files: what was found is kept.
    QHash<QString, Verdict> m_verdicts;
    QHash<QString, bool> m_files;
    QString m_lastFolder;
    Verdict m_lastVerdict = Verdict::Absent;
};
