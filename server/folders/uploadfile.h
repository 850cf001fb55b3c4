#pragma once

#include "common/result.h"
#include "common/sha256.h"
#include "server/folders/folderhandle.h"
#include "server/folders/hashcache.h"

#include <QByteArrayView>
#include <QFile>
#include <QString>

#include <memory>

// One upload on its way to the assignment folder. The bytes go to a
// temporary file beside the target, whose name no announced file name can
// take and every common file system accepts (FAT, exFAT, NTFS, SMB), and
// replace the target only when complete, so an earlier submission stays
// intact until then and an upload that is cut off leaves nothing under the
// announced name. The folder is held open for the whole upload and every
// name in it is taken relative to it, never through a link: if the folder
// is renamed meanwhile, the file is finished or removed where it really is,
// and a link swapped in for a file or a history folder leads nowhere.
// Failures name the path concerned and the reason.
class UploadFile
{
public:
    UploadFile() = default;
    UploadFile(const UploadFile &) = delete;
    UploadFile &operator=(const UploadFile &) = delete;
    ~UploadFile();

    // Earlier versions kept per file name when a commit replaces one (see
    // VersionHistory); 0 replaces without keeping.
    void setKeptVersions(int kept) { m_keptVersions = kept; }
    // Where the hashes of stored files are kept for the version history;
    // without one, this upload keeps its own.
    void setHashCache(std::shared_ptr<HashCache> hashes) { m_hashes = std::move(hashes); }
    Result<> open(const QString &folder, const QString &fileName);
    Result<> write(QByteArrayView bytes);
    Result<> commit();
    void discard();

    const QString &targetPath() const { return m_targetPath; }
    // SHA-256 of the bytes stored, once committed.
    const QByteArray &sha256() const { return m_sha256; }
    // After commit: versions of the file now kept, this one included; and
    // whether a failed commit failed because the earlier one could not be kept.
    int versions() const { return m_versions; }
    bool historyFailed() const { return m_historyFailed; }

private:
    // Temporary files an earlier run left in the folder (it ended without
    // cleaning up) are removed the first time this run uses the folder.
    void removeLeftoversOnce();
    Result<> fail(const QString &path, const QString &reason);
    Result<> openTemporary();
    bool replaceTarget();
    FileIdentity identityOfTarget() const;

    FolderHandle m_folder;
    QFile m_file;
    QByteArray m_tempName;
    QByteArray m_targetName;
    QString m_folderPath;
    QString m_targetPath;
    Sha256 m_hash;
    QByteArray m_sha256;
    std::shared_ptr<HashCache> m_hashes = std::make_shared<HashCache>();
    int m_keptVersions = 0;
    int m_versions = 1;
    bool m_historyFailed = false;
};
