#include "server/records/journalreader.h"

#include "common/cp932.h"
#include "server/records/lecturejournal.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

constexpr int MaxProblemsNamed = 20;
constexpr int SecondsPerDay = 24 * 60 * 60;
constexpr qsizetype HashChars = 10; // the lecture's code at the end of its journals' names

} // namespace

JournalReader::JournalReader(QString path, QString lectureName)
    : m_path(std::move(path)), m_expected(std::move(lectureName))
{}

Result<> JournalReader::read(const std::function<void(const Mark &)> &take)
{
    JournalScanner scanner(MaxProblemsNamed);
    m_take = &take;
    const Result<> read = scanner.scanFile(m_path, *this);
    m_take = nullptr;
    m_headerRead = true;
    if (!read || !isOfLecture())
        return read;
    const QString file = QDir::toNativeSeparators(m_path);
    for (const JournalScanner::BadLine &line : scanner.namedBadLines())
        m_problems << QStringLiteral("%1 の %2 行目を読み飛ばしました: %3")
                          .arg(file)
                          .arg(line.number)
                          .arg(line.why);
    if (scanner.badLines() > MaxProblemsNamed)
        m_problems << QStringLiteral("%1: ほかに %2 行を読み飛ばしました")
                          .arg(file)
                          .arg(scanner.badLines() - MaxProblemsNamed);
    return read;
}

bool JournalReader::minds(JournalKind kind) const
{
    return kind == JournalKind::Mark || kind == JournalKind::Submission ||
           kind == JournalKind::ClaimAgain || kind == JournalKind::OffRoster;
}

bool JournalReader::take(const JournalEvent &event, qint64 lineNumber)
{
    if (lineNumber == 1 && event.kind == JournalKind::Lecture)
        m_lectureName = cp932::decode(event.lecture);
    m_headerRead = true;
    if (isOfLecture() && minds(event.kind)) {
        const int seconds = secondsOf(event);
        // An ID the roster did not hold then is marked all the same: the
        // ledger counts it once the roster holds it.
        if (event.kind == JournalKind::Mark || event.kind == JournalKind::OffRoster)
            (*m_take)({cp932::decode(event.userId), seconds});
    }
    return true;
}

// Lines are written in the order things happen: a time far earlier than the
// one before is the next day of a lecture that ran past midnight.
int JournalReader::secondsOf(const JournalEvent &event)
{
    const int seconds = event.seconds;
    if (m_lastSeconds >= 0 && seconds + m_dayOffset < m_lastSeconds - SecondsPerDay / 2)
        m_dayOffset += SecondsPerDay;
    m_lastSeconds = seconds + m_dayOffset;
    return m_lastSeconds;
}

LectureJournals findLectureJournals(const QString &lectureName, const QStringList &folders,
                                    QDate from, QDate to)
{
    // The server names a journal "<date>_<name>_<hash of the name>.txt", a
    // later file of the same day "<date>_<name>_<hash>_<n>.txt" and a kept
    // copy of earlier versions "<date>_<name>_<hash>_<hhmmss>[_<n>].txt":
    // everything after the date is the same for every journal of the lecture.
    const QString tail =
        QFileInfo(LectureJournal::pathFor(lectureName, QDate(2000, 1, 1))).fileName().mid(10);
    const QString stem = tail.chopped(4);
    const QRegularExpression journalName(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})%1(?:_\\d{6}(?:_\\d+)?|_\\d{1,3})?\\.txt$")
            .arg(QRegularExpression::escape(stem)));
    LectureJournals found;
    for (const QString &folder : folders) {
        QDir dir(folder);
        if (!dir.exists() || !dir.isReadable()) {
            found.problems << (dir.exists() ? QStringLiteral("記録フォルダ %1 を読めません")
                                            : QStringLiteral("記録フォルダ %1 はありません"))
                                  .arg(QDir::toNativeSeparators(folder));
            continue;
        }
        // Names first: a folder of a department's years holds thousands of
        // other lectures' journals, which need no look at their files.
        const QStringList names =
            dir.entryList({u'*' + stem.right(HashChars) + QStringLiteral("*.txt")},
                          QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        bool any = false;
        for (const QString &name : names) {
            const QRegularExpressionMatch match = journalName.match(name);
            if (!match.hasMatch())
                continue;
            const QFileInfo entry(dir.filePath(name));
            any = true;
            const QDate date = QDate::fromString(match.captured(1), Qt::ISODate);
            if (!entry.isFile() || !date.isValid()) {
                found.problems << QStringLiteral("%1 は記録ではありません")
                                      .arg(QDir::toNativeSeparators(entry.filePath()));
                continue;
            }
            // An empty file is a journal the server had only just made.
            if (date >= from && date <= to && entry.size() > 0)
                found.byDate[date] << entry.filePath();
        }
        // A folder chosen one level too high or too low holds none.
        if (!any)
            found.problems << QStringLiteral("記録フォルダ %1 に講義「%2」の記録はありません")
                                  .arg(QDir::toNativeSeparators(folder), lectureName);
    }
    return found;
}
