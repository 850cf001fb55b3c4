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
};
// Nothing for a name that is not a version's.
std::optional<Version> parseVersionFileName(const QString &name);

// The versions in a history folder, the earliest handed in first; other
// files are left out.
QStringList versionsIn(const QString &historyFolder);

} // namespace versionnames
