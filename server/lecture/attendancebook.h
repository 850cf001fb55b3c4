#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class RosterGrid;

// What a student's claims do to the roster: attendance marks and submission
// stamps in the grid, and the answer the student gets. The conversation asks;
// the book decides and writes.
//
// Any program can claim any login ID, so the book also watches for claims
// that look like someone answering for someone else: two students marked
// present from one address, or a student present claiming again from
// another address. Those rows are flagged for the lecturer; the answers to
// the students stay the same.
class AttendanceBook : public QObject
{
    Q_OBJECT
public:
    enum class Attendance { Taken, Already, Unknown };
    // What a claim did: the row it marked or found, and whether it came
    // from an address new for a student already present.
    struct Claim
    {
        Attendance attendance = Attendance::Unknown;
        int row = -1;
        bool furtherAddress = false;
    };

    struct Submission
    {
        QString userId;
        QString fileName;
        qint64 size = 0;
        QByteArray sha256;          // 64 hex digits
        QDateTime completedAt = {}; // by the lecturer's clock
        qint64 lateSeconds = 0;     // after the due time; 0: on time or no due time
        int versions = 1;           // versions of the file kept, this one included
        QString folder = {};        // where it was stored
        // Set when the upload began in a lecture other than the one open
        // now: the receipt belongs to that one, and the table is not its.
        std::optional<QString> earlierLecture = std::nullopt;
    };

    explicit AttendanceBook(RosterGrid &grid, QObject *parent = nullptr);
    ~AttendanceBook() override;

    // Rooms where students share a machine or an address switch it off.
    void setProxyCheck(bool on) { m_proxyCheck = on; }

    // Marks `userId` present from `address` at `time` unless already recorded.
    Claim claim(const QString &userId, const QString &address, const QString &time);
    // claim() at the time of day now.
    Attendance markPresent(const QString &userId, const QString &address);
    // Stamps the submission time (of completedAt, or now without one) in the
    // student's row, if there is one and the upload began in this lecture.
    void recordSubmission(const Submission &submission);
    // A put line turned away before anything was stored (after the cut-off).
    void recordRefusal(const QString &userId, const QString &fileName, const QString &reason,
                       const QString &time);
    // A claim of an ID the roster does not hold, answered 501 and journaled.
    void noteOffRoster(const QString &userId, const QString &address, const QString &time)
    {
        Q_EMIT claimedOffRoster(userId, address, time);
    }
    bool inRoster(const QString &userId) const;
    // The student a file name belongs to: the longest roster ID the name
    // begins with followed by one of `separators`; empty when it is nobody's.
    QString ownerOf(const QString &fileName, QStringView separators = u".") const;

    // Puts back what an earlier run recorded, without announcing it again.
    // False when the ID is not in the roster. An earlier mark wins over one
    // taken since the roster was opened; that address then counts as a
    // further one.
    bool restoreMark(const QString &userId, const QString &time, const QString &address);
    bool restoreClaim(const QString &userId, const QString &address);
    bool restoreSubmission(const QString &userId, const QString &time, qint64 lateSeconds = 0);
    // Flags every row again from the addresses recorded for each student.
    void refreshFlags();

Q_SIGNALS:
    void marked(int row, const QString &userId, const QString &time, const QString &address);
    // A student already present claimed again from another address.
    void claimedAgain(int row, const QString &userId, const QString &address, const QString &time);
    void claimedOffRoster(const QString &userId, const QString &address, const QString &time);
    void submitted(const AttendanceBook::Submission &submission, const QString &time);
    void refused(const QString &userId, const QString &fileName, const QString &reason,
                 const QString &time);
    void logEntry(const QString &entry);

private:
    void forget();
    // Runs `write` on the student's row; false when the ID is not in the roster.
    bool inRowOf(const QString &userId, const std::function<void(int row)> &write);
    void notePresent(const QString &userId, const QString &address);
    bool noteFurtherAddress(const QString &userId, const QString &address);
    void flagRowOf(const QString &userId);
    QString noteFor(int row) const;
    static QString listed(const QStringList &ids);

    RosterGrid &m_grid;
    bool m_proxyCheck = true;
    // What was recorded, per user ID: the flags are worked out from these.
    QHash<QString, QString> m_firstAddress;
    QHash<QString, QStringList> m_idsByAddress;   // present students per first address
    QHash<QString, QStringList> m_otherAddresses; // further addresses an ID was claimed from
};
