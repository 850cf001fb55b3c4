#include "server/term/receiptfolder.h"

#include "server/folders/versionnames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace {

// Bounds what is kept when a journal names ever new folders or files.
constexpr qsizetype MaxRemembered = 4096;

// The last part of a path written on this machine or on Windows.
QString lastNameOf(const QString &path)
{
    QString clean = path;
    while (clean.size() > 1 && (clean.endsWith(u'/') || clean.endsWith(u'\\')))
        clean.chop(1);
    const qsizetype slash = qMax(clean.lastIndexOf(u'/'), clean.lastIndexOf(u'\\'));
    return clean.sliced(slash + 1);
}

template <typename Map> void bound(Map &map)
{
    if (map.size() >= MaxRemembered)
        map.clear();
}

} // namespace

ReceiptFolder::ReceiptFolder(const QString &folder)
    : m_path(folder.isEmpty() ? QString() : QDir::cleanPath(QFileInfo(folder).absoluteFilePath())),
      m_canonical(QFileInfo(m_path).canonicalFilePath()),
      m_lastName(lastNameOf(m_canonical.isEmpty() ? m_path : m_canonical))
{
    struct stat status
    {
    };
    m_exists = !m_path.isEmpty() && ::stat(QFile::encodeName(m_path).constData(), &status) == 0;
    m_device = status.st_dev;
    m_inode = status.st_ino;
}

ReceiptFolder::Verdict ReceiptFolder::verdictOn(const QString &namedFolder)
{
    // Line after line names the same folder, decoded once.
    if (namedFolder.isSharedWith(m_lastFolder))
        return m_lastVerdict;
    if (const auto known = m_verdicts.constFind(namedFolder); known != m_verdicts.cend()) {
        m_lastFolder = namedFolder;
        return m_lastVerdict = *known;
    }
    Verdict verdict = Verdict::Absent;
    struct stat status
    {
    };
    if (QDir::cleanPath(namedFolder) == m_path)
        verdict = Verdict::Here;
    else if (::stat(QFile::encodeName(namedFolder).constData(), &status) == 0)
        verdict = m_exists && status.st_dev == m_device && status.st_ino == m_inode
                      ? Verdict::Here
                      : Verdict::Elsewhere;
    else if (lastNameOf(namedFolder) != m_lastName)
        verdict = Verdict::Elsewhere;
    bound(m_verdicts);
    m_verdicts.insert(namedFolder, verdict);
    m_lastFolder = namedFolder;
    return m_lastVerdict = verdict;
}

bool ReceiptFolder::fileIsHere(const QString &fileName)
{
    if (const auto known = m_files.constFind(fileName); known != m_files.cend())
        return *known;
    const bool here = QFileInfo::exists(m_path + u'/' + fileName) ||
                      QFileInfo::exists(versionnames::historyFolder(m_path, fileName));
    bound(m_files);
    m_files.insert(fileName, here);
    return here;
}

bool ReceiptFolder::holds(const QString &namedFolder, const QString &fileName)
{
    if (m_path.isEmpty())
        return false;
    if (namedFolder.isEmpty())
        return fileIsHere(fileName);
    switch (verdictOn(namedFolder)) {
    case Verdict::Here:
        return true;
    case Verdict::Absent:
        return fileIsHere(fileName);
    case Verdict::Elsewhere:
        break;
    }
    return false;
}
