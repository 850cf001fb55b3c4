#include "server/folders/versionnames.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace versionnames {

namespace {

constexpr qsizetype StampChars = 15;             // yyyyMMdd_HHmmss
constexpr qsizetype SequenceAt = StampChars + 9; // after "_<8 hex>"
constexpr qsizetype MaxNameBytes = 255;

bool isHex(QStringView text)
{
    for (QChar c : text) {
        if (!(c.isDigit() || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

// "_2", "_3", … after the hash; 1 without one.
int sequenceOf(const QString &name)
{
    const QStringView after = QStringView(name).sliced(qMin(SequenceAt, name.size()));
    if (!after.startsWith(u'_'))
        return 1;
    const qsizetype dot = after.indexOf(u'.');
    bool number = false;
    const int sequence = after.sliced(1, dot < 0 ? after.size() - 1 : dot - 1).toInt(&number);
    return number && sequence > 1 ? sequence : 1;
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
    return Version{handedIn, sha8, sequenceOf(name)};
}

bool handedInBefore(const QString &a, const QString &b)
{
    // yyyyMMdd_HHmmss sorts as the times do: no dates to parse.
    const int stamps = QStringView(a).first(StampChars).compare(QStringView(b).first(StampChars));
    if (stamps != 0)
        return stamps < 0;
    const int first = sequenceOf(a), second = sequenceOf(b);
    return first != second ? first < second : a < b;
}

QString withSequence(const QString &name, int sequence)
{
    const QString suffix = u'_' + QString::number(sequence);
    const qsizetype dot = name.indexOf(u'.', SequenceAt);
    return dot < 0 ? name + suffix : name.first(dot) + suffix + name.sliced(dot);
}

QStringList versionsIn(const QString &historyFolder)
{
    QStringList names = QDir(historyFolder).entryList(QDir::Files | QDir::Hidden);
    names.removeIf([](const QString &name) { return !parseVersionFileName(name); });
    std::sort(names.begin(), names.end(), handedInBefore);
    return names;
}

} // namespace versionnames
