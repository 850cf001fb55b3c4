#include "client/handoutrecord.h"

#include "client/handoutfile.h"
#include "common/cp932.h"
#include "common/filehash.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A comment for whoever opens the file; lines starting with '#' are skipped.
const QByteArray Heading = "# Tavrelle: saved handouts (name,size,SHA-256)\r\n";

QByteArray readAll(int fd, qint64 size)
{
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    qint64 got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, bytes.data() + got, size_t(size - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    bytes.truncate(qsizetype(got));
    return bytes;
}

bool exists(int dirFd, const QString &name)
{
    struct stat info = {};
    return ::fstatat(dirFd, QFile::encodeName(name).constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace

const QByteArray HandoutRecord::FileName = ".tavrelle-handouts.txt";

HandoutRecord HandoutRecord::read(int dirFd)
{
    HandoutRecord record;
    const Result<int> fd = openRegularFileAt(dirFd, FileName);
    if (!fd)
        return record;
    struct stat info = {};
    const bool small = ::fstat(*fd, &info) == 0 && info.st_size <= MaxBytes;
    const QByteArray bytes = small ? readAll(*fd, info.st_size) : QByteArray();
    ::close(*fd);
    for (const QByteArray &line : bytes.split('\n')) {
        if (record.m_files.size() >= MaxEntries)
            break;
        const QString text = cp932::decode(line.endsWith('\r') ? line.chopped(1) : line);
        const std::optional<wire::HandoutEntry> entry =
            text.startsWith(u'#') ? std::nullopt : wire::parseHandoutEntry(text);
        if (entry && isPlainHandoutName(entry->fileName))
            record.m_files.insert(entry->fileName, *entry);
    }
    return record;
}

std::optional<wire::HandoutEntry> HandoutRecord::saved(const QString &name) const
{
    const auto found = m_files.constFind(name);
    return found == m_files.cend() ? std::nullopt : std::optional(*found);
}

void HandoutRecord::remember(const wire::HandoutEntry &file)
{
    if (m_files.size() < MaxEntries || m_files.contains(file.fileName))
        m_files.insert(file.fileName, file);
}

// Written beside under a hidden name, then renamed over the old record: a
// program killed meanwhile leaves the old one whole.
Result<> HandoutRecord::write(int dirFd) const
{
    QStringList names;
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        if (exists(dirFd, it.key()))
            names << it.key();
    }
    std::sort(names.begin(), names.end());
    QByteArray bytes = Heading;
    for (const QString &name : std::as_const(names))
        bytes += cp932::encode(wire::handoutEntryLine(m_files.value(name))) + "\r\n";
    const QByteArray temporary = wire::TemporaryPrefix.toLatin1() +
                                 QByteArray::number(QRandomGenerator::global()->generate64(), 36) +
                                 ".part";
    const int fd = ::openat(dirFd, temporary.constData(),
                            O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return Result<>::failure(QString::fromLocal8Bit(std::strerror(errno)));
    const bool written = writeFully(fd, bytes);
    ::close(fd);
    if (written && ::renameat(dirFd, temporary.constData(), dirFd, FileName.constData()) == 0)
        return Result<>::success();
    const QString problem = QString::fromLocal8Bit(std::strerror(errno));
    ::unlinkat(dirFd, temporary.constData(), 0);
    return Result<>::failure(problem);
}
