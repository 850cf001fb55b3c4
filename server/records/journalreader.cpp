#include "server/records/journalreader.h"

#include "common/cp932.h"
#include "server/records/lecturejournal.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

const QString HeaderWord = QStringLiteral("講義");
const QString MarkWord = QStringLiteral("出席");
// Kinds that carry the time of day as their second field; they keep the
// reader's clock running past midnight.
const QStringList TimedWords = {QStringLiteral("提出"), QStringLiteral("再申告")};
constexpr qint64 MaxLineBytes = 64 * 1024;
constexpr int MaxProblemsNamed = 20;
constexpr int SecondsPerDay = 24 * 60 * 60;

bool isTimeOfDay(const QString &text, int &seconds)
{
    if (text.size() != 8 || text[2] != u':' || text[5] != u':')
        return false;
    bool okHours = false, okMinutes = false, okSeconds = false;
    const int hours = text.first(2).toInt(&okHours);
    const int minutes = text.sliced(3, 2).toInt(&okMinutes);
    const int secs = text.sliced(6, 2).toInt(&okSeconds);
    if (!okHours || !okMinutes || !okSeconds || hours > 23 || minutes > 59 || secs > 59 ||
        !text[0].isDigit() || !text[3].isDigit() || !text[6].isDigit())
        return false;
    seconds = hours * 3600 + minutes * 60 + secs;
    return true;
}

} // namespace

JournalReader::JournalReader(const QString &path) : m_file(path)
{}

bool JournalReader::open()
{
    if (!m_file.open(QIODevice::ReadOnly)) {
        m_error = m_file.errorString();
        return false;
    }
    QString first;
    if (!nextLine(first))
        return m_error.isEmpty();
    if (first.startsWith(HeaderWord + u','))
        m_lectureName = first.sliced(HeaderWord.size() + 1);
    else
        m_pendingLine = first, m_hasPending = true;
    return true;
}

bool JournalReader::nextLine(QString &line)
{
    if (m_hasPending) {
        m_hasPending = false;
        line = m_pendingLine;
        return true;
    }
    for (;;) {
        if (m_file.atEnd())
            return false;
        QByteArray bytes = m_file.readLine(MaxLineBytes);
        if (bytes.isEmpty() && m_file.error() != QFileDevice::NoError) {
            m_error = m_file.errorString();
            skip(QStringLiteral("読み込めません: %1").arg(m_error));
            return false;
        }
        ++m_lineNumber;
        if (!bytes.endsWith('\n') && !m_file.atEnd()) {
            // Longer than any line the server writes: the rest goes unread.
            while (!m_file.atEnd() && !m_file.readLine(MaxLineBytes).endsWith('\n')) {
            }
            skip(QStringLiteral("行が長すぎます"));
            continue;
        }
        while (bytes.endsWith('\n') || bytes.endsWith('\r'))
            bytes.chop(1);
        line = cp932::decode(bytes);
        return true;
    }
}

bool JournalReader::nextMark(Mark &mark)
{
    QString line;
    while (nextLine(line)) {
        if (line.isEmpty())
            continue;
        const QStringList fields = line.split(u',');
        const QString &kind = fields.front();
        const bool isMark = kind == MarkWord;
        if (!isMark && !TimedWords.contains(kind))
            continue; // a kind this reader does not need
        int seconds = 0;
        if (fields.size() < 2 || !takeTime(fields[1], seconds)) {
            skip(QStringLiteral("時刻がありません"));
            continue;
        }
        if (!isMark)
            continue;
        if (fields.size() < 5 || fields[3].isEmpty()) {
            skip(QStringLiteral("出席の行が欠けています"));
            continue;
        }
        mark.userId = fields[3];
        mark.seconds = seconds;
        return true;
    }
    if (m_skipped > MaxProblemsNamed)
        m_problems << QStringLiteral("%1: ほかに %2 行を読み飛ばしました")
                          .arg(QDir::toNativeSeparators(m_file.fileName()))
                          .arg(m_skipped - MaxProblemsNamed);
    return false;
}

bool JournalReader::takeTime(const QString &text, int &seconds)
{
    if (!isTimeOfDay(text, seconds))
        return false;
    // Lines are written in the order things happen: a time far earlier than
    // the one before is the next day of a lecture that ran past midnight.
    if (m_lastSeconds >= 0 && seconds + m_dayOffset < m_lastSeconds - SecondsPerDay / 2)
        m_dayOffset += SecondsPerDay;
    seconds += m_dayOffset;
    m_lastSeconds = seconds;
    return true;
}

void JournalReader::skip(const QString &why)
{
    if (++m_skipped > MaxProblemsNamed)
        return;
    m_problems << QStringLiteral("%1 の %2 行目を読み飛ばしました: %3")
                      .arg(QDir::toNativeSeparators(m_file.fileName()))
                      .arg(m_lineNumber)
                      .arg(why);
}

LectureJournals findLectureJournals(const QString &lectureName, const QStringList &folders,
                                    QDate from, QDate to)
{
    // The server names a journal "<date>_<name>_<hash of the name>.txt" and a
    // kept copy "<date>_<name>_<hash>_<hhmmss>[_<n>].txt": everything after
    // the date is the same for every journal of the lecture.
    const QString tail =
        QFileInfo(LectureJournal::pathFor(lectureName, QDate(2000, 1, 1))).fileName().mid(10);
    const QString stem = tail.chopped(4);
    const QRegularExpression journalName(
        QStringLiteral("^(\\d{4}-\\d{2}-\\d{2})%1(?:_\\d{6}(?:_\\d+)?)?\\.txt$")
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
        const QFileInfoList entries =
            dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        bool any = false;
        for (const QFileInfo &entry : entries) {
            const QRegularExpressionMatch match = journalName.match(entry.fileName());
            if (!match.hasMatch())
                continue;
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
