#pragma once

#include "common/result.h"
#include "server/net/sha256.h"

#include <QByteArrayView>
#include <QFile>
#include <QString>

// One upload on its way to the assignment folder. The bytes go to a
// temporary file beside the target, whose name no announced file name can
// take, and replace the target only when complete, so an earlier submission
// stays intact until then and an upload that is cut off leaves nothing under
// the announced name. Failures name the path concerned and the reason.
class UploadFile
{
public:
    UploadFile() = default;
    UploadFile(const UploadFile &) = delete;
    UploadFile &operator=(const UploadFile &) = delete;
    ~UploadFile();

    Result<> open(const QString &folder, const QString &fileName);
    Result<> write(QByteArrayView bytes);
    Result<> commit();
    void discard();

    const QString &targetPath() const { return m_targetPath; }
    // SHA-256 of the bytes stored, once committed.
    const QByteArray &sha256() const { return m_sha256; }

private:
    Result<> fail(const QString &path, const QString &reason);

    QFile m_file;
    QString m_targetPath;
    Sha256 m_hash;
    QByteArray m_sha256;
};
