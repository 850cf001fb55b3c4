#pragma once

#include "common/result.h"
#include "server/folders/handoutscan.h"
#include "server/folders/hashcache.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// The handout folder as the students see it: the regular files directly in
// it that are not hidden, do not lead outside it, are at most 2 GiB and have
// names code page 932 and every common file system can take. The folder is
// looked at and its files hashed away from the window's thread, whenever
// the file system tells of a change and at most once a second; a listing is
// answered from the latest look, and waits only while a change told of has
// not been looked at yet.
class HandoutCatalog : public QObject
{
    Q_OBJECT
public:
    struct Listing
    {
        QList<Handout> handouts; // in name order
        QString refusal;         // for the student: why there is no listing
        QByteArray reply;        // the whole reply, as sent
        QList<QByteArray> lines; // each handout's entry line, as sent
        QByteArray entries;      // the reply after its count line
        QSet<QString> folded;    // the names case-folded, as a student's disk may see them
    };
    // The lecture's folders that must be kept apart.
    enum class Folder { Assignments, Handouts, Returns };

    // A catalogue of the handout folder or of the folder of work returned.
    explicit HandoutCatalog(Folder kind = Folder::Handouts, QObject *parent = nullptr);
    ~HandoutCatalog() override;

    // An empty folder: no handouts. Looked at at once.
    void setFolder(const QString &folder);
    const QString &folder() const { return m_folder; }
    Folder kind() const { return m_kind; }
    // A folder that is `other`, lies in it or holds it offers nothing: the
    // students' submissions, or one student's returned work, would go to
    // the others.
    void setApartFrom(Folder other, const QString &folder);
    void setAssignmentFolder(const QString &folder) { setApartFrom(Folder::Assignments, folder); }

    // Calls `done` with the listing once no change told of is still to be
    // looked at. Not called when `context` has gone.
    void list(QObject *context, std::function<void(const Listing &)> done);
    // The handout offered under `name` by the latest look, or the reason
    // for the student why it cannot be had.
    Result<Handout> find(const QString &name) const;

    // SHA-256 hex digests of the handouts found by the latest look at the
    // folder: a submission equal to one of them is no work of the student.
    const QSet<QByteArray> &hashes() const { return m_hashes; }
    // Hashes computed so far (each file version once).
    int hashesComputed() const { return m_hashesComputed; }
    // The hashes of file versions read so far, by this catalogue and by
    // whoever it is shared with (the version history of the uploads).
    const std::shared_ptr<HashCache> &hashCache() const { return m_hashCache; }

    void reportDelivery(const QString &who, const Handout &handout);

Q_SIGNALS:
    void logEntry(const QString &entry);
    void hashesChanged();
    void delivered(const QString &who, const QString &fileName, const QByteArray &sha256);

private:
    struct Waiter
    {
        QPointer<QObject> context;
        std::function<void(const Listing &)> done;
        int rounds = 0;
    };
    void restart();
    bool refuseNestedFolders();
    void folderChanged(const QString &path);
    QByteArray folderIdentity() const;
    void changeToldOf();
    void requestLook();
    void startLook();
    void looked(const HandoutScan &scan, quint64 changes);
    void setListing(QList<Handout> handouts, const QString &refusal);
    void watchFolder();
    void watch(const HandoutScan &scan);
    void serveWaiters(bool afterLook);
    void logOnce(const QString &key, const QString &entry);

    const Folder m_kind;
    const CatalogWords &m_words;
    QString m_folder;
    QString m_apart[3]; // by Folder
    bool m_nested = false;
    Listing m_listing;
    // Changes told of, and how many of them the latest finished look had
    // seen when it began: a listing waits while the two differ.
    quint64 m_changes = 0;
    quint64 m_looked = 0;
    bool m_looking = false;   // a look runs on the pool
    quint64 m_generation = 0; // looks at an earlier folder are dropped
    QElapsedTimer m_sinceLook;
    QByteArray m_lookedFolder; // device and inode when the latest look began
    QTimer m_lookTimer;
    QFileSystemWatcher m_watcher;
    QHash<QString, quint64> m_inodes; // of the handouts by path, at the latest look
    QSet<QString> m_unsettled;        // names still changing at the latest look
    std::vector<Waiter> m_waiters;
    QSet<QString> m_logged;
    QSet<QByteArray> m_hashes;
    int m_hashesComputed = 0;
    std::shared_ptr<HashCache> m_hashCache; // shared with looks still running
    std::shared_ptr<std::atomic_bool> m_cancelled;
};
