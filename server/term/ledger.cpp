#include "server/term/ledger.h"

#include "common/cp932.h"
#include "common/readvar.h"
#include "server/lecture/rosterfile.h"
#include "server/records/journalreader.h"
#include "server/records/lecturejournal.h"
#include "server/term/ledgercorrections.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace {

constexpr int SecondsPerMinute = 60;
const QString NotOnRoster = QStringLiteral("(名簿外)");

using FirstMarks = QHash<QString, int>; // user ID -> seconds of the first mark

// The earliest mark of every student in the journals of one date; false
// when none of them is a journal of the lecture.
bool readFirstMarks(const QStringList &paths, const QString &lectureName, FirstMarks &marks,
                    QStringList &problems)
{
    bool any = false;
    std::optional<JournalReader> earlier; // the last file of the same folder
    for (const QString &path : paths) {
        JournalReader reader(path, lectureName);
        // The files of a session in one folder follow each other.
        if (earlier && QFileInfo(earlier->path()).path() == QFileInfo(path).path())
            reader.continueAfter(*earlier);
        const Result<> read = reader.read([&marks](const JournalReader::Mark &mark) {
            const auto it = marks.constFind(mark.userId);
            if (it == marks.cend() || *it > mark.seconds)
                marks.insert(mark.userId, mark.seconds);
        });
        if (!read) {
            problems << QStringLiteral("%1 を読めません: %2")
                            .arg(QDir::toNativeSeparators(path), read.error());
            continue;
        }
        if (!reader.isOfLecture()) {
            problems
                << QStringLiteral("%1 は講義「%2」の記録ではありません").arg(path, lectureName);
            continue;
        }
        any = true;
        problems << reader.problems();
        earlier = std::move(reader);
    }
    return any;
}

// Tenths of a percent, rounded half up, of num ÷ den (both ≥ 0, den > 0).
QString percentOf(long long numerator, long long denominator)
{
    const long long tenths = (numerator * 2000 + denominator) / (denominator * 2);
    return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
}

} // namespace

QString statusLetter(SessionStatus status)
{
    switch (status) {
    case SessionStatus::Present:
        return QStringLiteral("出");
    case SessionStatus::Late:
        return QStringLiteral("遅");
    case SessionStatus::Absent:
        return QStringLiteral("欠");
    case SessionStatus::Excused:
        return QStringLiteral("公");
    }
    return {};
}

SessionStatus statusOfMark(int seconds, const CourseSettings &settings)
{
    if (!settings.start())
        return SessionStatus::Present;
    const int start = settings.start()->msecsSinceStartOfDay() / 1000;
    if (seconds <= start + settings.onTimeMinutes() * SecondsPerMinute)
        return SessionStatus::Present;
    if (seconds <= start + settings.absentAfterMinutes() * SecondsPerMinute)
        return SessionStatus::Late;
    return SessionStatus::Absent;
}

LedgerTotals totalsOf(const std::vector<LedgerCell> &cells, const CourseSettings &settings)
{
    LedgerTotals totals;
    for (const LedgerCell &cell : cells) {
        switch (cell.status) {
        case SessionStatus::Present:
            ++totals.present;
            break;
        case SessionStatus::Late:
            ++totals.late;
            break;
        case SessionStatus::Absent:
            ++totals.absent;
            break;
        case SessionStatus::Excused:
            ++totals.excused;
            break;
        }
    }
    totals.counted = int(cells.size()) - totals.excused;
    // Everything in units of 1/t of a session, t the lates per absence, so
    // that a third of an absence is counted exactly.
    const long long t = settings.latesPerAbsence() > 0 ? settings.latesPerAbsence() : 1;
    const long long absences =
        totals.absent * t + (settings.latesPerAbsence() > 0 ? totals.late : 0);
    const long long counted = totals.counted * t;
    totals.rate = counted > 0 ? percentOf(counted - absences, counted) : QStringLiteral("-");
    const long long allowed = settings.allowedAbsences(totals.excused) * t;
    totals.eligible = absences <= allowed;
    totals.absencesLeft = totals.eligible ? int((allowed - absences) / t) : 0;
    totals.atRisk = totals.eligible && totals.absencesLeft <= 1;
    return totals;
}

QString Ledger::averageRate() const
{
    double sum = 0;
    int students = 0;
    for (int i = 0; i < rosterRows; ++i) {
        if (rows[size_t(i)].totals.counted == 0)
            continue;
        sum += rows[size_t(i)].totals.rate.toDouble();
        ++students;
    }
    return students ? QString::number(sum / students, 'f', 1) : QStringLiteral("-");
}

int Ledger::notEligible() const
{
    return int(std::count_if(rows.begin(), rows.begin() + rosterRows,
                             [](const LedgerRow &row) { return !row.totals.eligible; }));
}

int Ledger::atRisk() const
{
    return int(std::count_if(rows.begin(), rows.begin() + rosterRows,
                             [](const LedgerRow &row) { return row.totals.atRisk; }));
}

Result<LedgerSource> readLedgerRoster(const QString &path, QDate today)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Result<LedgerSource>::failure(
            QStringLiteral("受講ﾌｧｲﾙ %1 を読めません: %2").arg(path, file.errorString()));
    const QString text = cp932::decode(file.readAll());
    LedgerSource source;
    source.lectureName = SettingsText(text).value(QStringLiteral("kougimei"));
    const StudentBlock block = readStudentBlock(text);
    if (source.lectureName.isEmpty() || block.status != StudentBlock::Loaded)
        return Result<LedgerSource>::failure(
            QStringLiteral("%1 は有効な受講者データではありません").arg(path));
    for (int i = 0; i < block.studentCount; ++i)
        source.students.push_back({block.rows[size_t(i)][RosterGrid::UserId],
                                   block.rows[size_t(i)][RosterGrid::UserName]});
    source.settings = CourseSettings::fromText(text, today);
    source.from = source.settings.from();
    source.to = source.settings.to();
    source.journalFolders << LectureJournal::folder();
    return source;
}

namespace {

// A session is a date with a journal of the lecture, or one the lecturer
// added; a dropped date is none.
std::map<QDate, FirstMarks> readSessions(const LedgerSource &source,
                                         const LedgerCorrections &corrections,
                                         QStringList &problems)
{
    const LectureJournals journals =
        findLectureJournals(source.lectureName, source.journalFolders, source.from, source.to);
    problems << journals.problems;
    std::map<QDate, FirstMarks> marksByDate;
    for (const auto &[date, paths] : journals.byDate) {
        if (corrections.droppedSessions().count(date))
            continue;
        FirstMarks marks;
        if (readFirstMarks(paths, source.lectureName, marks, problems))
            marksByDate[date] = std::move(marks);
    }
    for (const QDate date : corrections.addedSessions())
        if (date >= source.from && date <= source.to)
            marksByDate.try_emplace(date);
    return marksByDate;
}

// IDs with a mark that the roster does not hold, in order.
std::set<QString> strangersIn(const std::map<QDate, FirstMarks> &marksByDate,
                              const std::vector<RosterStudent> &students)
{
    QSet<QString> rosterIds;
    for (const RosterStudent &student : students)
        rosterIds.insert(student.userId);
    std::set<QString> strangers;
    for (const auto &[date, marks] : marksByDate)
        for (auto mark = marks.cbegin(); mark != marks.cend(); ++mark)
            if (!rosterIds.contains(mark.key()))
                strangers.insert(mark.key());
    return strangers;
}

void fillRow(LedgerRow &row, const QList<QDate> &sessions,
             const std::vector<const FirstMarks *> &marks, const LedgerSource &source,
             const LedgerCorrections &corrections)
{
    row.cells.resize(size_t(sessions.size()));
    for (qsizetype s = 0; s < sessions.size(); ++s) {
        LedgerCell &cell = row.cells[size_t(s)];
        cell.markSeconds = marks[size_t(s)]->value(row.userId, -1);
        if (cell.markSeconds >= 0)
            cell.status = statusOfMark(cell.markSeconds, source.settings);
        if (const auto correction = corrections.cell(sessions[s], row.userId)) {
            cell.status = correction->status;
            cell.corrected = true;
        }
    }
    row.totals = totalsOf(row.cells, source.settings);
}

} // namespace

namespace {

// The corrections files beside the other machines' journal folders, read
// after this machine's in the order the folders were named.
LedgerCorrections withOtherCorrections(const LedgerSource &source, const LedgerCorrections &own,
                                       Ledger &ledger)
{
    LedgerCorrections all = own;
    const QFileInfo ownFile(LedgerCorrections::pathFor(source.lectureName));
    for (const QString &folder : source.journalFolders) {
        const QString path = QDir(folder).filePath(ownFile.fileName());
        const QFileInfo file(path);
        if (file.absoluteFilePath() == ownFile.absoluteFilePath() || !file.exists())
            continue;
        const Result<> merged = all.merge(path, source.lectureName);
        if (!merged)
            ledger.problems << QStringLiteral("出席簿の訂正 %1 を読めません: %2")
                                   .arg(QDir::toNativeSeparators(path), merged.error());
        else
            ledger.notes << all.describeFrom(path);
    }
    ledger.problems << all.problems().mid(own.problems().size());
    return all;
}

// No session in the period: the lecture's journals of other dates, if any,
// are named, so that a period that missed them is seen.
void nameJournalsOutside(const LedgerSource &source, Ledger &ledger)
{
    constexpr qsizetype Named = 20;
    const LectureJournals all = findLectureJournals(source.lectureName, source.journalFolders,
                                                    QDate(1, 1, 1), QDate(9999, 12, 31));
    QStringList dates;
    for (const auto &entry : all.byDate)
        if (entry.first < source.from || entry.first > source.to)
            dates << entry.first.toString(QStringLiteral("yyyy/MM/dd"));
    if (dates.isEmpty())
        return;
    QString named = dates.mid(0, Named).join(QStringLiteral(", "));
    if (dates.size() > Named)
        named += QStringLiteral(" ほか %1 日").arg(dates.size() - Named);
    ledger.problems << QStringLiteral("期間 %1〜%2 に授業がありません｡この講義の記録は期間の外の "
                                      "%3 日分です: %4")
                           .arg(source.from.toString(QStringLiteral("yyyy/MM/dd")),
                                source.to.toString(QStringLiteral("yyyy/MM/dd")))
                           .arg(dates.size())
                           .arg(named);
}

} // namespace

Ledger buildLedger(const LedgerSource &source, const LedgerCorrections &ownCorrections)
{
    Ledger ledger;
    const LedgerCorrections corrections = withOtherCorrections(source, ownCorrections, ledger);
    const std::map<QDate, FirstMarks> marksByDate =
        readSessions(source, corrections, ledger.problems);
    if (marksByDate.empty())
        nameJournalsOutside(source, ledger);
    std::vector<const FirstMarks *> marks;
    for (const auto &[date, firstMarks] : marksByDate) {
        ledger.sessions << date;
        marks.push_back(&firstMarks);
    }
    const std::set<QString> strangers = strangersIn(marksByDate, source.students);
    ledger.rows.reserve(source.students.size() + strangers.size());
    for (const RosterStudent &student : source.students)
        ledger.rows.push_back({student.userId, student.name, true, {}, {}});
    ledger.rosterRows = int(source.students.size());
    for (const QString &userId : strangers)
        ledger.rows.push_back({userId, NotOnRoster, false, {}, {}});
    for (LedgerRow &row : ledger.rows)
        fillRow(row, ledger.sessions, marks, source, corrections);
    return ledger;
}
