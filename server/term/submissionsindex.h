#pragma once

#include "server/folders/hashcache.h"
#include "server/term/receiptfolder.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstring>
#include <functional>

// A stored upload as the lecture journal recorded it (its 提出 line).
struct Receipt
{
    QString userId;
    QString fileName;
    qint64 size = 0;
    QByteArray sha256; // 64 hex digits
    QDateTime completedAt;
    qint64 lateSeconds = 0;
    QString folder;    // empty in journals of older builds
    QString refusal{}; // the reason, for a put line refused (拒否): nothing was stored
    // A 返却 line instead: the file went back to the student in `lecture`.
    bool returned = false;
    QString lecture = {};
};

// The 提出, 拒否 and 返却 lines of one journal. `day`: the journal's date, for
// lines that carry only the time of day.
QList<Receipt> readReceipts(QByteArrayView journal, QDate day);
// The receipts of every journal (*.txt) in `folder`, the day from the file
// name, handed to `take` a bounded batch at a time.
void readReceiptsIn(const QString &folder, const std::function<void(const QList<Receipt> &)> &take);

// One file a student handed in to an assignment folder (the receipt of
// the version in the folder now), or a put line of theirs refused.
struct SubmissionRow
{
    enum Check { NoReceipt, Match, Changed, Missing, Refused };

    QString userId;
    QString userName;
    bool inRoster = true;
    Receipt receipt;       // valid when check is not NoReceipt
    int versions = 0;      // kept in the folder: the current file and its history
    QStringList identical; // other IDs whose current file has the same bytes
    Check check = NoReceipt;
    QByteArray currentSha256; // of the file in the folder now
    QString ownDeadline;      // the student's own deadline, as 個別締切 shows it
    bool returned = false;    // work went back to the student in this lecture

    static QString checkText(Check check);
};

// The submissions to one assignment folder at a glance: per roster student
// in roster order, then per ID that is not in the roster, one row for each
// file name handed in (in the order first handed in) and one for each name
// refused after the cut-off; a student with neither has one empty row.
// A row shows the receipt of the version now in the folder, told by its
// hash, not by the latest time (the clock may have been set back); when no
// receipt has the file's hash, the latest. Hashes come from the receipts; a
// file is read again only when no receipt has its size and a time close to
// its own. Files identical to a handout (`excluded` SHA-256 values) and
// empty files form no group. Receipts belong here as ReceiptFolder says.
class SubmissionsIndex
{
public:
    struct Student
    {
        QString id;
        QString name;
        QString ownDeadline = {}; // StudentDeadline::text(); empty: the assignment's
    };

    SubmissionsIndex(QString folder, QList<Student> students);
    void addReceipts(const QList<Receipt> &receipts);
    void setExcludedHashes(QSet<QByteArray> hashes) { m_excluded = std::move(hashes); }
    // The lecture whose returns count.
    void setLecture(const QString &lecture) { m_lecture = lecture; }

    QList<SubmissionRow> build(HashCache &cache) const;

    const QString &folder() const { return m_folder; }

private:
    // A SHA-256 in hex as a key. Its digits are spread evenly already: the
    // first sixteen place it in the table without hashing all 64 on every
    // receipt (a file keeps few versions, so crafted digits cost little).
    struct Sha256Key
    {
        QByteArray hex;
        friend bool operator==(const Sha256Key &, const Sha256Key &) = default;
        friend size_t qHash(const Sha256Key &key, size_t seed) noexcept
        {
            quint64 prefix = 0;
            std::memcpy(&prefix, key.hex.constData(), size_t(qMin<qsizetype>(8, key.hex.size())));
            return size_t((prefix ^ seed) * 0x9e3779b97f4a7c15ULL);
        }
    };
    // The receipts of one file name, one per distinct hash (the latest).
    struct HandedIn
    {
        QString fileName;
        QHash<Sha256Key, Receipt> receipts;
        const Receipt &latest() const;
    };
    void add(const Receipt &receipt);
    void addTo(HandedIn &file, const Receipt &receipt) const;
    void rowsOf(const QString &id, const QString &name, bool inRoster, QList<SubmissionRow> &rows,
                HashCache &cache, const QString &ownDeadline = {}) const;
    void check(SubmissionRow &row, const HandedIn &file, HashCache &cache) const;
    void groupIdentical(QList<SubmissionRow> &rows) const;

    struct Handing
    {
        QList<HandedIn> files;
        QList<Receipt> refusals; // the latest per file name
    };
    ReceiptFolder m_where;
    QString m_folder;
    QList<Student> m_students;
    QHash<QString, Handing> m_handed; // per user ID
    QStringList m_order;              // user IDs as they first handed in
    QSet<QByteArray> m_excluded;
    QString m_lecture;
    QSet<QString> m_returned; // user IDs
};

// The heading and the rows as the CSV and the window show them.
QStringList submissionsHeading();
QStringList submissionCells(const SubmissionRow &row);
// The same for a file or the clipboard: text cells kept as text (textCell).
QStringList exportedSubmissionCells(const SubmissionRow &row);
// CP932, CR LF, a field with "," or '"' or a line end in double quotes.
QByteArray submissionsCsv(const QList<SubmissionRow> &rows);
