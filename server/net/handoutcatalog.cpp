#include "server/net/handoutcatalog.h"

#include "common/cp932.h"
#include "common/wire.h"
#include "server/net/sha256.h"

#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file that keeps changing while it is hashed still lets the students'
// listings go out after this many attempts, without it.
constexpr int MaxRoundsPerListing = 3;
constexpr qsizetype HashBlock = 1024 * 1024;

const QString NoSuchHandout = QStringLiteral("その名前の配布物はありません｡");
const QString HandoutChanged =
    QStringLiteral("配布物が更新されたところです｡もう一度受け取ってください｡");
const QString FolderUnreadable =
    QStringLiteral("配布物のフォルダを読み込めません｡先生に知らせてください｡");

FileVersion versionOf(const struct stat &info)
{
    return {qint64(info.st_size), qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            quint64(info.st_ino)};
}

} // namespace

FileVersion versionOfDescriptor(int fd)
{
    struct stat info
    {
    };
    return ::fstat(fd, &info) == 0 ? versionOf(info) : FileVersion{};
}

FileVersion versionOfPath(const QString &path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? versionOf(info)
                                                                   : FileVersion{};
}

struct HandoutHash
{
    FileVersion version;
    QByteArray sha256;
    QString problem;
    bool changed = false; // while it was read: nothing to keep
};

namespace {

// Runs on a pool thread: touches nothing but its arguments.
HandoutHash hashFile(const QString &path, std::shared_ptr<std::atomic_bool> cancelled)
{
    HandoutHash outcome;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        outcome.problem = QString::fromLocal8Bit(std::strerror(errno));
        outcome.version = versionOfPath(path);
        return outcome;
    }
    outcome.version = versionOfDescriptor(fd);
    Sha256 hash;
    QByteArray block(HashBlock, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        if (*cancelled)
            break;
        const ssize_t got = ::read(fd, block.data(), size_t(block.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            outcome.problem = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        if (got == 0)
            break;
        hash.add(QByteArrayView(block.constData(), got));
        total += got;
    }
    outcome.changed = total != outcome.version.size || versionOfDescriptor(fd) != outcome.version;
    ::close(fd);
    outcome.sha256 = hash.hexResult();
    return outcome;
}

} // namespace

HandoutCatalog::HandoutCatalog(QObject *parent)
    : QObject(parent), m_cancelled(std::make_shared<std::atomic_bool>(false))
{}

HandoutCatalog::~HandoutCatalog()
{
    // A computation still running stops at its next block; nothing of it
    // comes back here.
    *m_cancelled = true;
}

void HandoutCatalog::setFolder(const QString &folder)
{
    m_folder = folder;
    m_logged.clear();
    // Hashed now, so that the first student's listing need not wait.
    noteHashes(scan());
}

void HandoutCatalog::list(QObject *context, std::function<void(const Listing &)> done)
{
    const Scan now = scan();
    noteHashes(now);
    if (now.pending.isEmpty() || !now.refusal.isEmpty()) {
        done({now.ready, now.refusal});
        return;
    }
    m_waiters.push_back({context, std::move(done)});
}

Result<Handout> HandoutCatalog::find(const QString &name)
{
    const Scan now = scan();
    if (!now.refusal.isEmpty())
        return Result<Handout>::failure(now.refusal);
    for (const Handout &handout : now.ready) {
        if (handout.name == name)
            return handout;
    }
    return Result<Handout>::failure(now.pending.contains(name) ? HandoutChanged : NoSuchHandout);
}

void HandoutCatalog::reportDelivery(const QString &who, const Handout &handout)
{
    Q_EMIT delivered(who, handout.name, handout.sha256);
}

HandoutCatalog::Scan HandoutCatalog::scan()
{
    Scan result;
    if (m_folder.isEmpty())
        return result;
    const QDir dir(m_folder);
    const QFileInfo folderInfo(m_folder);
    if (!folderInfo.isDir() || !folderInfo.isReadable() || !folderInfo.isExecutable()) {
        logOnce(QStringLiteral("folder"), QStringLiteral("配布物のフォルダ %1 を読み込めません｡")
                                              .arg(QDir::toNativeSeparators(m_folder)));
        result.refusal = FolderUnreadable;
        return result;
    }
    m_logged.remove(QStringLiteral("folder")); // told again if it goes away again
    const QString canonicalFolder = dir.canonicalPath();
    QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    std::sort(entries.begin(), entries.end(),
              [](const QFileInfo &a, const QFileInfo &b) { return a.fileName() < b.fileName(); });
    for (const QFileInfo &entry : entries) {
        if (offered(entry, canonicalFolder))
            look(entry, result);
    }
    return result;
}

bool HandoutCatalog::offered(const QFileInfo &entry, const QString &canonicalFolder)
{
    const QString name = entry.fileName();
    if (name.startsWith(u'.'))
        return false; // hidden: not meant for the students
    const auto skip = [&](const QString &reason) {
        logOnce(name + u'\n' + reason,
                QStringLiteral("配布物のフォルダの %1 は%2ため配布しません｡").arg(name, reason));
        return false;
    };
    if (entry.isSymLink() && !entry.canonicalFilePath().startsWith(canonicalFolder + u'/'))
        return skip(QStringLiteral("フォルダの外を指すリンクの"));
    if (!entry.isFile())
        return false;
    if (cp932::decode(cp932::encode(name)) != name)
        return skip(QStringLiteral("名前をShift_JISで表せない"));
    if (!wire::isSafeFileName(name))
        return skip(QStringLiteral("名前にファイル名に使えない文字がある"));
    if (entry.size() > wire::MaxUploadSize)
        return skip(QStringLiteral("2GBより大きい"));
    return true;
}

void HandoutCatalog::look(const QFileInfo &entry, Scan &scan)
{
    const QString path = entry.absoluteFilePath();
    const FileVersion version = versionOfPath(path);
    const auto known = m_known.constFind(path);
    if (known != m_known.cend() && known->version == version && version.size >= 0) {
        if (known->problem.isEmpty())
            scan.ready.append({entry.fileName(), path, version, known->sha256});
        return;
    }
    scan.pending << entry.fileName();
    startHashing(path);
}

void HandoutCatalog::startHashing(const QString &path)
{
    if (m_hashing.contains(path))
        return; // the listing waits for the computation under way
    m_hashing.insert(path);
    auto *watcher = new QFutureWatcher<HandoutHash>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        hashed(path, watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(hashFile, path, m_cancelled));
}

void HandoutCatalog::hashed(const QString &path, const HandoutHash &outcome)
{
    m_hashing.remove(path);
    ++m_hashesComputed;
    if (!outcome.changed) {
        m_known.insert(path, {outcome.version, outcome.sha256, outcome.problem});
        if (!outcome.problem.isEmpty())
            logOnce(path + u'\n' + outcome.problem,
                    QStringLiteral("配布物 %1 を読み込めないため配布しません: %2")
                        .arg(QDir::toNativeSeparators(path), outcome.problem));
    }
    serveWaiters(outcome.changed);
}

void HandoutCatalog::serveWaiters(bool afterChange)
{
    std::vector<Waiter> waiting = std::exchange(m_waiters, {});
    Scan now = scan();
    noteHashes(now);
    for (Waiter &waiter : waiting) {
        if (!waiter.context)
            continue;
        waiter.rounds += afterChange;
        if (now.pending.isEmpty() || !now.refusal.isEmpty() || waiter.rounds >= MaxRoundsPerListing)
            waiter.done({now.ready, now.refusal});
        else
            m_waiters.push_back(std::move(waiter));
    }
}

void HandoutCatalog::noteHashes(const Scan &scan)
{
    QSet<QByteArray> hashes;
    for (const Handout &handout : scan.ready)
        hashes.insert(handout.sha256);
    if (hashes == m_hashes)
        return;
    m_hashes = hashes;
    Q_EMIT hashesChanged();
}

void HandoutCatalog::logOnce(const QString &key, const QString &entry)
{
    if (m_logged.contains(key))
        return;
    m_logged.insert(key);
    Q_EMIT logEntry(entry);
}
