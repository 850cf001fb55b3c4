#include "server/folders/versionnames.h"

#include <QDir>
#include <QFile>

namespace versionnames {

namespace {

constexpr qsizetype StampChars = 15; // yyyyMMdd_HHmmss
constexpr qsizetype MaxNameBytes = 255;

bool isHex(QStringView text)
{
    for (QChar c : text) {
        if (!(c.isDigit() || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

} // namespace

QString historyFolder(const QString &assignmentFolder, const QString &fileName)
{
    return assignmentFolder + u'/' + FolderName + u'/' + fileName;
}

QString versionFileName(const QDateTime &handedIn, const QString &sha256, const QString &fileName)
{
    const QString stem =
        handedIn.toString(QStringLiteral("yyyyMMdd_HHmmss")) + u'_' + sha256.left(8).toLower();
    const qsizetype dot = fileName.lastIndexOf(u'.');
    const QString extension = dot > 0 ? fileName.sliced(dot) : QString();
    if (QFile::encodeName(stem + extension).size() > MaxNameBytes)
        return stem;
    return stem + extension;
}

std::optional<Version> parseVersionFileName(const QString &name)
{
    // A second version in the same second gets "_2", "_3", … before the
    // extension.
    if (name.size() < StampChars + 9 || name[StampChars] != u'_')
        return std::nullopt;
    const QDateTime handedIn =
        QDateTime::fromString(name.first(StampChars), QStringLiteral("yyyyMMdd_HHmmss"));
    const QString sha8 = name.sliced(StampChars + 1, 8);
    if (!handedIn.isValid() || !isHex(sha8))
        return std::nullopt;
    return Version{handedIn, sha8};
}

QStringList versionsIn(const QString &historyFolder)
{
    // By the time each was handed in: names of one second sort by hash.
    QStringList names =
        QDir(historyFolder).entryList(QDir::Files | QDir::Hidden, QDir::Time | QDir::Reversed);
    names.removeIf([](const QString &name) { return !parseVersionFileName(name); });
    return names;
}

} // namespace versionnames
