#include "client/handoutfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Numbered names tried before giving up on a folder that holds them all.
constexpr int MaxNumber = 999;

QByteArray sha256Of(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result().toHex();
}

bool isPlainName(const QString &name)
{
    return wire::isSafeFileName(name) && !name.startsWith(u'.');
}

} // namespace

QString numberedName(const QString &name, int number)
{
    if (number <= 1)
        return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype stemEnd = dot > 0 ? dot : name.size();
    return name.first(stemEnd) + QStringLiteral(" (%1)").arg(number) + name.sliced(stemEnd);
}

HandoutNeed handoutNeed(const QString &folder, const wire::HandoutEntry &entry)
{
    if (!isPlainName(entry.fileName))
        return HandoutNeed::BadName;
    const QDir dir(folder);
    for (int number = 1; number <= MaxNumber; ++number) {
        const QFileInfo there(dir.filePath(numberedName(entry.fileName, number)));
        if (!there.exists())
            return HandoutNeed::Fetch;
        if (there.isFile() && there.size() == entry.size &&
            sha256Of(there.filePath()) == entry.sha256)
            return HandoutNeed::AlreadyThere;
    }
    return HandoutNeed::Fetch; // saving will say there is no free name
}

IncomingHandout::IncomingHandout(QString folder, wire::HandoutEntry entry)
    : m_folder(std::move(folder)), m_entry(std::move(entry))
{}

bool IncomingHandout::begin(qint64 announcedSize)
{
    m_announced = announcedSize;
    m_file = std::make_unique<QTemporaryFile>(
        QDir(m_folder).filePath(QStringLiteral(".tavrelle-XXXXXX.part")));
    if (m_file->open())
        return true;
    m_problem = QStringLiteral("保存先に書き込めません (%1)").arg(m_file->errorString());
    m_file.reset();
    return false;
}

void IncomingHandout::take(QByteArrayView &data)
{
    const QByteArrayView part = data.first(qsizetype(qMin<qint64>(remaining(), data.size())));
    data = data.sliced(part.size());
    m_received += part.size();
    if (!m_file)
        return;
    if (m_file->write(part.data(), part.size()) != part.size()) {
        m_problem = QStringLiteral("保存先に書き込めません (%1)").arg(m_file->errorString());
        m_file.reset();
        return;
    }
    m_hash.addData(part);
}

Result<QString> IncomingHandout::finish()
{
    if (!m_problem.isEmpty())
        return Result<QString>::failure(m_problem);
    if (m_announced != m_entry.size)
        return Result<QString>::failure(QStringLiteral("大きさが一覧と違います"));
    if (m_hash.result().toHex() != m_entry.sha256)
        return Result<QString>::failure(QStringLiteral("SHA-256が一覧と違います"));
    if (!m_file->flush())
        return Result<QString>::failure(
            QStringLiteral("保存先に書き込めません (%1)").arg(m_file->errorString()));
    return putInPlace();
}

Result<QString> IncomingHandout::putInPlace()
{
    const QDir dir(m_folder);
    for (int number = 1; number <= MaxNumber; ++number) {
        const QString name = numberedName(m_entry.fileName, number);
        // rename() never replaces a file: one that appeared meanwhile is kept.
        if (!QFileInfo::exists(dir.filePath(name)) && m_file->rename(dir.filePath(name))) {
            m_file->setAutoRemove(false);
            m_file->close();
            QFile::setPermissions(dir.filePath(name), QFile::ReadOwner | QFile::WriteOwner |
                                                          QFile::ReadGroup | QFile::ReadOther);
            return name;
        }
    }
    return Result<QString>::failure(QStringLiteral("空いているファイル名がありません"));
}
