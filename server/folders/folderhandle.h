#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <ctime>
#include <vector>

// A folder held open by its descriptor. Names inside it are looked up
// relative to the descriptor and never through a link (openat with
// O_NOFOLLOW), so a folder renamed, or a link swapped in for a folder or a
// file after it was opened, sends nothing elsewhere. Failures leave errno set.
class FolderHandle
{
public:
    FolderHandle() = default;
    FolderHandle(const FolderHandle &) = delete;
    FolderHandle &operator=(const FolderHandle &) = delete;
    FolderHandle(FolderHandle &&other) noexcept;
    FolderHandle &operator=(FolderHandle &&other) noexcept;
    ~FolderHandle();

    // The folder at `path`, as the lecturer named it (a link there is his).
    static FolderHandle open(const QByteArray &path);
    // The folder `name` inside this one, made first when `create` is set;
    // not open when it is a link or no folder.
    FolderHandle child(const QByteArray &name, bool create) const;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    struct Entry
    {
        QByteArray name;
        timespec modified{};
    };
    // The plain files in the folder (no links, no folders), in no order.
    std::vector<Entry> files() const;

private:
    explicit FolderHandle(int fd) : m_fd(fd) {}
    int m_fd = -1;
};
