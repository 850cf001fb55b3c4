#include "server/folders/versionhistory.h"

#include "common/sha256.h"
#include "common/wire.h"
#include "server/folders/folderhandle.h"
#include "server/folders/hashcache.h"
#include "server/folders/versionnames.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <algorithm>
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

bool isRegularFileIn(const FolderHandle &folder, const QByteArray &name, struct stat *status)
{
    return ::fstatat(folder.fd(), name.constData(), status, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(status->st_mode);
}

bool linksUnsupported(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

// The versions in an open history folder, the earliest handed in first.
std::vector<QByteArray> versionsIn(const FolderHandle &history)
{
    QStringList names;
    for (const FolderHandle::Entry &entry : history.files()) {
        const QString name = QFile::decodeName(entry.name);
        if (versionnames::parseVersionFileName(name))
            names << name;
    }
    std::sort(names.begin(), names.end(), versionnames::handedInBefore);
    std::vector<QByteArray> encoded;
    for (const QString &name : names)
        encoded.push_back(QFile::encodeName(name));
    return encoded;
}

// A free name for the version, or the name it already has: a replacement
// cut off after linking leaves the earlier file in the history already. A
// version named by the same second as one kept gets the next sequence
// number, so that the order of the names is the order handed in even where
// the file system's times tie.
QByteArray versionName(const FolderHandle &history, const QString &name, ino_t earlier,
                       bool *alreadyKept)
{
    *alreadyKept = false;
    const QDateTime handedIn = versionnames::parseVersionFileName(name)->handedIn;
    int last = 0;
    for (const QByteArray &kept : versionsIn(history)) {
        struct stat status
        {
        };
        // Linked, so in both places (FAT has no links, and no inodes to trust).
        if (::fstatat(history.fd(), kept.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            status.st_ino == earlier && status.st_nlink > 1) {
            *alreadyKept = true;
            return kept;
        }
        const auto version = versionnames::parseVersionFileName(QFile::decodeName(kept));
        if (version->handedIn == handedIn)
            last = qMax(last, version->sequence);
    }
    return QFile::encodeName(last == 0 ? name : versionnames::withSequence(name, last + 1));
}

void prune(const FolderHandle &history, int kept)
{
    const std::vector<QByteArray> versions = versionsIn(history);
    for (size_t i = 0; i + size_t(kept) < versions.size(); ++i)
        ::unlinkat(history.fd(), versions[i].constData(), 0);
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

VersionHistory::Outcome VersionHistory::replace(const FolderHandle &folder,
                                                const QString &folderPath,
                                                const QByteArray &tempName, const QString &fileName,
                                                int kept, HashCache &hashes,
                                                const std::function<bool()> &plainReplace)
{
    Outcome outcome;
    const QByteArray target = QFile::encodeName(fileName);
    struct stat earlier
    {
    };
    if (kept <= 0 || !isRegularFileIn(folder, target, &earlier)) {
        outcome.replaced = plainReplace();
        if (!outcome.replaced)
            outcome.reason = systemReason(errno);
        return outcome;
    }
    const auto failed = [&](const QString &path, int error, bool history) {
        outcome.historyFailed = history;
        outcome.reason = QStringLiteral("%1 (%2)").arg(path, systemReason(error));
        return outcome;
    };
    const QString historyPath = folderPath + u'/' + versionnames::FolderName;
    const QString fileHistoryPath = versionnames::historyFolder(folderPath, fileName);
    const FolderHandle history = folder.child(QFile::encodeName(versionnames::FolderName), true);
    if (!history.isOpen())
        return failed(historyPath, errno, true);
    const FolderHandle fileHistory = history.child(target, true);
    if (!fileHistory.isOpen())
        return failed(fileHistoryPath, errno, true);
    const QByteArray sha256 = sha256Of(folder, target, hashes);
    const QDateTime handedIn = QDateTime::fromSecsSinceEpoch(earlier.st_mtim.tv_sec);
    bool alreadyKept = false;
    const QByteArray version = versionName(
        fileHistory, versionnames::versionFileName(handedIn, QString::fromLatin1(sha256), fileName),
        earlier.st_ino, &alreadyKept);
    const QString versionPath = fileHistoryPath + u'/' + QFile::decodeName(version);
    const QString targetPath = folderPath + u'/' + fileName;
    const int dir = folder.fd();
    if (alreadyKept ||
        ::linkat(dir, target.constData(), fileHistory.fd(), version.constData(), 0) == 0) {
        reached(Step::EarlierKept);
        if (::renameat(dir, tempName.constData(), dir, target.constData()) != 0) {
            const int error = errno;
            ::unlinkat(fileHistory.fd(), version.constData(), 0);
            return failed(targetPath, error, false);
        }
    } else if (linksUnsupported(errno)) {
        if (::renameat(dir, target.constData(), fileHistory.fd(), version.constData()) != 0)
            return failed(versionPath, errno, true);
        reached(Step::EarlierKept);
        if (::renameat(dir, tempName.constData(), dir, target.constData()) != 0) {
            const int error = errno;
            ::renameat(fileHistory.fd(), version.constData(), dir, target.constData());
            return failed(targetPath, error, false);
        }
    } else {
        return failed(versionPath, errno, true);
    }
    reached(Step::Replaced);
    outcome.replaced = true;
    prune(fileHistory, kept);
    reached(Step::Pruned);
    outcome.versions = int(versionsIn(fileHistory).size()) + 1;
    return outcome;
}

QStringList VersionHistory::restoreInterrupted(const QString &folderPath)
{
    QStringList restored;
    const FolderHandle folder = FolderHandle::open(QFile::encodeName(folderPath));
    const std::vector<FolderHandle::Entry> files = folder.files();
    const bool interrupted = std::any_of(files.begin(), files.end(), [](const auto &entry) {
        return QFile::decodeName(entry.name).startsWith(wire::TemporaryPrefix);
    });
    const FolderHandle history = folder.child(QFile::encodeName(versionnames::FolderName), false);
    if (!interrupted || !history.isOpen())
        return restored;
    const QStringList names =
        QDir(folderPath + u'/' + versionnames::FolderName)
            .entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString &name : names) {
        const QByteArray target = QFile::encodeName(name);
        struct stat status
        {
        };
        if (::fstatat(folder.fd(), target.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 ||
            errno != ENOENT)
            continue;
        const FolderHandle fileHistory = history.child(target, false);
        const std::vector<QByteArray> versions = versionsIn(fileHistory);
        if (fileHistory.isOpen() && !versions.empty() &&
            ::renameat(fileHistory.fd(), versions.back().constData(), folder.fd(),
                       target.constData()) == 0)
            restored << name;
    }
    return restored;
}

void VersionHistory::remember(const FolderHandle &folder, const QByteArray &name,
                              const QByteArray &sha256, HashCache &hashes)
{
    struct stat status
    {
    };
    if (isRegularFileIn(folder, name, &status))
        hashes.remember(FileIdentity::of(status), sha256);
}

QByteArray VersionHistory::sha256Of(const FolderHandle &folder, const QByteArray &name,
                                    HashCache &hashes)
{
    const std::atomic_bool never{false};
    if (const Result<FileHash> hashed = hashes.hashAt(folder.fd(), name, never))
        return hashed->sha256;
    return Sha256().hexResult(); // unreadable: named as if empty
}
