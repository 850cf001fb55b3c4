#include "client/receiptfile.h"

#include "client/handoutfile.h"
#include "common/cp932.h"
#include "common/csvtext.h"
#include "common/filehash.h"
#include "common/wire.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

Result<> appendTo(int dirFd, const QByteArray &line)
{
    const int fd =
        ::openat(dirFd, QFile::encodeName(ReceiptFileName).constData(),
                 O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0)
        return Result<>::failure(systemError());
    struct stat info = {};
    Result<> result = Result<>::success();
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        result = Result<>::failure(QStringLiteral("通常のファイルではありません"));
    else if (!writeFully(fd, line) || ::fsync(fd) != 0) // O_APPEND: the line stays whole
        result = Result<>::failure(systemError());
    ::close(fd);
    // A file made just now needs its name on the disk too; a file system
    // that cannot force a folder still has the line.
    if (result)
        (void)::fsync(dirFd);
    return result;
}

} // namespace

QString receiptFileLine(const ReceiptEntry &entry)
{
    const auto text = [](const QString &value) { return csvField(textCell(value)); };
    return entry.storedAt + u',' + text(entry.lecture) + u',' + text(entry.announcedName) + u',' +
           text(entry.originalName) + u',' + QString::number(entry.size) + u',' +
           QLatin1StringView(entry.sha256);
}

Result<> appendReceipt(const QString &folder, const ReceiptEntry &entry)
{
    if (!QDir().mkpath(folder))
        return Result<>::failure(QStringLiteral("フォルダを作れません"));
    const Result<std::shared_ptr<HandoutFolder>> opened = HandoutFolder::open(folder);
    if (!opened)
        return Result<>::failure(opened.error());
    return appendTo((*opened)->fd(), cp932::encode(receiptFileLine(entry) + wire::Eol));
}
