#include "client/handoutfile.h"

#include "common/filehash.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Numbered names tried before giving up on a folder that holds them all.
constexpr int MaxNumber = 999;

QString systemError(const char *what)
{
    return QStringLiteral("保存先に書き込めません (%1: %2)")
        .arg(QLatin1StringView(what), QString::fromLocal8Bit(std::strerror(errno)));
}

// Files already there are read in pieces, so that a stop is seen within a
// few milliseconds; one that changes while it is read holds nothing yet.
// Links and special files are never followed or read.
std::optional<FileHash> hashOf(int dirFd, const QByteArray &name, const std::atomic_bool &stop)
{
    const Result<FileHash> hashed = hashFileAt(dirFd, name, stop);
    if (!hashed || hashed->changed)
        return std::nullopt;
    return *hashed;
}

} // namespace

std::function<void()> IncomingHandout::beforeNaming;

Result<std::shared_ptr<HandoutFolder>> HandoutFolder::open(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Result<std::shared_ptr<HandoutFolder>>::failure(
            QString::fromLocal8Bit(std::strerror(errno)));
    return std::make_shared<HandoutFolder>(fd, path);
}

HandoutFolder::~HandoutFolder()
{
    ::close(m_fd);
}

bool isPlainHandoutName(const QString &name)
{
    return wire::isSafeFileName(name) && !name.startsWith(u'.');
}

QString numberedName(const QString &name, int number)
{
    if (number <= 1)
        return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype stemEnd = dot > 0 ? dot : name.size();
    return name.first(stemEnd) + QStringLiteral(" (%1)").arg(number) + name.sliced(stemEnd);
}

// The first file with the listed hash wins; failing that, the first that
// is still what was saved there makes way; failing that, the first free name.
HandoutPlan handoutPlan(const HandoutFolder &folder, const HandoutRecord &record,
                        const wire::HandoutEntry &entry, const std::atomic_bool &stop)
{
    HandoutPlan plan{HandoutNeed::Fetch, entry, {}, {}};
    if (!isPlainHandoutName(entry.fileName))
        return {HandoutNeed::BadName, entry, {}, {}};
    for (int number = 1; number <= MaxNumber; ++number) {
        if (stop)
            return {HandoutNeed::Stopped, entry, {}, {}};
        const QString name = numberedName(entry.fileName, number);
        const QByteArray encoded = QFile::encodeName(name);
        struct stat there = {};
        if (::fstatat(folder.fd(), encoded.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0)
            return plan; // saving tells why when the name cannot be had
        const std::optional<wire::HandoutEntry> saved = record.saved(name);
        const bool mayReplace =
            saved && plan.need == HandoutNeed::Fetch && saved->size == there.st_size;
        if (!S_ISREG(there.st_mode) || (there.st_size != entry.size && !mayReplace))
            continue;
        const std::optional<FileHash> hashed = hashOf(folder.fd(), encoded, stop);
        if (!hashed)
            continue;
        if (hashed->sha256 == entry.sha256)
            return {HandoutNeed::AlreadyThere, entry, name, {}};
        if (mayReplace && hashed->sha256 == saved->sha256)
            plan = {HandoutNeed::Replace, entry, name, hashed->identity};
    }
    return stop ? HandoutPlan{HandoutNeed::Stopped, entry, {}, {}}
                : plan; // saving says no name is free
}

IncomingHandout::IncomingHandout(std::shared_ptr<HandoutFolder> folder, HandoutPlan plan)
    : m_folder(std::move(folder)), m_plan(std::move(plan))
{}

IncomingHandout::~IncomingHandout()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_tempName.isEmpty())
        ::unlinkat(m_folder->fd(), m_tempName.constData(), 0);
}

Result<> IncomingHandout::begin()
{
    // A file without a name cannot be swapped or reached by anyone else.
    m_fd = ::openat(m_folder->fd(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    // File systems without such files (FAT, network shares) get a hidden
    // name that no other file has.
    for (int attempt = 0; m_fd < 0 && attempt < 10; ++attempt) {
        m_tempName = wire::TemporaryPrefix.toLatin1() +
                     QByteArray::number(QRandomGenerator::global()->generate64(), 36) + ".part";
        m_fd = ::openat(m_folder->fd(), m_tempName.constData(),
                        O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd >= 0)
        return Result<>::success();
    m_tempName.clear();
    m_problem = systemError("open");
    return Result<>::failure(m_problem);
}

void IncomingHandout::take(QByteArrayView &data)
{
    QByteArrayView part = data.first(qsizetype(qMin<qint64>(remaining(), data.size())));
    data = data.sliced(part.size());
    m_received += part.size();
    if (m_fd < 0 || !m_problem.isEmpty())
        return;
    m_hash.add(part);
    if (!writeFully(m_fd, part))
        m_problem = systemError("write");
}

Result<QString> IncomingHandout::finish()
{
    if (!m_problem.isEmpty())
        return Result<QString>::failure(m_problem);
    // The lecturer's program sends a file that changes on its way as bytes
    // that fail the check.
    if (m_hash.hexResult() != m_plan.entry.sha256)
        return Result<QString>::failure(
            QStringLiteral("受信中に先生の側で変更されました｡もう一度 配布物 を押してください"));
    if (::fchmod(m_fd, 0644) != 0)
        return Result<QString>::failure(systemError("fchmod"));
    if (beforeNaming)
        beforeNaming();
    return putInPlace();
}

Result<QString> IncomingHandout::putInPlace()
{
    if (m_plan.need == HandoutNeed::Replace)
        m_retired = retireHandout(*m_folder, m_plan.there, m_plan.version);
    for (int number = 1; number <= MaxNumber; ++number) {
        const QString name = numberedName(m_plan.entry.fileName, number);
        const Result<bool> named = nameAs(name);
        if (!named)
            return Result<QString>::failure(named.error());
        if (*named)
            return name;
    }
    return Result<QString>::failure(QStringLiteral("空いているファイル名がありません"));
}

// Gives the file `name` unless something has it already: neither link nor
// rename below ever replaces a name.
Result<bool> IncomingHandout::nameAs(const QString &name)
{
    const QByteArray target = QFile::encodeName(name);
    const int dirFd = m_folder->fd();
    int done = 0;
    if (m_tempName.isEmpty()) {
        // linkat with AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH; the file's
        // entry in /proc does the same for any user.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
        done = ::linkat(AT_FDCWD, self.constData(), dirFd, target.constData(), AT_SYMLINK_FOLLOW);
    } else {
        done =
            ::renameat2(dirFd, m_tempName.constData(), dirFd, target.constData(), RENAME_NOREPLACE);
        if (done == 0)
            m_tempName.clear();
    }
    if (done == 0)
        return true;
    if (errno == EEXIST)
        return false;
    return Result<bool>::failure(systemError(m_tempName.isEmpty() ? "linkat" : "renameat2"));
}
