#include "server/lecture/deadlinestore.h"

#include "common/cp932.h"
#include "common/lines.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString DeadlineTag = QStringLiteral("deadline");
const QString StudentTag = QStringLiteral("enchou");
constexpr int OldFolderField = 5;
constexpr int FolderField = 7;
constexpr int ReasonField = 6;

QDateTime timeOf(QStringView text)
{
    return parseDeadlineTime(text.toString(), QDate()).value_or(QDateTime());
}

QDate dayOf(QStringView text)
{
    return QDate::fromString(text.toString(), QStringLiteral("yyyy-MM-dd"));
}

// The text after the `field`th ",": the last field may hold commas.
QStringView restFrom(QStringView line, int field)
{
    qsizetype at = -1;
    for (int i = 0; i < field; ++i) {
        at = line.indexOf(u',', at + 1);
        if (at < 0)
            return {};
    }
    return line.sliced(at + 1);
}

QHash<QString, QString> folderNames(QStringView text)
{
    QHash<QString, QString> names;
    for (QStringView line : splitLines(text)) {
        const QList<QStringView> fields = line.split(u',');
        if (fields.size() > FolderField && fields[0] == DeadlineTag)
            names.insert(fields[1].toString(), restFrom(line, FolderField).toString());
        else if (fields.size() > OldFolderField && fields[0] != StudentTag)
            names.insert(fields[0].toString(), restFrom(line, OldFolderField).toString());
    }
    return names;
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? cp932::decode(file.readAll()) : QString();
}

} // namespace

QString DeadlineStore::keyOf(const QString &folder)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QDir::cleanPath(folder).toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16));
}

QHash<QString, FolderDeadlines> DeadlineStore::load() const
{
    QHash<QString, FolderDeadlines> entries;
    const QString text = readText(m_path);
    for (QStringView line : splitLines(text)) {
        const QList<QStringView> fields = line.split(u',');
        if (fields.size() > FolderField && fields[0] == DeadlineTag) {
            entries[fields[1].toString()].assignment = {{timeOf(fields[3]), timeOf(fields[4])},
                                                        {timeOf(fields[5]), timeOf(fields[6])},
                                                        dayOf(fields[2])};
        } else if (fields.size() > ReasonField && fields[0] == StudentTag) {
            const AssignmentDeadline own{timeOf(fields[4]), timeOf(fields[5])};
            if (!fields[3].isEmpty() && own.due.isValid() && own.cutoff.isValid())
                entries[fields[1].toString()].students.append(
                    {fields[3].toString(), own, restFrom(line, ReasonField).toString(), false,
                     dayOf(fields[2])});
        } else if (fields.size() > OldFolderField) {
            entries[fields[0].toString()].assignment = {{timeOf(fields[1]), timeOf(fields[2])},
                                                        {timeOf(fields[3]), timeOf(fields[4])},
                                                        QDate()};
        }
    }
    return entries;
}

Result<> DeadlineStore::save(const QHash<QString, FolderDeadlines> &entries,
                             const QString &folder) const
{
    QHash<QString, QString> names = folderNames(readText(m_path));
    names.insert(keyOf(folder), folder);
    const auto day = [](const QDate &date) { return date.toString(QStringLiteral("yyyy-MM-dd")); };
    QStringList lines;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (const std::optional<FolderDeadlines::Assignment> &set = it->assignment)
            lines << QStringList{DeadlineTag,
                                 it.key(),
                                 day(set->setOn),
                                 deadlineTimeText(set->set.due),
                                 deadlineTimeText(set->set.cutoff),
                                 deadlineTimeText(set->plan.due),
                                 deadlineTimeText(set->plan.cutoff),
                                 names.value(it.key())}
                         .join(u',');
        for (const StudentDeadline &own : it->students)
            lines << QStringList{StudentTag,
                                 it.key(),
                                 day(own.setOn),
                                 own.userId,
                                 deadlineTimeText(own.deadline.due),
                                 deadlineTimeText(own.deadline.cutoff),
                                 plainReason(own.reason)}
                         .join(u',');
    }
    QByteArray bytes;
    for (const QString &line : std::as_const(lines))
        bytes += cp932::encode(line + QStringLiteral("\r\n"));
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return Result<>::failure(file.errorString());
    return Result<>::success();
}
