#include "server/net/uploadfile.h"

#include "common/wire.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

UploadFile::~UploadFile()
{
    discard();
}

Result<> UploadFile::fail(const QString &path, const QString &reason)
{
    discard();
    return Result<>::failure(QStringLiteral("%1 (%2)").arg(path, reason));
}

Result<> UploadFile::open(const QString &folder, const QString &fileName)
{
    m_targetPath = folder + u'/' + fileName;
    if (folder.isEmpty())
        return fail(m_targetPath, QStringLiteral("課題提出先が設定されていません"));
    if (!QFileInfo(folder).isDir())
        return fail(folder, QStringLiteral("フォルダがありません"));
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString name =
            QStringLiteral("%1%2.part")
                .arg(wire::TemporaryPrefix)
                .arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0'));
        m_file.setFileName(folder + u'/' + name);
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return Result<>::success();
        if (m_file.exists())
            continue;
        break;
    }
    const QString path = m_file.fileName();
    const QString reason = m_file.errorString();
    m_file.setFileName(QString()); // not ours: never remove it
    return fail(path, reason);
}

Result<> UploadFile::write(QByteArrayView bytes)
{
    m_hash.add(bytes);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 written = m_file.write(bytes.data() + done, bytes.size() - done);
        if (written <= 0)
            return fail(m_file.fileName(), m_file.errorString());
        done += qsizetype(written);
    }
    return Result<>::success();
}

Result<> UploadFile::commit()
{
    const QString tempPath = m_file.fileName();
    m_file.close();
    if (m_file.error() != QFileDevice::NoError)
        return fail(tempPath, m_file.errorString());
    // rename() replaces the target in one step; QFile::rename refuses to.
    if (std::rename(QFile::encodeName(tempPath).constData(),
                    QFile::encodeName(m_targetPath).constData()) != 0) {
        const QString reason = QString::fromLocal8Bit(std::strerror(errno));
        return fail(m_targetPath, reason);
    }
    m_file.setFileName(QString());
    m_sha256 = m_hash.hexResult();
    return Result<>::success();
}

void UploadFile::discard()
{
    if (m_file.fileName().isEmpty())
        return;
    m_file.close();
    QFile::remove(m_file.fileName());
    m_file.setFileName(QString());
}
