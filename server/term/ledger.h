#pragma once

#include "common/result.h"
#include "server/term/coursesettings.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

class LedgerCorrections;

// How a student stood at one session.
enum class SessionStatus : char { Present, Late, Absent, Excused };
QString statusLetter(SessionStatus status); // 出 遅 欠 公

// A student's totals over the sessions so far.
struct LedgerTotals
{
    int present = 0;
    int late = 0;
    int absent = 0;
    int excused = 0;
    int counted = 0;      // S: sessions − 公
    QString rate;         // (S − A) ÷ S in percent, one decimal; "-" while S is 0
    bool eligible = true; // 受験資格: A ≤ allowed absences
    int absencesLeft = 0; // ⌊allowed − A⌋, 0 when negative
    bool atRisk = false;  // eligible with at most one absence left
};

struct LedgerCell
{
    SessionStatus status = SessionStatus::Absent;
    int markSeconds = -1; // the first mark of the day, -1 without one
    bool corrected = false;
};

struct LedgerRow
{
    QString userId;
    QString name;
    bool onRoster = true;
    std::vector<LedgerCell> cells; // one per session
    LedgerTotals totals;
};

// The term's attendance of one lecture: a row per student, a column per
// session, built from the journals and the lecturer's corrections.
struct Ledger
{
    QList<QDate> sessions;
    std::vector<LedgerRow> rows; // roster order, then IDs not on the roster
    QStringList problems;        // files and lines passed over
    QStringList notes;           // corrections read beside other folders, with their files
    int rosterRows = 0;

    // Summary over the roster's students.
    QString averageRate() const; // "-" while nobody has a counted session
    int notEligible() const;
    int atRisk() const;
};

struct RosterStudent
{
    QString userId;
    QString name;
};

// What a ledger is built from.
struct LedgerSource
{
    QString lectureName;
    std::vector<RosterStudent> students;
    CourseSettings settings{QDate(2000, 1, 1)};
    QStringList journalFolders;
    QDate from; // the period to take sessions from
    QDate to;
};

// The lecture name, the students and the course keys of the roster file at
// `path`, with this machine's journal folder and the term of the keys. Fails
// with a text to show when the file cannot be read or holds no roster.
Result<LedgerSource> readLedgerRoster(const QString &path, QDate today);

Ledger buildLedger(const LedgerSource &source, const LedgerCorrections &corrections);

// The status a mark at `seconds` after midnight earns under `settings`.
SessionStatus statusOfMark(int seconds, const CourseSettings &settings);
// Totals of one row's statuses.
LedgerTotals totalsOf(const std::vector<LedgerCell> &cells, const CourseSettings &settings);
