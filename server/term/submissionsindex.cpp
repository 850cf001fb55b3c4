#include "server/term/submissionsindex.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "common/csvtext.h"
#include "server/folders/versionnames.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {

const QString SubmissionWord = QStringLiteral("提出");
// A receipt's time and the stored file's time lie this close when nobody
// touched the file since.
constexpr qint64 SameTimeMs = 3000;

bool isSha256(QStringView field)
{
    if (field.size() != 64)
        return false;
    for (QChar c : field) {
        if (!(c.isDigit() || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

bool isNumber(QStringView field)
{
    bool ok = false;
    (void)field.toLongLong(&ok);
    return ok && !field.isEmpty() && field.front().isDigit();
}

QString joined(const QList<QStringView> &fields, qsizetype from, qsizetype to)
{
    QStringList parts;
    for (qsizetype i = from; i < to; ++i)
        parts << fields[i].toString();
    return parts.join(u',');
}

// 提出,time,ID,name…,size,hash[,date,late,versions,folder…]: the hash is the
// anchor, so that commas in the file name or the folder do no harm.
std::optional<Receipt> receiptOf(QStringView line, QDate day)
{
    const QList<QStringView> fields = line.split(u',');
    if (fields.size() < 6 || fields[0] != SubmissionWord)
        return std::nullopt;
    qsizetype hash = 5;
    while (hash < fields.size() && !(isSha256(fields[hash]) && isNumber(fields[hash - 1])))
        ++hash;
    const QTime time = QTime::fromString(fields[1].toString(), QStringLiteral("HH:mm:ss"));
    if (hash == fields.size() || !time.isValid())
        return std::nullopt;
    Receipt receipt;
    receipt.userId = fields[2].toString();
    receipt.fileName = joined(fields, 3, hash - 1);
    receipt.size = fields[hash - 1].toLongLong();
    receipt.sha256 = fields[hash].toLatin1();
    const QDate written = fields.size() > hash + 1 ? QDate::fromString(fields[hash + 1].toString(),
                                                                       QStringLiteral("yyyy/MM/dd"))
                                                   : QDate();
    receipt.completedAt = QDateTime(written.isValid() ? written : day, time);
    if (fields.size() > hash + 2 && fields[hash + 2].startsWith(u"締切後"))
        receipt.lateSeconds = fields[hash + 2].sliced(3).chopped(1).toLongLong();
    if (fields.size() > hash + 4)
        receipt.folder = joined(fields, hash + 4, fields.size());
    return receipt;
}

QString cleanFolder(const QString &folder)
{
    return folder.isEmpty() ? QString() : QDir::cleanPath(folder);
}

QByteArray hashOfFile(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result().toHex();
}

} // namespace

QList<Receipt> readReceipts(QByteArrayView journal, QDate day)
{
    QList<Receipt> receipts;
    const QString text = cp932::decode(journal);
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (std::optional<Receipt> receipt = receiptOf(line, day))
            receipts << *receipt;
    }
    return receipts;
}

QList<Receipt> readReceiptsIn(const QString &folder)
{
    QList<Receipt> receipts;
    QDirIterator files(folder, {QStringLiteral("*.txt")}, QDir::Files);
    while (files.hasNext()) {
        const QString path = files.next();
        const QDate day =
            QDate::fromString(QFileInfo(path).fileName().left(10), QStringLiteral("yyyy-MM-dd"));
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            receipts += readReceipts(file.readAll(), day.isValid() ? day : Clock::today());
    }
    return receipts;
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
        HashCache::Entry &known = cache.entries[path];
        if (known.sha256.isEmpty() || known.size != file.size() || known.modifiedMs != modifiedMs) {
            known = {file.size(), modifiedMs, hashOfFile(path)};
            ++cache.hashed;
        }
        row.currentSha256 = known.sha256;
    }
    row.check =
        row.currentSha256 == row.receipt.sha256 ? SubmissionRow::Match : SubmissionRow::Changed;
}

QList<SubmissionRow> SubmissionsIndex::build(HashCache &cache) const
{
    QList<SubmissionRow> rows;
    QSet<QString> listed;
    const auto add = [&](const QString &id, const QString &name, bool inRoster) {
        SubmissionRow row;
        row.userId = id;
        row.userName = name;
        row.inRoster = inRoster;
        if (const auto latest = m_latest.constFind(id); latest != m_latest.cend()) {
            row.receipt = *latest;
            check(row, cache);
        }
        rows << row;
    };
    for (const Student &student : m_students) {
        add(student.id, student.name, true);
        listed.insert(student.id);
    }
    for (const QString &id : m_order) {
        if (!listed.contains(id))
            add(id, QString(), false);
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
            QStringLiteral("照合")};
}

QStringList submissionCells(const SubmissionRow &row)
{
    if (row.check == SubmissionRow::NoReceipt)
        return {row.userId, row.userName, {}, {}, {}, {}, {}, {}, {}, {}};
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
            SubmissionRow::checkText(row.check)};
}

QStringList exportedSubmissionCells(const SubmissionRow &row)
{
    QStringList cells = submissionCells(row);
    // ID, name, file name and the other IDs; the rest are numbers, times,
    // hashes and the check's fixed words.
    for (const int text : {0, 1, 2, 8})
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
