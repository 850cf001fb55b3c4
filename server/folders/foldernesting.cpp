#include "server/folders/foldernesting.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <vector>

#include <sys/stat.h>

namespace {

struct Identity
{
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const Identity &) const = default;
};

// The folder itself first, then each folder above it up to the root.
std::vector<Identity> chainOf(const QString &folder)
{
    std::vector<Identity> chain;
    QString path = QFileInfo(folder).canonicalFilePath();
    while (!path.isEmpty()) {
        struct stat info
        {
        };
        if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
            return {};
        chain.push_back({info.st_dev, info.st_ino});
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    return chain;
}

bool within(const std::vector<Identity> &inner, const Identity &outer)
{
    return std::find(inner.begin(), inner.end(), outer) != inner.end();
}

} // namespace

bool foldersNest(const QString &a, const QString &b)
{
    if (a.isEmpty() || b.isEmpty())
        return false;
    const std::vector<Identity> chainA = chainOf(a);
    const std::vector<Identity> chainB = chainOf(b);
    if (chainA.empty() || chainB.empty())
        return false;
    return within(chainA, chainB.front()) || within(chainB, chainA.front());
}
