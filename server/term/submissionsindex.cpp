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

#include <fcntl.h>
#include <unistd.h>

namespace {

// A receipt's time and the stored file's time lie this close when nobody
// touched the file since.
constexpr qint64 SameTimeMs = 3000;

constexpr qsizetype ReceiptsPerBatch = 4096;

Receipt receiptOf(const JournalEvent &event, QDate day)
{
    Receipt receipt;
    receipt.userId = cp932::decode(event.userId);
    receipt.fileName = cp932::decode(event.fileName);
    receipt.size = event.size;
    receipt.sha256 = event.sha256.toByteArray();
    receipt.completedAt = QDateTime(event.completedOn.isValid() ? event.completedOn : day,
                                    QTime::fromMSecsSinceStartOfDay(event.seconds * 1000));
    receipt.lateSeconds = event.lateSeconds;
    receipt.folder = cp932::decode(event.folder);
    return receipt;
}

// The receipts of one journal, handed on a bounded batch at a time.
class ReceiptFold : public JournalFold
{
public:
    using Take = std::function<void(const QList<Receipt> &)>;
    ReceiptFold(QDate day, const Take &take) : m_day(day), m_take(take) {}

    bool take(const JournalEvent &event, qint64) override
    {
        if (event.kind == JournalKind::Lecture)
            m_lecture = cp932::decode(event.lecture);
        if (event.kind == JournalKind::Submission)
            m_batch << receiptOf(event, m_day);
        if (event.kind == JournalKind::Return) {
            m_batch << receiptOf(event, m_day);
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
        if (!m_batch.isEmpty())
            m_take(std::exchange(m_batch, {}));
    }

private:
    QDate m_day;
    const Take &m_take;
    QList<Receipt> m_batch;
    QString m_lecture; // of the journal's first line
};

QString cleanFolder(const QString &folder)
{
    return folder.isEmpty() ? QString() : QDir::cleanPath(folder);
}

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
    case NoReceipt:
        break;
    }
    return {};
}

SubmissionsIndex::SubmissionsIndex(QString folder, QList<Student> students)
    : m_folder(folder.isEmpty() ? QString() : cleanFolder(QFileInfo(folder).absoluteFilePath())),
      m_students(std::move(students))
{}

bool SubmissionsIndex::belongsHere(const Receipt &receipt) const
{
    if (!receipt.folder.isEmpty())
        return cleanFolder(receipt.folder) == m_folder;
    // An older journal names no folder: the file must be here.
    return QFileInfo::exists(m_folder + u'/' + receipt.fileName);
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
        if (receipt.userId.isEmpty() || !belongsHere(receipt))
            continue;
        const QString &id = receipt.userId;
        const auto latest = m_latest.constFind(id);
        if (latest == m_latest.cend())
            m_order << id;
        else if (latest->completedAt > receipt.completedAt)
            continue;
        m_latest.insert(id, receipt);
    }
}

void SubmissionsIndex::check(SubmissionRow &row, HashCache &cache) const
{
    const QString path = m_folder + u'/' + row.receipt.fileName;
    const QFileInfo file(path);
    row.versions =
        int(versionnames::versionsIn(versionnames::historyFolder(m_folder, row.receipt.fileName))
                .size()) +
        (file.isFile() ? 1 : 0);
    if (!file.isFile()) {
        row.check = SubmissionRow::Missing;
        return;
    }
    const qint64 modifiedMs = file.lastModified().toMSecsSinceEpoch();
    const bool untouched =
        file.size() == row.receipt.size &&
        qAbs(modifiedMs - row.receipt.completedAt.toMSecsSinceEpoch()) <= SameTimeMs;
    if (untouched) {
        row.currentSha256 = row.receipt.sha256;
    } else {
        row.currentSha256 = hashOfFile(path, cache);
    }
    row.check =
        row.currentSha256 == row.receipt.sha256 ? SubmissionRow::Match : SubmissionRow::Changed;
}

QList<SubmissionRow> SubmissionsIndex::build(HashCache &cache) const
{
    QList<SubmissionRow> rows;
    QSet<QString> listed;
    const auto add = [&](const QString &id, const QString &name, bool inRoster,
                         const QString &ownDeadline) {
        SubmissionRow row;
        row.userId = id;
        row.userName = name;
        row.ownDeadline = ownDeadline;
        row.inRoster = inRoster;
        row.returned = m_returned.contains(id);
        if (const auto latest = m_latest.constFind(id); latest != m_latest.cend()) {
            row.receipt = *latest;
            check(row, cache);
        }
        rows << row;
    };
    for (const Student &student : m_students) {
        add(student.id, student.name, true, student.ownDeadline);
        listed.insert(student.id);
    }
    for (const QString &id : m_order) {
        if (!listed.contains(id))
            add(id, QString(), false, QString());
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
