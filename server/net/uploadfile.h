#pragma once

#include <QByteArrayView>
#include <QFile>
#include <QString>

// One upload on its way to the assignment folder. The bytes go to a
// temporary file beside the target, whose name no announced file name can
// take (it holds a ":"), and replace the target only when complete, so an
// earlier submission stays intact until then and an upload that is cut off
// leaves nothing under the announced name.
class UploadFile
{
public:
    UploadFile() = default;
    UploadFile(const UploadFile &) = delete;
    UploadFile &operator=(const UploadFile &) = delete;
    ~UploadFile();

    bool open(const QString &folder, const QString &fileName);
    bool write(QByteArrayView bytes);
    bool commit();
    void discard();

    const QString &targetPath() const { return m_targetPath; }
    // The path the last failure concerns, and the system's reason.
    const QString &failedPath() const { return m_failedPath; }
    const QString &errorString() const { return m_error; }

private:
    bool fail(const QString &path, const QString &reason);

    QFile m_file;
    QString m_targetPath;
    QString m_failedPath;
    QString m_error;
};
