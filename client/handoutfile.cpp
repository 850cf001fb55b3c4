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
bool holdsHash(int fd, const QByteArray &sha256, const std::atomic_bool &stop)
{
    const Result<FileHash> hashed = hashDescriptor(fd, stop);
    return hashed && !hashed->changed && hashed->sha256 == sha256;
}

// Whether the regular file `name` in the folder has the entry's size and
// hash. Links and special files are never followed or read.
bool holdsEntry(int dirFd, const QByteArray &name, const wire::HandoutEntry &entry,
                const std::atomic_bool &stop)
{
    const int fd =
        ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info = {};
    const bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                      info.st_size == entry.size && holdsHash(fd, entry.sha256, stop);
    ::close(fd);
    return same;
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

HandoutNeed handoutNeed(const HandoutFolder &folder, const wire::HandoutEntry &entry,
                        const std::atomic_bool &stop)
{
    if (!isPlainHandoutName(entry.fileName))
        return HandoutNeed::BadName;
    for (int number = 1; number <= MaxNumber; ++number) {
        if (stop)
            return HandoutNeed::Stopped;
        const QByteArray name = QFile::encodeName(numberedName(entry.fileName, number));
        struct stat there = {};
        if (::fstatat(folder.fd(), name.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0)
            return HandoutNeed::Fetch; // saving tells why when the name cannot be had
        if (holdsEntry(folder.fd(), name, entry, stop))
            return HandoutNeed::AlreadyThere;
    }
    return stop ? HandoutNeed::Stopped : HandoutNeed::Fetch; // saving says no name is free
}

IncomingHandout::IncomingHandout(std::shared_ptr<HandoutFolder> folder, wire::HandoutEntry entry)
    : m_folder(std::move(folder)), m_entry(std::move(entry))
{}

IncomingHandout::~IncomingHandout()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_tempName.isEmpty())
        ::unlinkat(m_folder->fd(), m_tempName.constData(), 0);
}

bool IncomingHandout::begin()
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
        return true;
    m_tempName.clear();
    m_problem = systemError("open");
    return false;
}

void IncomingHandout::take(QByteArrayView &data)
{
    QByteArrayView part = data.first(qsizetype(qMin<qint64>(remaining(), data.size())));
    data = data.sliced(part.size());
    m_received += part.size();
    if (m_fd < 0 || !m_problem.isEmpty())
        return;
    m_hash.add(part);
    while (!part.isEmpty()) {
        const ssize_t written = ::write(m_fd, part.data(), size_t(part.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            m_problem = systemError("write");
            return;
        }
        part = part.sliced(written);
    }
}

Result<QString> IncomingHandout::finish()
{
    if (!m_problem.isEmpty())
        return Result<QString>::failure(m_problem);
    if (m_hash.hexResult() != m_entry.sha256)
        return Result<QString>::failure(QStringLiteral("SHA-256が一覧と違います"));
    if (::fchmod(m_fd, 0644) != 0)
        return Result<QString>::failure(systemError("fchmod"));
    if (beforeNaming)
        beforeNaming();
    return putInPlace();
}

Result<QString> IncomingHandout::putInPlace()
{
    for (int number = 1; number <= MaxNumber; ++number) {
        const QString name = numberedName(m_entry.fileName, number);
        if (nameAs(name))
            return name;
        if (!m_problem.isEmpty())
            return Result<QString>::failure(m_problem);
    }
    return Result<QString>::failure(QStringLiteral("空いているファイル名がありません"));
}

// Gives the file `name` unless something has it already: neither link nor
// rename below ever replaces a name.
bool IncomingHandout::nameAs(const QString &name)
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
    if (errno != EEXIST)
        m_problem = systemError(m_tempName.isEmpty() ? "linkat" : "renameat2");
    return false;
}
