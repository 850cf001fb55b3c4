#pragma once

#include "common/filehash.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class HashCache;

// Which version of a file (see FileIdentity); its size is -1 when it
// cannot be told.
using FileVersion = FileIdentity;
FileVersion versionOfDescriptor(int fd);
FileVersion versionOfPath(const QString &path);

struct Handout
{
    QString name; // as offered: directly in the folder
    // The name as a student's program reads it from the listing: a JIS form
    // such as U+301C comes back as its Windows twin.
    QString wireName;
    QString path;
    FileVersion version;
    QByteArray sha256; // 64 lower-case hex digits
};

// One look at the handout folder, made away from the window's thread: the
// files offered with their hashes, and what to tell the lecturer.
struct HandoutScan
{
    QList<Handout> handouts;                       // in name order
    QStringList unsettled;                         // changed every time they were hashed
    QList<std::pair<QString, QString>> logEntries; // (once-key, entry)
    bool unreadable = false;
    int hashed = 0; // hashes computed in this look
};

// How the lecturer and the students are told of a folder of files for
// students: the handout folder, or the folder of work returned.
struct CatalogWords
{
    QString folder; // 配布物のフォルダ
    QString file;   // 配布物
    QString verb;   // 配布 (しません)

    static const CatalogWords &handouts();
    static const CatalogWords &returns();
};

// Lists `folder`, takes the hashes of file versions `hashes` knows and
// computes the others (keeping them there). Touches nothing but its
// arguments.
HandoutScan scanHandouts(const QString &folder, HashCache &hashes,
                         const std::atomic_bool &cancelled,
                         const CatalogWords &words = CatalogWords::handouts());

// Called on the hashing thread after a file's first block: for tests that
// change the file just then.
void setHandoutHashHook(std::function<void(const QString &path)> hook);
