#include "client/handoutretire.h"

#include "client/handoutfile.h"
#include "common/clock.h"
#include "common/filehash.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Names tried in the trash or in ".old" before giving up on it.
constexpr int MaxNumber = 999;

class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

int openFolderAt(int dirFd, const char *name)
{
    ::mkdirat(dirFd, name, 0700); // there already: fine
    return ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool isVersion(int dirFd, const QByteArray &name, const FileIdentity &version, bool moved)
{
    struct stat info = {};
    if (::fstatat(dirFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    FileIdentity there = FileIdentity::of(info);
    if (moved)
        there.ctimeNs = version.ctimeNs; // a rename moves the change time
    return S_ISREG(info.st_mode) && there == version;
}

// One entry moved from the handout folder: kept where it went if it is the
// version checked, else put back where it was.
struct Move
{
    int folderFd;
    const QByteArray &name;
    const FileIdentity &version;

    enum Outcome { Moved, NameTaken, NotMoved, PutBack };
    Outcome to(int dirFd, const QByteArray &target) const
    {
        if (::renameat2(folderFd, name.constData(), dirFd, target.constData(), RENAME_NOREPLACE) !=
            0)
            return errno == EEXIST ? NameTaken : NotMoved;
        // What cannot go back (its name was taken meanwhile) stays where it
        // went, as retired: nothing is lost either way.
        if (isVersion(dirFd, target, version, true) ||
            ::renameat2(dirFd, target.constData(), folderFd, name.constData(), RENAME_NOREPLACE) !=
                0)
            return Moved;
        return PutBack;
    }
};

// The entry a file manager reads to restore the file: a desktop file, so
// UTF-8 with LF, the path percent-encoded.
QByteArray trashInfo(const QString &path)
{
    return "[Trash Info]\nPath=" + QFile::encodeName(path).toPercentEncoding("/") +
           "\nDeletionDate=" + Clock::now().toString(u"yyyy-MM-dd'T'HH:mm:ss").toLatin1() + "\n";
}

Retired toTrash(const HandoutFolder &folder, const QString &name, const Move &move)
{
    const QString trashPath =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash";
    const Descriptor trash(::open(QFile::encodeName(trashPath).constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (trash.fd() < 0)
        return Retired::Failed; // a desktop without a trash
    const Descriptor files(openFolderAt(trash.fd(), "files"));
    const Descriptor info(openFolderAt(trash.fd(), "info"));
    struct stat filesInfo = {};
    struct stat folderInfo = {};
    if (files.fd() < 0 || info.fd() < 0 || ::fstat(files.fd(), &filesInfo) != 0 ||
        ::fstat(folder.fd(), &folderInfo) != 0 || filesInfo.st_dev != folderInfo.st_dev)
        return Retired::Failed; // a file is moved, never copied
    const QByteArray entry = trashInfo(QFileInfo(folder.path() + u'/' + name).absoluteFilePath());
    for (int number = 1; number <= MaxNumber; ++number) {
        const QByteArray target = QFile::encodeName(numberedName(name, number));
        const QByteArray infoName = target + ".trashinfo";
        // The info file first, made anew: it claims the name in the trash.
        const int fd = ::openat(info.fd(), infoName.constData(),
                                O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return Retired::Failed;
        const bool written = writeFully(fd, entry);
        ::close(fd);
        const Move::Outcome outcome = written ? move.to(files.fd(), target) : Move::NotMoved;
        if (outcome == Move::Moved)
            return Retired::ToTrash;
        ::unlinkat(info.fd(), infoName.constData(), 0);
        if (outcome == Move::PutBack)
            return Retired::Changed;
        if (outcome == Move::NotMoved)
            return Retired::Failed;
    }
    return Retired::Failed;
}

Retired toOldFolder(const HandoutFolder &folder, const QString &name, const Move &move)
{
    const Descriptor old(openFolderAt(folder.fd(), ".old"));
    if (old.fd() < 0)
        return Retired::Failed;
    for (int number = 1; number <= MaxNumber; ++number) {
        switch (move.to(old.fd(), QFile::encodeName(numberedName(name, number)))) {
        case Move::Moved:
            return Retired::ToOldFolder;
        case Move::PutBack:
            return Retired::Changed;
        case Move::NotMoved:
            return Retired::Failed;
        case Move::NameTaken:
            break;
        }
    }
    return Retired::Failed;
}

} // namespace

Retired retireHandout(const HandoutFolder &folder, const QString &name, const FileIdentity &version)
{
    const QByteArray encoded = QFile::encodeName(name);
    if (!isVersion(folder.fd(), encoded, version, false))
        return Retired::Changed; // the student worked on it while the new one came
    const Move move{folder.fd(), encoded, version};
    const Retired trashed = toTrash(folder, name, move);
    return trashed == Retired::Failed ? toOldFolder(folder, name, move) : trashed;
}
