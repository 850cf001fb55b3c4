#include "server/folders/handoutscan.h"

#include "common/cp932.h"
#include "common/wire.h"
#include "server/folders/hashcache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file that changes while it is hashed is hashed again, this often; then
// it is left out until it settles.
constexpr int HashAttempts = 3;

std::function<void(const QString &)> &hashHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

// What a look found out about one file.
struct KnownFile
{
    FileVersion version;
    QByteArray sha256;
    QString problem; // the file could not be opened
};

struct Reading
{
    KnownFile file;
    bool stable = false; // the same version before, during and after
};

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

Reading hashOnce(const QString &path, const std::atomic_bool &cancelled)
{
    Reading reading;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        reading.file = {versionOfPath(path), {}, systemError()};
        reading.stable = true;
        return reading;
    }
    const auto hook = [&path] {
        if (hashHook())
            hashHook()(path);
    };
    const Result<FileHash> hashed = hashDescriptor(fd, cancelled, hook);
    ::close(fd);
    if (!hashed)
        return reading;
    reading.file.version = hashed->identity;
    reading.file.sha256 = hashed->sha256;
    reading.stable = !hashed->changed && versionOfPath(path) == hashed->identity;
    return reading;
}

struct Look
{
    HashCache &hashes;
    const std::atomic_bool &cancelled;
    HandoutScan &scan;
    const CatalogWords &words;

    void skip(const QString &name, const QString &reason)
    {
        scan.logEntries.append(
            {name + u'\n' + reason, QStringLiteral("%1の %2 は%3ため%4しません｡")
                                        .arg(words.folder, name, reason, words.verb)});
    }

    // Wire names already offered, without letter case: a student's program
    // refuses a listing that holds one twice.
    QSet<QString> wireNames;

    bool offered(const QFileInfo &entry, const QString &canonicalFolder)
    {
        const QString name = entry.fileName();
        if (name.startsWith(u'.'))
            return false; // hidden: not meant for the students
        if (entry.isSymLink() && !entry.canonicalFilePath().startsWith(canonicalFolder + u'/')) {
            skip(name, QStringLiteral("フォルダの外を指すリンクの"));
            return false;
        }
        if (!entry.isFile())
            return false;
        QString reason;
        if (!cp932::encodable(name))
            reason = QStringLiteral("名前をShift_JISで表せない");
        else if (!wire::isSafeFileName(name))
            reason = QStringLiteral("名前にファイル名に使えない文字がある");
        else if (entry.size() > wire::MaxUploadSize)
            reason = QStringLiteral("2GBより大きい");
        if (!reason.isEmpty())
            skip(name, reason);
        return reason.isEmpty();
    }

    std::optional<KnownFile> hashed(const QString &path)
    {
        const FileVersion version = versionOfPath(path);
        if (const QByteArray kept = hashes.find(version); !kept.isEmpty())
            return KnownFile{version, kept, {}};
        for (int attempt = 0; attempt < HashAttempts && !cancelled; ++attempt) {
            const Reading reading = hashOnce(path, cancelled);
            if (!reading.stable)
                continue;
            if (reading.file.problem.isEmpty()) {
                ++scan.hashed;
                hashes.remember(reading.file.version, reading.file.sha256);
            }
            return reading.file;
        }
        return std::nullopt;
    }

    void add(const QFileInfo &entry)
    {
        const QString path = entry.absoluteFilePath();
        const std::optional<KnownFile> file = hashed(path);
        if (!file) {
            scan.unsettled << entry.fileName();
            return;
        }
        if (file->problem.isEmpty()) {
            const QString name = entry.fileName();
            const QString wireName = cp932::decode(cp932::encode(name));
            if (wireNames.contains(wireName.toCaseFolded())) {
                skip(name, QStringLiteral("Shift_JISに直すと、または大文字と小文字を区別しないと"
                                          "ほかの配布物と同じ名前になる"));
                return;
            }
            wireNames.insert(wireName.toCaseFolded());
            scan.handouts.append({name, wireName, path, file->version, file->sha256});
            return;
        }
        scan.logEntries.append(
            {path + u'\n' + file->problem,
             QStringLiteral("%1 %2 を読み込めないため%3しません: %4")
                 .arg(words.file, QDir::toNativeSeparators(path), words.verb, file->problem)});
    }
};

} // namespace

FileVersion versionOfDescriptor(int fd)
{
    return FileIdentity::ofDescriptor(fd);
}

FileVersion versionOfPath(const QString &path)
{
    struct stat info
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? FileIdentity::of(info)
                                                                   : FileVersion{};
}

const CatalogWords &CatalogWords::handouts()
{
    static const CatalogWords words{QStringLiteral("配布物のフォルダ"), QStringLiteral("配布物"),
                                    QStringLiteral("配布")};
    return words;
}

const CatalogWords &CatalogWords::returns()
{
    static const CatalogWords words{QStringLiteral("返却フォルダ"), QStringLiteral("返却物"),
                                    QStringLiteral("返却")};
    return words;
}

HandoutScan scanHandouts(const QString &folder, HashCache &hashes,
                         const std::atomic_bool &cancelled, const CatalogWords &words)
{
    HandoutScan scan;
    const QFileInfo folderInfo(folder);
    if (!folderInfo.isDir() || !folderInfo.isReadable() || !folderInfo.isExecutable()) {
        scan.unreadable = true;
        return scan;
    }
    const QDir dir(folder);
    const QString canonicalFolder = dir.canonicalPath();
    QFileInfoList entries =
        dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    std::sort(entries.begin(), entries.end(),
              [](const QFileInfo &a, const QFileInfo &b) { return a.fileName() < b.fileName(); });
    Look look{hashes, cancelled, scan, words, {}};
    for (const QFileInfo &entry : entries) {
        if (cancelled)
            break;
        if (look.offered(entry, canonicalFolder))
            look.add(entry);
    }
    return scan;
}

void setHandoutHashHook(std::function<void(const QString &path)> hook)
{
    hashHook() = std::move(hook);
}
