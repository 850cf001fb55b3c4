#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QFileInfo;
struct HandoutHash;

// Which version of a file: while these stay the same its hash is kept.
struct FileVersion
{
    qint64 size = -1;
    qint64 mtimeNs = 0;
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

// The handout folder as the students see it: the regular files directly in
// it that are not hidden, do not lead outside it, are at most 2 GiB and have
// names code page 932 and every common file system can take. A file's
// SHA-256 is computed once, away from the window's thread, and kept while
// its version stays the same; listings that come while it is computed wait
// for that one computation.
class HandoutCatalog : public QObject
{
    Q_OBJECT
public:
    struct Listing
    {
        QList<Handout> handouts; // in name order
        QString refusal;         // for the student: why there is no listing
    };

    explicit HandoutCatalog(QObject *parent = nullptr);
    ~HandoutCatalog() override;

    // An empty folder: no handouts. Hashing starts at once.
    void setFolder(const QString &folder);
    const QString &folder() const { return m_folder; }

    // Calls `done` once the hash of every handout is known: at once when
    // none has to be computed. Not called when `context` has gone.
    void list(QObject *context, std::function<void(const Listing &)> done);
    // The handout offered under `name` now, or the reason for the student
    // why it cannot be had.
    Result<Handout> find(const QString &name);

    // SHA-256 hex digests of the handouts found by the latest look at the
    // folder: a submission equal to one of them is no work of the student.
    const QSet<QByteArray> &hashes() const { return m_hashes; }
    // Hashes computed so far (each file version once).
    int hashesComputed() const { return m_hashesComputed; }

    void reportDelivery(const QString &who, const Handout &handout);

Q_SIGNALS:
    void logEntry(const QString &entry);
    void hashesChanged();
    void delivered(const QString &who, const QString &fileName, const QByteArray &sha256);

private:
    struct Known
    {
        FileVersion version;
        QByteArray sha256;
        QString problem;
    };
    struct Scan
    {
        QList<Handout> ready;
        QStringList pending; // names whose hash is being computed
        QString refusal;
    };
    struct Waiter
    {
        QPointer<QObject> context;
        std::function<void(const Listing &)> done;
        int rounds = 0;
    };
    Scan scan();
    bool offered(const QFileInfo &entry, const QString &canonicalFolder);
    void look(const QFileInfo &entry, Scan &scan);
    void startHashing(const QString &path);
    void hashed(const QString &path, const HandoutHash &outcome);
    void serveWaiters(bool afterChange);
    void noteHashes(const Scan &scan);
    void logOnce(const QString &key, const QString &entry);

    QString m_folder;
    QHash<QString, Known> m_known; // by path
    QSet<QString> m_hashing;       // paths
    std::vector<Waiter> m_waiters;
    QSet<QString> m_logged;
    QSet<QByteArray> m_hashes;
    int m_hashesComputed = 0;
    std::shared_ptr<std::atomic_bool> m_cancelled;
};
