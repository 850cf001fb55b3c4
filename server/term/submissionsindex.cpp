#include "server/term/submissionsindex.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "common/csvtext.h"
#include "server/folders/versionnames.h"
#include "server/records/journalscanner.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

namespace {

// A receipt's time and the stored file's time lie this close when nobody
// touched the file since.
constexpr qint64 SameTimeMs = 3000;

constexpr qsizetype ReceiptsPerBatch = 1024;

// Distinct versions of one file name whose receipts are kept.
constexpr qsizetype MaxVersionsRemembered = 64;

// The receipts of one journal, handed on a bounded batch at a time.
class ReceiptFold : public JournalFold
{
public:
    using Take = std::function<void(const QList<Receipt> &)>;
    ReceiptFold(QDate day, const Take &take) : m_day(day), m_take(take)
    {
        m_batch.reserve(ReceiptsPerBatch);
    }

    bool take(const JournalEvent &event, qint64) override
    {
        if (event.kind == JournalKind::Lecture)
            m_lecture = cp932::decode(event.lecture);
        if (event.kind == JournalKind::Submission)
            m_batch << receiptOf(event);
        if (event.kind == JournalKind::Refusal)
            m_batch << refusalOf(event);
        if (event.kind == JournalKind::Return) {
            m_batch << receiptOf(event);
            m_batch.last().returned = true;
            m_batch.last().lecture = m_lecture;
        }
        if (m_batch.size() >= ReceiptsPerBatch)
            flush();
        return true;
    }
    bool minds(JournalKind) const override { return false; }
    void flush()
    {
        if (m_batch.isEmpty())
            return;
        m_take(m_batch);
        // The batch's room is used again: no growing it receipt by receipt.
        m_batch.clear();
    }

private:
    Receipt receiptOf(const JournalEvent &event)
    {
        Receipt receipt;
        receipt.userId = cp932::decode(event.userId);
        receipt.fileName = cp932::decode(event.fileName);
        receipt.size = event.size;
        receipt.sha256 = event.sha256.toByteArray();
        receipt.completedAt =
            localTime(event.completedOn.isValid() ? event.completedOn : m_day, event.seconds);
        receipt.lateSeconds = event.lateSeconds;
        // One folder on line after line: decoded once.
        if (event.folder != m_folderBytes) {
            m_folderBytes = event.folder.toByteArray();
            m_folder = cp932::decode(event.folder);
        }
        receipt.folder = m_folder;
        return receipt;
    }
    Receipt refusalOf(const JournalEvent &event)
    {
        Receipt refusal = receiptOf(event);
        refusal.refusal = cp932::decode(event.reason);
        // Never empty: the reason tells a refusal from a receipt.
        if (refusal.refusal.isEmpty())
            refusal.refusal = QStringLiteral("拒否");
        return refusal;
    }
    // The local time, its offset from UTC looked up once an hour: a lookup
    // per line asks the time zone (and the file system) millions of times.
    QDateTime localTime(QDate day, int seconds)
    {
        const QTime time = QTime::fromMSecsSinceStartOfDay(seconds * 1000);
        const qint64 hour = day.toJulianDay() * 24 + seconds / 3600;
        if (hour != m_hour) {
            m_hour = hour;
            m_offset = QDateTime(day, QTime(seconds / 3600, 0)).offsetFromUtc();
        }
        return QDateTime(day, time, Qt::OffsetFromUTC, m_offset);
    }

    qint64 m_hour = -1;
    int m_offset = 0;
    QByteArray m_folderBytes;
    QString m_folder;
    QDate m_day;
    const Take &m_take;
    QList<Receipt> m_batch;
    QString m_lecture; // of the journal's first line
};

// Empty when the file cannot be read.
QByteArray hashOfFile(const QString &path, HashCache &cache)
{
    // Not blocking: a pipe put there meanwhile fails the reading at once.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    const std::atomic_bool never{false};
    const Result<FileHash> hashed = cache.hash(fd, never);
    ::close(fd);
    return hashed ? hashed->sha256 : QByteArray();
}

} // namespace

QList<Receipt> readReceipts(QByteArrayView journal, QDate day)
{
    QList<Receipt> receipts;
    const ReceiptFold::Take take = [&receipts](const QList<Receipt> &batch) { receipts += batch; };
    ReceiptFold fold(day, take);
    QByteArray bytes = QByteArray::fromRawData(journal.data(), journal.size());
    QBuffer buffer(&bytes);
    if (buffer.open(QIODevice::ReadOnly))
        JournalScanner(0).scan(buffer, fold);
    fold.flush();
    return receipts;
}

void readReceiptsIn(const QString &folder, const std::function<void(const QList<Receipt> &)> &take)
{
    QDirIterator files(folder, {QStringLiteral("*.txt")}, QDir::Files);
    while (files.hasNext()) {
        const QString path = files.next();
        const QDate day =
            QDate::fromString(QFileInfo(path).fileName().left(10), QStringLiteral("yyyy-MM-dd"));
        ReceiptFold fold(day.isValid() ? day : Clock::today(), take);
        JournalScanner(0).scanFile(path, fold);
        fold.flush();
    }
}

QString SubmissionRow::checkText(Check check)
{
    switch (check) {
    case Match:
        return QStringLiteral("一致");
    case Changed:
        return QStringLiteral("変更あり");
    case Missing:
        return QStringLiteral("なし");
    case Refused:
        return QStringLiteral("拒否");
    case NoReceipt:
        break;
    }
    return {};
}

SubmissionsIndex::SubmissionsIndex(QString folder, QList<Student> students)
    : m_where(folder), m_folder(m_where.path()), m_students(std::move(students))
{}

const Receipt &SubmissionsIndex::HandedIn::latest() const
{
    const Receipt *latest = &*receipts.cbegin();
    for (const Receipt &receipt : receipts) {
        if (receipt.completedAt >= latest->completedAt)
            latest = &receipt;
    }
    return *latest;
}

void SubmissionsIndex::addReceipts(const QList<Receipt> &receipts)
{
    for (const Receipt &receipt : receipts) {
        if (receipt.returned) {
            if (receipt.lecture == m_lecture && !receipt.userId.isEmpty())
                m_returned.insert(receipt.userId);
            continue;
        }
        // A receipt is the student's whose ID it bears; one without an ID
        // is nobody's, whatever its file is called.
        if (!receipt.userId.isEmpty() && m_where.holds(receipt.folder, receipt.fileName))
            add(receipt);
    }
}

void SubmissionsIndex::add(const Receipt &receipt)
{
    auto handing = m_handed.find(receipt.userId);
    if (handing == m_handed.end()) {
        m_order << receipt.userId;
        handing = m_handed.insert(receipt.userId, {});
    }
    if (!receipt.refusal.isEmpty()) {
        QList<Receipt> &refusals = handing->refusals;
        const auto same = std::find_if(refusals.begin(), refusals.end(), [&](const Receipt &r) {
            return r.fileName == receipt.fileName;
        });
        if (same == refusals.end())
            refusals << receipt;
        else if (same->completedAt <= receipt.completedAt)
            *same = receipt;
        return;
    }
    for (HandedIn &file : handing->files) {
        if (file.fileName == receipt.fileName)
            return addTo(file, receipt);
    }
    handing->files.append({receipt.fileName, {{{receipt.sha256}, receipt}}});
}

void SubmissionsIndex::addTo(HandedIn &file, const Receipt &receipt) const
{
    if (const auto known = file.receipts.find({receipt.sha256}); known != file.receipts.end()) {
        if (known->completedAt <= receipt.completedAt)
            *known = receipt;
        return;
    }
    // The version in the folder is one of the last handed in: the earliest
    // go when a file was handed in very often.
    if (file.receipts.size() >= MaxVersionsRemembered)
        file.receipts.erase(std::min_element(
            file.receipts.begin(), file.receipts.end(),
            [](const Receipt &a, const Receipt &b) { return a.completedAt < b.completedAt; }));
    file.receipts.insert({receipt.sha256}, receipt);
}

void SubmissionsIndex::check(SubmissionRow &row, const HandedIn &file, HashCache &cache) const
{
    const QString path = m_folder + u'/' + file.fileName;
    const QFileInfo info(path);
    row.receipt = file.latest();
    row.versions =
        int(versionnames::versionsIn(versionnames::historyFolder(m_folder, file.fileName)).size()) +
        (info.isFile() ? 1 : 0);
    if (!info.isFile()) {
        row.check = SubmissionRow::Missing;
        return;
    }
    // Untouched since a receipt: its size, and a time close to the file's.
    // Two versions of one size within that time cannot be told apart so:
    // then the bytes decide.
    const qint64 modifiedMs = info.lastModified().toMSecsSinceEpoch();
    const Receipt *untouched = nullptr;
    int candidates = 0;
    for (const Receipt &receipt : file.receipts) {
        if (receipt.size == info.size() &&
            qAbs(modifiedMs - receipt.completedAt.toMSecsSinceEpoch()) <= SameTimeMs) {
            untouched = &receipt;
            ++candidates;
        }
    }
    row.currentSha256 = candidates == 1 ? untouched->sha256 : hashOfFile(path, cache);
    row.check = SubmissionRow::Changed;
    if (const auto current = file.receipts.constFind({row.currentSha256});
        current != file.receipts.cend()) {
        row.receipt = *current;
        row.check = SubmissionRow::Match;
    }
}

void SubmissionsIndex::rowsOf(const QString &id, const QString &name, bool inRoster,
                              QList<SubmissionRow> &rows, HashCache &cache,
                              const QString &ownDeadline) const
{
    SubmissionRow row;
    row.userId = id;
    row.userName = name;
    row.ownDeadline = ownDeadline;
    row.inRoster = inRoster;
    row.returned = m_returned.contains(id);
    const auto handing = m_handed.constFind(id);
    if (handing == m_handed.cend()) {
        rows << row;
        return;
    }
    for (const HandedIn &file : handing->files) {
        SubmissionRow fileRow = row;
        check(fileRow, file, cache);
        rows << fileRow;
    }
    for (const Receipt &refusal : handing->refusals) {
        SubmissionRow refused = row;
        refused.receipt = refusal;
        refused.check = SubmissionRow::Refused;
        rows << refused;
    }
}

QList<SubmissionRow> SubmissionsIndex::build(HashCache &cache) const
{
    QList<SubmissionRow> rows;
    QSet<QString> listed;
    for (const Student &student : m_students) {
        rowsOf(student.id, student.name, true, rows, cache, student.ownDeadline);
        listed.insert(student.id);
    }
    for (const QString &id : m_order) {
        if (!listed.contains(id))
            rowsOf(id, QString(), false, rows, cache);
    }
    groupIdentical(rows);
    return rows;
}

void SubmissionsIndex::groupIdentical(QList<SubmissionRow> &rows) const
{
    QHash<QByteArray, QStringList> idsByHash;
    for (const SubmissionRow &row : rows) {
        const bool counts =
            row.check == SubmissionRow::Match || row.check == SubmissionRow::Changed;
        if (counts && row.receipt.size > 0 &&
            QFileInfo(m_folder + u'/' + row.receipt.fileName).size() > 0 &&
            !m_excluded.contains(row.currentSha256) &&
            !idsByHash[row.currentSha256].contains(row.userId))
            idsByHash[row.currentSha256] << row.userId;
    }
    for (SubmissionRow &row : rows) {
        if (row.currentSha256.isEmpty())
            continue;
        QStringList others = idsByHash.value(row.currentSha256);
        if (!others.contains(row.userId))
            continue;
        others.removeAll(row.userId);
        row.identical = others;
    }
}

QStringList submissionsHeading()
{
    return {QStringLiteral("ユーザID"), QStringLiteral("ユーザ名"), QStringLiteral("ファイル名"),
            QStringLiteral("提出時刻"), QStringLiteral("サイズ"),   QStringLiteral("SHA-256"),
            QStringLiteral("締切後秒"), QStringLiteral("版数"),     QStringLiteral("同一"),
            QStringLiteral("照合"),     QStringLiteral("個別締切")};
}

QStringList submissionCells(const SubmissionRow &row)
{
    if (row.check == SubmissionRow::NoReceipt)
        return {row.userId, row.userName, {}, {}, {}, {}, {}, {}, {}, {}, row.ownDeadline};
    const Receipt &receipt = row.receipt;
    // Nothing was stored: the name and when it was refused.
    if (row.check == SubmissionRow::Refused)
        return {row.userId,
                row.userName,
                receipt.fileName,
                receipt.completedAt.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")),
                {},
                {},
                {},
                {},
                {},
                SubmissionRow::checkText(row.check),
                row.ownDeadline};
    return {row.userId,
            row.userName,
            receipt.fileName,
            receipt.completedAt.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")),
            QString::number(receipt.size),
            QString::fromLatin1(receipt.sha256),
            receipt.lateSeconds > 0 ? QString::number(receipt.lateSeconds) : QString(),
            QString::number(row.versions),
            row.identical.join(u' '),
            SubmissionRow::checkText(row.check),
            row.ownDeadline};
}

QStringList exportedSubmissionCells(const SubmissionRow &row)
{
    QStringList cells = submissionCells(row);
    // ID, name, file name and the other IDs; the rest are numbers, times,
    // hashes and the check's fixed words.
    for (const int text : {0, 1, 2, 8, 10})
        cells[text] = textCell(cells[text]);
    return cells;
}

QByteArray submissionsCsv(const QList<SubmissionRow> &rows)
{
    const auto line = [](const QStringList &cells) {
        QStringList quoted;
        for (const QString &cell : cells)
            quoted << csvField(cell);
        return cp932::encode(quoted.join(u',') + QStringLiteral("\r\n"));
    };
    QByteArray csv = line(submissionsHeading());
    for (const SubmissionRow &row : rows)
        csv += line(exportedSubmissionCells(row));
    return csv;
}
