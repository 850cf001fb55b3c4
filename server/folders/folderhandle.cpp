#include "server/folders/folderhandle.h"

#include <cerrno>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FolderHandle::FolderHandle(FolderHandle &&other) noexcept : m_fd(std::exchange(other.m_fd, -1))
{}

FolderHandle &FolderHandle::operator=(FolderHandle &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FolderHandle::~FolderHandle()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FolderHandle FolderHandle::open(const QByteArray &path)
{
    return FolderHandle(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

FolderHandle FolderHandle::child(const QByteArray &name, bool create) const
{
    if (create && ::mkdirat(m_fd, name.constData(), 0755) != 0 && errno != EEXIST)
        return FolderHandle();
    return FolderHandle(
        ::openat(m_fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::vector<FolderHandle::Entry> FolderHandle::files() const
{
    std::vector<Entry> entries;
    // The stream takes a descriptor of its own: ours stays open.
    const int listed = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!dir) {
        if (listed >= 0)
            ::close(listed);
        return entries;
    }
    while (const dirent *entry = ::readdir(dir)) {
        struct stat status
        {
        };
        if (::fstatat(m_fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode))
            entries.push_back({QByteArray(entry->d_name), status.st_mtim});
    }
    ::closedir(dir);
    return entries;
}
