#include "server/records/durablefile.h"

#include "common/filehash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

Result<> failure()
{
    return Result<>::failure(QString::fromLocal8Bit(std::strerror(errno)));
}

bool syncFolder(const QString &folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

} // namespace

Result<> replaceFileDurably(const QString &path, const QByteArray &bytes)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return Result<>::failure(QStringLiteral("フォルダを作れません"));
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    // The lecturer's notes on students: for the lecturer's eyes only.
    // A fresh file, never one a link leads to: whatever was left under the
    // temporary name goes first.
    ::unlink(temporary.constData());
    const int fd =
        ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return failure();
    if (!writeFully(fd, bytes) || ::fsync(fd) != 0) {
        const Result<> failed = failure();
        ::close(fd);
        ::unlink(temporary.constData());
        return failed;
    }
    if (::close(fd) != 0 || ::rename(temporary.constData(), target.constData()) != 0) {
        const Result<> failed = failure();
        ::unlink(temporary.constData());
        return failed;
    }
    if (!syncFolder(folder))
        return failure();
    return Result<>::success();
}
