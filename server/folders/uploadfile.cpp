#include "server/folders/uploadfile.h"

#include "common/wire.h"
#include "server/folders/versionhistory.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray randomName(const char *suffix)
{
    return QFile::encodeName(wire::TemporaryPrefix) +
           QByteArray::number(QRandomGenerator::global()->generate64(), 16)
               .rightJustified(16, '0') +
           suffix;
}

bool isTemporaryName(const QString &name)
{
    return name.startsWith(wire::TemporaryPrefix) &&
           (name.endsWith(QLatin1String(".part")) || name.endsWith(QLatin1String(".old")));
}

} // namespace

UploadFile::~UploadFile()
{
    discard();
}

void UploadFile::removeLeftoversOnce()
{
    static QSet<QString> swept;
    const QString key = QDir(m_folderPath).canonicalPath();
    if (key.isEmpty() || swept.contains(key))
        return;
    swept.insert(key);
    // Before the temporary files go: one of them may tell of a replacement
    // cut off between FAT's two renames.
    VersionHistory::restoreInterrupted(m_folderPath);
    for (const FolderHandle::Entry &entry : m_folder.files()) {
        if (isTemporaryName(QFile::decodeName(entry.name)))
            ::unlinkat(m_folder.fd(), entry.name.constData(), 0);
    }
}

Result<> UploadFile::fail(const QString &path, const QString &reason)
{
    discard();
    return Result<>::failure(QStringLiteral("%1 (%2)").arg(path, reason));
}

Result<> UploadFile::open(const QString &folder, const QString &fileName)
{
    m_folderPath = folder;
    m_targetPath = folder + u'/' + fileName;
    m_targetName = QFile::encodeName(fileName);
    if (folder.isEmpty())
        return fail(m_targetPath, QStringLiteral("課題提出先が設定されていません"));
    m_folder = FolderHandle::open(QFile::encodeName(folder));
    if (!m_folder.isOpen())
        return fail(folder, errno == ENOENT || errno == ENOTDIR
                                ? QStringLiteral("フォルダがありません")
                                : systemReason(errno));
    removeLeftoversOnce();
    return openTemporary();
}

Result<> UploadFile::openTemporary()
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        m_tempName = randomName(".part");
        const int fd = ::openat(m_folder.fd(), m_tempName.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            m_file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                        QFileDevice::AutoCloseHandle);
            return Result<>::success();
        }
        if (errno == EEXIST)
            continue;
        const int error = errno;
        const QString path = m_folderPath + u'/' + QFile::decodeName(m_tempName);
        m_tempName.clear(); // not ours: never remove it
        return fail(path, systemReason(error));
    }
    m_tempName.clear();
    return fail(m_folderPath, systemReason(EEXIST));
}

Result<> UploadFile::write(QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 written = m_file.write(bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            return fail(m_folderPath + u'/' + QFile::decodeName(m_tempName), m_file.errorString());
        done += qsizetype(written);
    }
    // The receipt's hash is of the bytes stored.
    m_hash.add(bytes);
    return Result<>::success();
}

bool UploadFile::replaceTarget()
{
    const int dir = m_folder.fd();
    const char *temp = m_tempName.constData();
    const char *target = m_targetName.constData();
    // rename() replaces the target in one step where the file system allows.
    if (::renameat(dir, temp, dir, target) == 0)
        return true;
    // Some (network shares among them) refuse to rename over an existing
    // file: move the earlier submission aside, and back if the new one
    // cannot take its place.
    const int error = errno;
    struct stat existing
    {
    };
    if ((error != EEXIST && error != EACCES && error != EPERM) ||
        ::fstatat(dir, target, &existing, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(existing.st_mode)) {
        errno = error;
        return false;
    }
    const QByteArray aside = randomName(".old");
    if (::renameat(dir, target, dir, aside.constData()) != 0)
        return false;
    if (::renameat(dir, temp, dir, target) != 0) {
        const int failed = errno;
        ::renameat(dir, aside.constData(), dir, target);
        errno = failed;
        return false;
    }
    ::unlinkat(dir, aside.constData(), 0);
    return true;
}

Result<> UploadFile::commit()
{
    m_file.close();
    // The submission this one replaces: gone from the folder after it, or
    // kept in the history as another inode's link or under another name.
    const FileIdentity replaced = identityOfTarget();
    QString failure;
    if (m_file.error() != QFileDevice::NoError) {
        failure = QStringLiteral("%1 (%2)").arg(m_folderPath + u'/' + QFile::decodeName(m_tempName),
                                                m_file.errorString());
    } else {
        const VersionHistory::Outcome outcome = VersionHistory::replace(
            m_folder, m_folderPath, m_tempName, QFile::decodeName(m_targetName), m_keptVersions,
            *m_hashes, [this] { return replaceTarget(); });
        if (!outcome.replaced)
            failure = outcome.historyFailed
                          ? outcome.reason
                          : QStringLiteral("%1 (%2)").arg(m_targetPath, outcome.reason);
        m_historyFailed = outcome.historyFailed;
        m_versions = outcome.versions;
    }
    if (!failure.isEmpty()) {
        ::unlinkat(m_folder.fd(), m_tempName.constData(), 0);
        m_tempName.clear();
        return Result<>::failure(failure);
    }
    m_tempName.clear();
    m_sha256 = m_hash.hexResult();
    m_hashes->forget(replaced);
    VersionHistory::remember(m_folder, m_targetName, m_sha256, *m_hashes);
    return Result<>::success();
}

FileIdentity UploadFile::identityOfTarget() const
{
    struct stat status
    {
    };
    if (::fstatat(m_folder.fd(), m_targetName.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode))
        return {};
    return FileIdentity::of(status);
}

void UploadFile::discard()
{
    if (m_tempName.isEmpty())
        return;
    m_file.close();
    ::unlinkat(m_folder.fd(), m_tempName.constData(), 0);
    m_tempName.clear();
}
