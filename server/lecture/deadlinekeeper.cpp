#include "server/lecture/deadlinekeeper.h"

#include "common/clock.h"
#include "server/lecture/lecture.h"

#include <QDir>
#include <QStandardPaths>

namespace {

bool sameFolder(const QString &one, const QString &other)
{
    return QDir::cleanPath(one) == QDir::cleanPath(other);
}

// Set today, or some time of it still to come.
bool holds(const QDate &setOn, const AssignmentDeadline &deadline, const QDateTime &now)
{
    if (setOn == now.date())
        return true;
    const QDateTime last = qMax(deadline.due, deadline.cutoff);
    return !last.isValid() || last >= now;
}

QString setOnText(const QDate &setOn)
{
    return setOn.isValid() ? setOn.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" に")
                           : QStringLiteral("以前に");
}

} // namespace

DeadlineKeeper::DeadlineKeeper(Lecture &lecture, QString storePath, QObject *parent)
    : QObject(parent), m_lecture(lecture), m_store(std::move(storePath))
{
    connect(&m_lecture, &Lecture::kadaidirChanged, this, &DeadlineKeeper::folderChosen);
    connect(&m_lecture, &Lecture::rosterDeadlineRead, this, &DeadlineKeeper::rosterRead);
    connect(&m_lecture, &Lecture::rosterStudentDeadlinesRead, this,
            &DeadlineKeeper::rosterStudentsRead);
}

QString DeadlineKeeper::defaultStorePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/deadlines.txt");
}

void DeadlineKeeper::apply(const AssignmentDeadline &deadline, const QString &why)
{
    m_lecture.setDeadline(deadline);
    if (!why.isEmpty())
        Q_EMIT logEntry(why + describeDeadline(deadline));
}

void DeadlineKeeper::dropPassed(FolderDeadlines &entry)
{
    const QDateTime now = Clock::now();
    if (entry.assignment && !holds(entry.assignment->setOn, entry.assignment->set, now)) {
        Q_EMIT logEntry(
            QStringLiteral("%1設定した締切 (%2) は過ぎているため使いません｡")
                .arg(setOnText(entry.assignment->setOn), describeDeadline(entry.assignment->set)));
        entry.assignment.reset();
    }
    for (qsizetype i = entry.students.size() - 1; i >= 0; --i) {
        const StudentDeadline &own = entry.students[i];
        if (holds(own.setOn, own.deadline, now))
            continue;
        Q_EMIT logEntry(
            QStringLiteral("%1設定した %2 の個別の締切 (%3) は過ぎているため使いません｡")
                .arg(setOnText(own.setOn), own.userId, own.text()));
        entry.students.removeAt(i);
    }
}

FolderDeadlines DeadlineKeeper::heldFor(const QString &folder)
{
    QHash<QString, FolderDeadlines> entries = m_store.load();
    const QString key = DeadlineStore::keyOf(folder);
    FolderDeadlines entry = entries.value(key);
    const FolderDeadlines before = entry;
    dropPassed(entry);
    if (entry.students.size() != before.students.size() ||
        entry.assignment.has_value() != before.assignment.has_value()) {
        entries.insert(key, entry);
        if (entry.isEmpty())
            entries.remove(key);
        save(entries);
    }
    return entry;
}

void DeadlineKeeper::applyStudents(const FolderDeadlines &entry)
{
    QList<StudentDeadline> inForce;
    if (sameFolder(m_lecture.kadaidir(), m_rosterFolder))
        inForce = m_rosterStudents;
    for (const StudentDeadline &own : entry.students) {
        inForce.removeIf(
            [&own](const StudentDeadline &other) { return other.userId == own.userId; });
        inForce.append(own);
    }
    QHash<QString, StudentDeadline> byId;
    for (const StudentDeadline &own : std::as_const(inForce))
        byId.insert(own.userId, own);
    if (byId == m_lecture.studentDeadlines())
        return;
    m_lecture.setStudentDeadlines(inForce);
    for (const StudentDeadline &own : inForce)
        Q_EMIT logEntry(QStringLiteral("個別の締切 %1: %2").arg(own.userId, own.text()));
}

void DeadlineKeeper::folderChosen(const QString &folder)
{
    const FolderDeadlines entry = heldFor(folder);
    const AssignmentDeadline set = entry.assignment ? entry.assignment->set : AssignmentDeadline();
    if (!(set == m_lecture.deadline()))
        apply(set, QStringLiteral("課題提出先の締切: "));
    applyStudents(entry);
}

void DeadlineKeeper::rosterRead(const QString &simekiri, const QString &uketuke)
{
    const DeadlineReading reading = readDeadline(simekiri, uketuke, Clock::now());
    for (const QString &warning : reading.warnings)
        Q_EMIT logEntry(warning);
    m_rosterFolder = m_lecture.kadaidir();
    m_rosterPlan = reading.deadline;
    const FolderDeadlines stored = heldFor(m_rosterFolder);
    if (stored.assignment && stored.assignment->plan == m_rosterPlan)
        apply(stored.assignment->set, QStringLiteral("課題提出先に設定した締切を使います: "));
    else if (!m_rosterPlan.isEmpty())
        apply(m_rosterPlan, QStringLiteral("受講ﾌｧｲﾙの締切を使います: "));
    else
        apply(m_rosterPlan, QString());
}

void DeadlineKeeper::rosterStudentsRead(const QList<StudentDeadline> &students)
{
    m_rosterStudents = students;
    applyStudents(heldFor(m_lecture.kadaidir()));
}

QList<StudentDeadline> DeadlineKeeper::windowStudents() const
{
    QList<StudentDeadline> set;
    for (const StudentDeadline &own : m_lecture.studentDeadlines()) {
        if (!own.fromRoster)
            set.append(own);
    }
    return set;
}

void DeadlineKeeper::change(const AssignmentDeadline &deadline)
{
    change(deadline, windowStudents());
}

void DeadlineKeeper::change(const AssignmentDeadline &deadline,
                            const QList<StudentDeadline> &students)
{
    apply(deadline, QStringLiteral("締切を設定しました: "));
    const QDateTime now = Clock::now();
    if (deadline.due.isValid() && deadline.due < now)
        Q_EMIT logEntry(
            QStringLiteral("締切 %1 は既に過ぎています｡これからの提出はすべて締切後になります｡")
                .arg(deadlineTimeText(deadline.due)));
    FolderDeadlines entry;
    for (StudentDeadline own : students) {
        if (own.fromRoster)
            continue;
        own.reason = plainReason(own.reason);
        if (!own.deadline.cutoff.isValid())
            own.deadline.cutoff = own.deadline.due;
        own.setOn = now.date();
        entry.students.append(own);
    }
    const QString folder = m_lecture.kadaidir();
    entry.assignment = {deadline, {}, now.date()};
    QHash<QString, FolderDeadlines> entries = m_store.load();
    const QString key = DeadlineStore::keyOf(folder);
    if (sameFolder(folder, m_rosterFolder))
        entry.assignment->plan = m_rosterPlan;
    else if (entries.value(key).assignment)
        entry.assignment->plan = entries.value(key).assignment->plan;
    applyStudents(entry);
    if (folder.isEmpty())
        return;
    entries.insert(key, entry);
    save(entries);
}

void DeadlineKeeper::save(const QHash<QString, FolderDeadlines> &entries)
{
    if (const Result<> saved = m_store.save(entries, m_lecture.kadaidir()); !saved)
        Q_EMIT logEntry(QStringLiteral("締切を %1 に保存できません: %2")
                            .arg(QDir::toNativeSeparators(m_store.path()), saved.error()));
}
