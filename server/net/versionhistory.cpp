#include "server/net/versionhistory.h"

#include "server/net/sha256.h"
#include "server/roster/versionnames.h"

#include <QDateTime>
#include <QFile>
#include <QHash>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::function<void(VersionHistory::Step)> &stepHook()
{
    static std::function<void(VersionHistory::Step)> hook;
    return hook;
}

void reached(VersionHistory::Step step)
{
    if (stepHook())
        stepHook()(step);
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// What a stored file was when its hash was taken: a file changed since
// (other size, other time, another file under the name) is read again.
struct Known
{
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    QByteArray sha256;
    bool matches(const struct stat &now) const
    {
        return inode == now.st_ino && size == now.st_size &&
               modified.tv_sec == now.st_mtim.tv_sec && modified.tv_nsec == now.st_mtim.tv_nsec;
    }
};

QHash<QByteArray, Known> &knownHashes()
{
    static QHash<QByteArray, Known> known;
    return known;
}

bool isDirectory(const QByteArray &path)
{
    struct stat status
    {
    };
    return ::stat(path.constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool isRegularFile(const QByteArray &path, struct stat *status)
{
    return ::lstat(path.constData(), status) == 0 && S_ISREG(status->st_mode);
}

// mkdir that is content with a folder already there.
bool makeFolder(const QByteArray &path)
{
    return ::mkdir(path.constData(), 0755) == 0 || (errno == EEXIST && isDirectory(path));
}

bool linksUnsupported(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

// A free name for the version, or the name it already has: a replacement
// cut off after linking leaves the earlier file in the history already.
QByteArray versionPath(const QByteArray &folder, const QString &name, ino_t earlier,
                       bool *alreadyKept)
{
    const QByteArray first = folder + '/' + QFile::encodeName(name);
    struct stat status
    {
    };
    *alreadyKept = false;
    if (::lstat(first.constData(), &status) != 0)
        return first;
    if (status.st_ino == earlier) {
        *alreadyKept = true;
        return first;
    }
    // Two versions handed in within one second with the same start of hash.
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 24 ? name.first(dot) : name;
    const QString extension = dot > 24 ? name.sliced(dot) : QString();
    for (int number = 2;; ++number) {
        const QByteArray path =
            folder + '/' + QFile::encodeName(stem + u'_' + QString::number(number) + extension);
        if (::lstat(path.constData(), &status) != 0)
            return path;
    }
}

void prune(const QString &historyFolder, int kept)
{
    QStringList versions = versionnames::versionsIn(historyFolder);
    while (versions.size() > kept)
        QFile::remove(historyFolder + u'/' + versions.takeFirst());
}

} // namespace

void VersionHistory::setStepHook(std::function<void(Step)> hook)
{
    stepHook() = std::move(hook);
}

Result<> VersionHistory::checkKeepable(const QString &folder, const QString &fileName, int kept)
{
    struct stat status
    {
    };
    if (kept <= 0 || !isRegularFile(QFile::encodeName(folder + u'/' + fileName), &status))
        return Result<>::success();
    const QString history = folder + u'/' + versionnames::FolderName;
    for (const QString &path : {history, versionnames::historyFolder(folder, fileName)}) {
        const QByteArray encoded = QFile::encodeName(path);
        if (::lstat(encoded.constData(), &status) != 0)
            break; // made when the upload is complete
        if (!S_ISDIR(status.st_mode))
            return Result<>::failure(
                QStringLiteral("%1 (%2)").arg(path, QStringLiteral("フォルダではありません")));
    }
    const QByteArray writable =
        QFile::encodeName(isDirectory(QFile::encodeName(history)) ? history : folder);
    if (::access(writable.constData(), W_OK) != 0)
        return Result<>::failure(
            QStringLiteral("%1 (%2)").arg(QFile::decodeName(writable), systemReason(errno)));
    return Result<>::success();
}

VersionHistory::Outcome VersionHistory::replace(const QByteArray &folder,
                                                const QByteArray &tempName, const QString &fileName,
                                                int kept, const std::function<bool()> &plainReplace)
{
    Outcome outcome;
    const QByteArray target = folder + '/' + QFile::encodeName(fileName);
    const QByteArray temp = folder + '/' + tempName;
    struct stat earlier
    {
    };
    if (kept <= 0 || !isRegularFile(target, &earlier)) {
        outcome.replaced = plainReplace();
        if (!outcome.replaced)
            outcome.reason = systemReason(errno);
        return outcome;
    }
    const auto failed = [&](const QByteArray &path, int error, bool history) {
        outcome.historyFailed = history;
        outcome.reason =
            QStringLiteral("%1 (%2)").arg(QFile::decodeName(path), systemReason(error));
        return outcome;
    };
    const QByteArray sha256 = sha256Of(target);
    const QString folderText = QFile::decodeName(folder);
    const QByteArray history = QFile::encodeName(folderText + u'/' + versionnames::FolderName);
    const QByteArray fileHistory =
        QFile::encodeName(versionnames::historyFolder(folderText, fileName));
    if (!makeFolder(history))
        return failed(history, errno, true);
    if (!makeFolder(fileHistory))
        return failed(fileHistory, errno, true);
    const QDateTime handedIn = QDateTime::fromSecsSinceEpoch(earlier.st_mtim.tv_sec);
    bool alreadyKept = false;
    const QByteArray version = versionPath(
        fileHistory, versionnames::versionFileName(handedIn, QString::fromLatin1(sha256), fileName),
        earlier.st_ino, &alreadyKept);
    if (alreadyKept || ::link(target.constData(), version.constData()) == 0) {
        reached(Step::EarlierKept);
        if (::rename(temp.constData(), target.constData()) != 0) {
            const int error = errno;
            ::unlink(version.constData());
            return failed(target, error, false);
        }
    } else if (linksUnsupported(errno)) {
        if (::rename(target.constData(), version.constData()) != 0)
            return failed(version, errno, true);
        reached(Step::EarlierKept);
        if (::rename(temp.constData(), target.constData()) != 0) {
            const int error = errno;
            ::rename(version.constData(), target.constData());
            return failed(target, error, false);
        }
    } else {
        return failed(version, errno, true);
    }
    reached(Step::Replaced);
    outcome.replaced = true;
    prune(QFile::decodeName(fileHistory), kept);
    reached(Step::Pruned);
    outcome.versions = int(versionnames::versionsIn(QFile::decodeName(fileHistory)).size()) + 1;
    return outcome;
}

void VersionHistory::remember(const QByteArray &path, const QByteArray &sha256)
{
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) != 0)
        return;
    knownHashes().insert(path, {status.st_ino, status.st_size, status.st_mtim, sha256});
}

QByteArray VersionHistory::sha256Of(const QByteArray &path)
{
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) == 0) {
        const auto known = knownHashes().constFind(path);
        if (known != knownHashes().cend() && known->matches(status))
            return known->sha256;
    }
    // Stored before this run, or changed since: read once.
    Sha256 hash;
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer.data(), size_t(buffer.size()))) > 0;)
        hash.add(QByteArrayView(buffer.constData(), got));
    if (fd >= 0)
        ::close(fd);
    return hash.hexResult();
}
