#include "server/net/uploadfile.h"

#include "common/wire.h"
#include "server/net/versionhistory.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <climits>
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

void UploadFile::removeLeftoversOnce(const QString &folder)
{
    static QSet<QString> swept;
    const QString key = QDir(folder).canonicalPath();
    if (key.isEmpty() || swept.contains(key))
        return;
    swept.insert(key);
    const QDir dir(key);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (isTemporaryName(name))
            QFile::remove(dir.filePath(name));
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
    if (!QFileInfo(folder).isDir())
        return fail(folder, QStringLiteral("フォルダがありません"));
    removeLeftoversOnce(folder);
    return openTemporary();
}

Result<> UploadFile::openTemporary()
{
    const QByteArray folder = QFile::encodeName(m_folderPath) + '/';
    for (int attempt = 0; attempt < 8; ++attempt) {
        m_tempName = randomName(".part");
        const int fd = ::open((folder + m_tempName).constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            m_file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                        QFileDevice::AutoCloseHandle);
            return Result<>::success();
        }
        if (errno == EEXIST)
            continue;
        const int error = errno;
        const QString path = QFile::decodeName(folder + m_tempName);
        m_tempName.clear(); // not ours: never remove it
        return fail(path, systemReason(error));
    }
    m_tempName.clear();
    return fail(m_folderPath, systemReason(EEXIST));
}

QByteArray UploadFile::currentFolder() const
{
    // Where the open file is now, also after its folder has been renamed.
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(m_file.handle());
    char path[PATH_MAX];
    const ssize_t size =
        m_file.handle() >= 0 ? ::readlink(link.constData(), path, sizeof path) : -1;
    const QByteArray target(path, size > 0 ? size : 0);
    const qsizetype slash = target.lastIndexOf('/');
    if (slash <= 0 || target.endsWith(" (deleted)"))
        return QFile::encodeName(m_folderPath);
    return target.first(slash);
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

bool UploadFile::replaceTarget(const QByteArray &folder)
{
    const QByteArray temp = folder + '/' + m_tempName;
    const QByteArray target = folder + '/' + m_targetName;
    // rename() replaces the target in one step where the file system allows.
    if (::rename(temp.constData(), target.constData()) == 0)
        return true;
    // Some (network shares among them) refuse to rename over an existing
    // file: move the earlier submission aside, and back if the new one
    // cannot take its place.
    const int error = errno;
    struct stat existing
    {
    };
    if ((error != EEXIST && error != EACCES && error != EPERM) ||
        ::lstat(target.constData(), &existing) != 0 || !S_ISREG(existing.st_mode)) {
        errno = error;
        return false;
    }
    const QByteArray aside = folder + '/' + randomName(".old");
    if (::rename(target.constData(), aside.constData()) != 0)
        return false;
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int failed = errno;
        ::rename(aside.constData(), target.constData());
        errno = failed;
        return false;
    }
    ::unlink(aside.constData());
    return true;
}

Result<> UploadFile::commit()
{
    const QByteArray folder = currentFolder();
    m_file.close();
    QString failure;
    if (m_file.error() != QFileDevice::NoError) {
        failure = QStringLiteral("%1 (%2)").arg(QFile::decodeName(folder + '/' + m_tempName),
                                                m_file.errorString());
    } else {
        const VersionHistory::Outcome outcome =
            VersionHistory::replace(folder, m_tempName, QFile::decodeName(m_targetName),
                                    m_keptVersions, [&] { return replaceTarget(folder); });
        if (!outcome.replaced)
            failure = outcome.historyFailed
                          ? outcome.reason
                          : QStringLiteral("%1 (%2)").arg(m_targetPath, outcome.reason);
        m_historyFailed = outcome.historyFailed;
        m_versions = outcome.versions;
    }
    if (!failure.isEmpty()) {
        ::unlink((folder + '/' + m_tempName).constData());
        m_tempName.clear();
        return Result<>::failure(failure);
    }
    m_tempName.clear();
    m_sha256 = m_hash.hexResult();
    VersionHistory::remember(folder + '/' + m_targetName, m_sha256);
    return Result<>::success();
}

void UploadFile::discard()
{
    if (m_tempName.isEmpty())
        return;
    const QByteArray folder = currentFolder();
    m_file.close();
    ::unlink((folder + '/' + m_tempName).constData());
    m_tempName.clear();
}
