#include "server/lecture/deadlinekeeper.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "common/lines.h"
#include "server/lecture/lecture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

// key,due,cut-off,roster due,roster cut-off,folder (the folder for people
// reading the file; the key is its hash, whatever the code page can hold).
constexpr int FieldCount = 6;

QDateTime timeOf(const QString &text)
{
    return parseDeadlineTime(text, QDate()).value_or(QDateTime());
}

QString describe(const AssignmentDeadline &deadline)
{
    if (deadline.isEmpty())
        return QStringLiteral("締切なし");
    QStringList parts;
    if (deadline.due.isValid())
        parts << QStringLiteral("締切 ") + deadlineTimeText(deadline.due);
    if (deadline.cutoff.isValid())
        parts << QStringLiteral("受付締切 ") + deadlineTimeText(deadline.cutoff);
    return parts.join(QStringLiteral("、"));
}

} // namespace

DeadlineKeeper::DeadlineKeeper(Lecture &lecture, QString storePath, QObject *parent)
    : QObject(parent), m_lecture(lecture), m_storePath(std::move(storePath))
{
    connect(&m_lecture, &Lecture::kadaidirChanged, this, &DeadlineKeeper::folderChosen);
    connect(&m_lecture, &Lecture::rosterDeadlineRead, this, &DeadlineKeeper::rosterRead);
}

QString DeadlineKeeper::defaultStorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/deadlines.txt");
}

QString DeadlineKeeper::keyOf(const QString &folder)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QDir::cleanPath(folder).toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16));
}

void DeadlineKeeper::apply(const AssignmentDeadline &deadline, const QString &why)
{
    m_lecture.setDeadline(deadline);
    if (!why.isEmpty())
        Q_EMIT logEntry(why + describe(deadline));
}

void DeadlineKeeper::folderChosen(const QString &folder)
{
    const Entry entry = load().value(keyOf(folder));
    if (!(entry.set == m_lecture.deadline()))
        apply(entry.set, QStringLiteral("課題提出先の締切: "));
}

void DeadlineKeeper::rosterRead(const QString &simekiri, const QString &uketuke)
{
    const DeadlineReading reading = readDeadline(simekiri, uketuke, Clock::now());
    for (const QString &warning : reading.warnings)
        Q_EMIT logEntry(warning);
    m_rosterFolder = m_lecture.kadaidir();
    m_rosterPlan = reading.deadline;
    const QHash<QString, Entry> entries = load();
    const auto stored = entries.constFind(keyOf(m_rosterFolder));
    if (stored != entries.cend() && stored->plan == m_rosterPlan)
        apply(stored->set, QStringLiteral("課題提出先に設定した締切を使います: "));
    else if (!m_rosterPlan.isEmpty())
        apply(m_rosterPlan, QStringLiteral("受講ﾌｧｲﾙの締切を使います: "));
    else
        apply(m_rosterPlan, QString());
}

void DeadlineKeeper::change(const AssignmentDeadline &deadline)
{
    apply(deadline, QStringLiteral("締切を設定しました: "));
    if (deadline.due.isValid() && deadline.due < Clock::now())
        Q_EMIT logEntry(
            QStringLiteral("締切 %1 は既に過ぎています｡これからの提出はすべて締切後になります｡")
                .arg(deadlineTimeText(deadline.due)));
    const QString folder = m_lecture.kadaidir();
    if (folder.isEmpty())
        return;
    QHash<QString, Entry> entries = load();
    Entry &entry = entries[keyOf(folder)];
    entry.set = deadline;
    if (QDir::cleanPath(folder) == QDir::cleanPath(m_rosterFolder))
        entry.plan = m_rosterPlan;
    save(entries);
}

QHash<QString, DeadlineKeeper::Entry> DeadlineKeeper::load() const
{
    QHash<QString, Entry> entries;
    QFile file(m_storePath);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    const QString text = cp932::decode(file.readAll());
    for (QStringView line : splitLines(text)) {
        const QList<QStringView> fields = line.split(u',');
        if (fields.size() < FieldCount)
            continue;
        entries.insert(fields[0].toString(),
                       {{timeOf(fields[1].toString()), timeOf(fields[2].toString())},
                        {timeOf(fields[3].toString()), timeOf(fields[4].toString())}});
    }
    return entries;
}

void DeadlineKeeper::save(const QHash<QString, Entry> &entries)
{
    // The folder names are only for reading: they are kept from the file.
    QHash<QString, QString> folders;
    QFile old(m_storePath);
    const QString text = old.open(QIODevice::ReadOnly) ? cp932::decode(old.readAll()) : QString();
    for (QStringView line : splitLines(text)) {
        const qsizetype key = line.indexOf(u',');
        qsizetype folder = key;
        for (int field = 2; field < FieldCount && folder >= 0; ++field)
            folder = line.indexOf(u',', folder + 1);
        if (folder >= 0)
            folders.insert(line.first(key).toString(), line.sliced(folder + 1).toString());
    }
    folders.insert(keyOf(m_lecture.kadaidir()), m_lecture.kadaidir());
    QByteArray bytes;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        const QStringList fields{it.key(),
                                 deadlineTimeText(it->set.due),
                                 deadlineTimeText(it->set.cutoff),
                                 deadlineTimeText(it->plan.due),
                                 deadlineTimeText(it->plan.cutoff),
                                 folders.value(it.key())};
        bytes += cp932::encode(fields.join(u',') + QStringLiteral("\r\n"));
    }
    QDir().mkpath(QFileInfo(m_storePath).absolutePath());
    QSaveFile file(m_storePath);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        Q_EMIT logEntry(QStringLiteral("締切を %1 に保存できません: %2")
                            .arg(QDir::toNativeSeparators(m_storePath), file.errorString()));
}
