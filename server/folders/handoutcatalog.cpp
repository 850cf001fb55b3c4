#include "server/folders/handoutcatalog.h"

#include "common/cp932.h"
#include "common/wire.h"
#include "server/folders/foldernesting.h"

#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include <sys/stat.h>

namespace {

// A file that keeps changing still lets the students' listings go out
// after this many looks, without it.
constexpr int MaxRoundsPerListing = 3;
// Looks at the folder begin at most this often.
constexpr qint64 LookIntervalMs = 1000;
// Files watched one by one (edits in place); past that, the looks a
// listing asks for find the changes.
constexpr qsizetype MaxWatchedFiles = 1024;

using Folder = HandoutCatalog::Folder;

QString folderWord(Folder folder)
{
    switch (folder) {
    case Folder::Assignments:
        break;
    case Folder::Handouts:
        return CatalogWords::handouts().folder;
    case Folder::Returns:
        return CatalogWords::returns().folder;
    }
    return QStringLiteral("課題の提出先");
}

// What would reach the wrong students if the folder of `kind` and `other`
// overlapped.
QString overlapHarm(Folder kind, Folder other)
{
    if (other != Folder::Assignments)
        return QStringLiteral("返却物がほかの学生に配布されてしまう");
    return kind == Folder::Handouts ? QStringLiteral("提出された課題が配布されてしまう")
                                    : QStringLiteral("提出された課題が返却物として送られてしまう");
}

HandoutCatalog::Listing listingOf(QList<Handout> handouts, const QString &refusal)
{
    HandoutCatalog::Listing listing;
    listing.refusal = refusal;
    if (!refusal.isEmpty()) {
        listing.reply = cp932::encode(wire::refusalLine(refusal) + wire::Eol);
        return listing;
    }
    listing.lines.reserve(handouts.size());
    for (const Handout &handout : handouts) {
        listing.lines << cp932::encode(
            wire::handoutEntryLine({handout.name, handout.version.size, handout.sha256}) +
            wire::Eol);
        listing.entries += listing.lines.constLast();
        listing.folded.insert(handout.name.toCaseFolded());
    }
    listing.reply =
        cp932::encode(wire::handoutListLine(handouts.size()) + wire::Eol) + listing.entries;
    listing.handouts = std::move(handouts);
    return listing;
}

} // namespace

HandoutCatalog::HandoutCatalog(Folder kind, QObject *parent)
    : QObject(parent), m_kind(kind),
      m_words(kind == Folder::Returns ? CatalogWords::returns() : CatalogWords::handouts()),
      m_hashCache(std::make_shared<HashCache>()),
      m_cancelled(std::make_shared<std::atomic_bool>(false))
{
    m_listing = listingOf({}, {});
    m_lookTimer.setSingleShot(true);
    connect(&m_lookTimer, &QTimer::timeout, this, &HandoutCatalog::startLook);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this,
            &HandoutCatalog::folderChanged);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &HandoutCatalog::changeToldOf);
}

HandoutCatalog::~HandoutCatalog()
{
    // A look still running stops at its next block; nothing of it comes
    // back here.
    *m_cancelled = true;
}

void HandoutCatalog::setFolder(const QString &folder)
{
    m_folder = folder;
    restart();
}

void HandoutCatalog::setApartFrom(Folder other, const QString &folder)
{
    m_apart[int(other)] = folder;
    restart();
}

void HandoutCatalog::restart()
{
    *m_cancelled = true;
    m_cancelled = std::make_shared<std::atomic_bool>(false);
    ++m_generation;
    m_looking = false;
    m_lookTimer.stop();
    m_logged.clear();
    if (const QStringList watched = m_watcher.files() + m_watcher.directories(); !watched.isEmpty())
        m_watcher.removePaths(watched);
    ++m_changes;
    if (m_folder.isEmpty() || refuseNestedFolders()) {
        m_looked = m_changes;
        if (m_folder.isEmpty())
            setListing({}, {});
        serveWaiters(false);
        return;
    }
    // Watched before the first look: what changes while it runs is told.
    watchFolder();
    startLook();
}

void HandoutCatalog::watchFolder()
{
    QStringList folders;
    for (const QString &folder : {QFileInfo(m_folder).absolutePath(), m_folder}) {
        if (QFileInfo(folder).isDir())
            folders << folder;
    }
    if (!folders.isEmpty())
        m_watcher.addPaths(folders);
}

bool HandoutCatalog::refuseNestedFolders()
{
    m_nested = false;
    for (const Folder other : {Folder::Assignments, Folder::Handouts, Folder::Returns}) {
        const QString &folder = m_apart[int(other)];
        if (other == m_kind || !foldersNest(m_folder, folder))
            continue;
        logOnce(QStringLiteral("nested"),
                QStringLiteral("%1 %2 は%3 %4 と同じか、その中か外側にあります｡%5ため、"
                               "別のフォルダを選ぶまで何も%6しません｡")
                    .arg(m_words.folder, QDir::toNativeSeparators(m_folder), folderWord(other),
                         QDir::toNativeSeparators(folder), overlapHarm(m_kind, other),
                         m_words.verb));
        m_nested = true;
        setListing({}, QStringLiteral("%1が%2と重なっています｡先生に知らせてください｡")
                           .arg(m_words.folder, folderWord(other)));
        return true;
    }
    return false;
}

void HandoutCatalog::list(QObject *context, std::function<void(const Listing &)> done)
{
    if (m_looked != m_changes) {
        m_waiters.push_back({context, std::move(done)});
        return;
    }
    // What the file system does not tell (a network folder) is found by a
    // look now and then; this listing does not wait for it.
    if (!m_looking && !m_nested && !m_folder.isEmpty() && m_sinceLook.elapsed() >= LookIntervalMs)
        startLook();
    done(m_listing);
}

Result<Handout> HandoutCatalog::find(const QString &name) const
{
    if (!m_listing.refusal.isEmpty())
        return Result<Handout>::failure(m_listing.refusal);
    // Asked for under the name the listing gave, as the student's program
    // read it.
    for (const Handout &handout : m_listing.handouts) {
        if (handout.wireName == name)
            return handout;
    }
    for (const QString &unsettled : m_unsettled) {
        if (cp932::encode(unsettled) == cp932::encode(name))
            return Result<Handout>::failure(
                QStringLiteral("%1が更新されたところです｡もう一度受け取ってください｡")
                    .arg(m_words.file));
    }
    return Result<Handout>::failure(QStringLiteral("その名前の%1はありません｡").arg(m_words.file));
}

void HandoutCatalog::reportDelivery(const QString &who, const Handout &handout)
{
    Q_EMIT delivered(who, handout.name, handout.sha256);
}

void HandoutCatalog::folderChanged(const QString &path)
{
    // The folder above is watched for the handout folder itself: its other
    // entries may change all the time.
    const bool handoutFolder = path == m_folder || QFileInfo(path).canonicalFilePath() ==
                                                       QFileInfo(m_folder).canonicalFilePath();
    if (!handoutFolder && folderIdentity() == m_lookedFolder)
        return;
    changeToldOf();
}

QByteArray HandoutCatalog::folderIdentity() const
{
    struct stat info
    {
    };
    if (::stat(QFile::encodeName(m_folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return {};
    return QByteArray::number(quint64(info.st_dev)) + ':' +
           QByteArray::number(quint64(info.st_ino));
}

void HandoutCatalog::changeToldOf()
{
    ++m_changes;
    requestLook();
}

void HandoutCatalog::requestLook()
{
    if (m_looking || m_lookTimer.isActive())
        return;
    const qint64 wait = m_sinceLook.isValid() ? LookIntervalMs - m_sinceLook.elapsed() : 0;
    if (wait <= 0)
        startLook();
    else
        m_lookTimer.start(int(wait));
}

void HandoutCatalog::startLook()
{
    m_lookTimer.stop();
    m_looking = true;
    m_sinceLook.start();
    m_lookedFolder = folderIdentity();
    const quint64 generation = m_generation;
    const quint64 changes = m_changes;
    auto *watcher = new QFutureWatcher<HandoutScan>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [=, this] {
        watcher->deleteLater();
        if (generation == m_generation)
            looked(watcher->result(), changes);
    });
    watcher->setFuture(QtConcurrent::run(
        [folder = m_folder, hashes = m_hashCache, cancelled = m_cancelled, &words = m_words] {
            return scanHandouts(folder, *hashes, *cancelled, words);
        }));
}

void HandoutCatalog::looked(const HandoutScan &scan, quint64 changes)
{
    m_looking = false;
    m_looked = changes;
    m_hashesComputed += scan.hashed;
    watch(scan);
    m_unsettled = QSet<QString>(scan.unsettled.cbegin(), scan.unsettled.cend());
    if (scan.unreadable) {
        logOnce(QStringLiteral("folder"),
                QStringLiteral("%1 %2 を読み込めません｡")
                    .arg(m_words.folder, QDir::toNativeSeparators(m_folder)));
        setListing(
            {}, QStringLiteral("%1を読み込めません｡先生に知らせてください｡").arg(m_words.folder));
    } else {
        m_logged.remove(QStringLiteral("folder")); // told again if it goes away again
        for (const auto &[key, entry] : scan.logEntries)
            logOnce(key, entry);
        setListing(scan.handouts, {});
    }
    serveWaiters(true);
    if (m_looked != m_changes)
        requestLook();
}

void HandoutCatalog::setListing(QList<Handout> handouts, const QString &refusal)
{
    m_listing = listingOf(std::move(handouts), refusal);
    QSet<QByteArray> hashes;
    for (const Handout &handout : m_listing.handouts)
        hashes.insert(handout.sha256);
    if (hashes == m_hashes)
        return;
    m_hashes = hashes;
    Q_EMIT hashesChanged();
}

void HandoutCatalog::watch(const HandoutScan &scan)
{
    // The folder for names coming and going, the one above it for the
    // folder itself going away, each file for edits in place. A file
    // replaced by another is watched anew: the old watch stays on the old.
    QStringList wanted{QFileInfo(m_folder).absolutePath()};
    if (!scan.unreadable)
        wanted << m_folder;
    for (const Handout &handout : scan.handouts.first(qMin(scan.handouts.size(), MaxWatchedFiles)))
        wanted << handout.path;
    QHash<QString, quint64> inodes;
    for (const Handout &handout : scan.handouts)
        inodes.insert(handout.path, handout.version.inode);
    const QStringList watched = m_watcher.files() + m_watcher.directories();
    QStringList stale;
    for (const QString &path : watched) {
        const auto before = m_inodes.constFind(path);
        const auto now = inodes.constFind(path);
        if (!wanted.contains(path) ||
            (before != m_inodes.cend() && now != inodes.cend() && *before != *now))
            stale << path;
    }
    m_inodes = std::move(inodes);
    if (!stale.isEmpty())
        m_watcher.removePaths(stale);
    QStringList added;
    for (const QString &path : wanted) {
        if (!watched.contains(path) || stale.contains(path))
            added << path;
    }
    if (!added.isEmpty())
        m_watcher.addPaths(added);
}

void HandoutCatalog::serveWaiters(bool afterLook)
{
    std::vector<Waiter> waiting = std::exchange(m_waiters, {});
    for (Waiter &waiter : waiting) {
        if (!waiter.context)
            continue;
        waiter.rounds += afterLook;
        if (m_looked == m_changes || waiter.rounds >= MaxRoundsPerListing)
            waiter.done(m_listing);
        else
            m_waiters.push_back(std::move(waiter));
    }
}

void HandoutCatalog::logOnce(const QString &key, const QString &entry)
{
    if (m_logged.contains(key))
        return;
    m_logged.insert(key);
    Q_EMIT logEntry(entry);
}
