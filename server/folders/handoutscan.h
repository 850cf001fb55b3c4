#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// Which version of a file: while all of these stay the same its hash is
// kept. The change time moves with every write and cannot be set back, so
// a file edited in place with its size and modification time restored is
// still told apart.
struct FileVersion
{
    qint64 size = -1;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    quint64 inode = 0;
    bool operator==(const FileVersion &) const = default;
};
// The version of an open file, or of the file at a path; size -1 when
// it cannot be told.
FileVersion versionOfDescriptor(int fd);
FileVersion versionOfPath(const QString &path);

struct Handout
{
    QString name; // as offered: directly in the folder
    QString path;
    FileVersion version;
    QByteArray sha256; // 64 lower-case hex digits
};

// What a look at the folder found out about one file.
struct KnownFile
{
    FileVersion version;
    QByteArray sha256;
    QString problem; // the file could not be read
};

// One look at the handout folder, made away from the window's thread: the
// files offered with their hashes, and what to tell the lecturer.
struct HandoutScan
{
    QList<Handout> handouts;                       // in name order
    QHash<QString, KnownFile> known;               // by path, for the next look
    QStringList unsettled;                         // changed every time they were hashed
    QList<std::pair<QString, QString>> logEntries; // (once-key, entry)
    bool unreadable = false;
    int hashed = 0; // hashes computed in this look
};

// Lists `folder`, keeps the hashes in `known` whose file versions are the
// same and computes the others. Touches nothing but its arguments.
HandoutScan scanHandouts(const QString &folder, const QHash<QString, KnownFile> &known,
                         const std::atomic_bool &cancelled);

// Called on the hashing thread after a file's first block: for tests that
// change the file just then.
void setHandoutHashHook(std::function<void(const QString &path)> hook);
