#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

// Where earlier submissions are kept: inside the assignment folder, under a
// hidden folder that no announced file name can take, one folder per file
// name, one file per version named by when it was handed in and the start of
// its SHA-256. Every common file system accepts these names (no ":", short).
namespace versionnames {

inline const QString FolderName = QStringLiteral(".tavrelle-versions");

// "<assignment folder>/.tavrelle-versions/<file name>"
QString historyFolder(const QString &assignmentFolder, const QString &fileName);

// "yyyyMMdd_HHmmss_<8 hex><extension of fileName>"; the extension is left out
// where it would make the name too long for a file system.
QString versionFileName(const QDateTime &handedIn, const QString &sha256, const QString &fileName);

struct Version
{
    QDateTime handedIn;
    QString sha8;
    int sequence = 1; // "_2", "_3", … after the hash: a later version of the same second
};
// Nothing for a name that is not a version's.
std::optional<Version> parseVersionFileName(const QString &name);

// Whether version `a` was handed in before `b`: by the time in their names,
// then their sequence numbers, never by the file system's times (FAT keeps
// two seconds, and copies change them). Both must be version names.
bool handedInBefore(const QString &a, const QString &b);
// "<stamp>_<8 hex>_<sequence><extension>" for a second version named by the
// same second; `name` as versionFileName gives it.
QString withSequence(const QString &name, int sequence);

// The versions in a history folder, the earliest handed in first; other
// files are left out.
QStringList versionsIn(const QString &historyFolder);

} // namespace versionnames
