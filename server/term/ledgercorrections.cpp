#include "server/term/ledgercorrections.h"

#include "common/cp932.h"
#include "common/lines.h"
#include "server/records/durablefile.h"
#include "server/records/lecturejournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString HeaderWord = QStringLiteral("講義");
const QString CellWord = QStringLiteral("訂正");
const QString AddWord = QStringLiteral("追加");
const QString DropWord = QStringLiteral("削除");
const QString Eol = QStringLiteral("\r\n");

std::optional<SessionStatus> statusOf(const QString &letter)
{
    for (const SessionStatus status : {SessionStatus::Present, SessionStatus::Late,
                                       SessionStatus::Absent, SessionStatus::Excused})
        if (statusLetter(status) == letter)
            return status;
    return std::nullopt;
}

QString dayText(QDate date)
{
    return date.toString(Qt::ISODate);
}

} // namespace

QString LedgerCorrections::pathFor(const QString &lectureName)
{
    // Named after the lecture's journals but without a date in front, so
    // that nothing that looks for journals takes it for one.
    const QString journal =
        QFileInfo(LectureJournal::pathFor(lectureName, QDate(2000, 1, 1))).fileName().mid(11);
    return LectureJournal::folder() + QStringLiteral("/ledger_") + journal;
}

Result<> LedgerCorrections::load(const QString &path, const QString &lectureName)
{
    *this = LedgerCorrections();
    m_reading = path;
    QFile file(path);
    if (!file.exists())
        return Result<>::success();
    if (!file.open(QIODevice::ReadOnly))
        return Result<>::failure(file.errorString());
    const QString text = cp932::decode(file.readAll());
    if (file.error() != QFileDevice::NoError)
        return Result<>::failure(file.errorString());
    const QList<QStringView> lines = splitLines(text);
    if (lines.isEmpty() || lines.front() != HeaderWord + u',' + lectureName)
        return Result<>::failure(QStringLiteral("講義「%1」の訂正ではありません").arg(lectureName));
    for (qsizetype i = 1; i < lines.size(); ++i)
        readLine(lines[i].toString(), int(i + 1));
    return Result<>::success();
}

void LedgerCorrections::readLine(const QString &line, int number)
{
    if (line.isEmpty())
        return;
    const QStringList fields = line.split(u',');
    const QDate date = fields.size() >= 2 ? QDate::fromString(fields[1], Qt::ISODate) : QDate();
    const std::optional<SessionStatus> status =
        fields.size() >= 5 ? statusOf(fields[2]) : std::nullopt;
    if (date.isValid() && fields[0] == CellWord && status && !fields[3].isEmpty())
        m_cells[{date, fields[3]}] = {*status, fields.mid(4).join(u','), m_reading};
    else if (date.isValid() && fields[0] == AddWord)
        addSession(date);
    else if (date.isValid() && fields[0] == DropWord)
        dropSession(date);
    else
        m_problems << QStringLiteral("出席簿の訂正 %1 行目を読み飛ばしました").arg(number);
}

Result<> LedgerCorrections::merge(const QString &path, const QString &lectureName)
{
    LedgerCorrections other;
    const Result<> loaded = other.load(path, lectureName);
    if (!loaded)
        return loaded;
    for (const auto &[key, cell] : other.m_cells)
        m_cells[key] = cell;
    for (const QDate date : other.m_added)
        addSession(date);
    for (const QDate date : other.m_dropped)
        dropSession(date);
    for (const QString &problem : other.m_problems)
        m_problems << QDir::toNativeSeparators(path) + QStringLiteral(": ") + problem;
    return loaded;
}

QStringList LedgerCorrections::describeFrom(const QString &path) const
{
    QStringList lines;
    const QString file = QDir::toNativeSeparators(path);
    for (const auto &[key, cell] : m_cells)
        if (cell.file == path)
            lines << QStringLiteral("%1: 訂正 %2 %3 %4")
                         .arg(file, dayText(key.first), statusLetter(cell.status), key.second);
    return lines;
}

Result<> LedgerCorrections::save(const QString &path, const QString &lectureName) const
{
    QString text = HeaderWord + u',' + lectureName + Eol;
    for (const QDate date : m_added)
        text += AddWord + u',' + dayText(date) + Eol;
    for (const QDate date : m_dropped)
        text += DropWord + u',' + dayText(date) + Eol;
    for (const auto &[key, cell] : m_cells)
        text += QStringList{CellWord, dayText(key.first), statusLetter(cell.status), key.second,
                            cell.reason}
                    .join(u',') +
                Eol;
    return replaceFileDurably(path, cp932::encode(text));
}

std::optional<LedgerCorrections::Cell> LedgerCorrections::cell(QDate date,
                                                               const QString &userId) const
{
    const auto it = m_cells.find({date, userId});
    if (it == m_cells.end())
        return std::nullopt;
    return it->second;
}

void LedgerCorrections::setCell(QDate date, const QString &userId, SessionStatus status,
                                const QString &reason)
{
    QString oneLine = reason;
    oneLine.replace(u'\r', u' ').replace(u'\n', u' ');
    m_cells[{date, userId}] = {status, oneLine};
}

void LedgerCorrections::clearCell(QDate date, const QString &userId)
{
    m_cells.erase({date, userId});
}

void LedgerCorrections::addSession(QDate date)
{
    m_dropped.erase(date);
    m_added.insert(date);
}

void LedgerCorrections::dropSession(QDate date)
{
    m_added.erase(date);
    m_dropped.insert(date);
}
