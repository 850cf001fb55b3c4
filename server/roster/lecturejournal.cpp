#include "server/roster/lecturejournal.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "platform/dialogs.h"
#include "platform/textlog.h"
#include "server/roster/lecture.h"
#include "server/roster/rostergrid.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QTime>

namespace {

const QString Eol = QStringLiteral("\r\n");
const QString HeaderWord = QStringLiteral("講義");
const QString MarkWord = QStringLiteral("出席");
const QString SubmissionWord = QStringLiteral("提出");
const QString ClaimAgainWord = QStringLiteral("再申告");
const QString HandoutWord = QStringLiteral("配布");
constexpr qsizetype MaxSafeChars = 40;

// The lecture name as far as every file system can hold it; the hash in the
// file name keeps names that look alike here apart.
QString safeForm(const QString &name)
{
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    QString safe;
    for (const QChar c : name)
        safe += (c.unicode() < 0x20 || c.unicode() == 0x7f || forbidden.contains(c)) ? u'_' : c;
    if (safe.size() > MaxSafeChars)
        safe.truncate(safe[MaxSafeChars - 1].isHighSurrogate() ? MaxSafeChars - 1 : MaxSafeChars);
    // No hidden file, and nothing that Windows would cut off the end.
    while (!safe.isEmpty() && (safe.front() == u'.' || safe.front() == u' '))
        safe.remove(0, 1);
    while (!safe.isEmpty() && (safe.back() == u'.' || safe.back() == u' '))
        safe.chop(1);
    return safe;
}

QString shortHash(const QString &name)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256).toHex().left(10));
}

// What a journal holds, per user ID: the first attendance and the latest
// submission, in the order the IDs first appear.
struct JournalRecords
{
    struct Mark
    {
        QString time;
        QString address;
    };
    QHash<QString, Mark> marks;
    QStringList markOrder;
    QHash<QString, QString> stamps;
    QStringList stampOrder;
    QList<std::pair<QString, QString>> claimsAgain; // user ID, address
};

JournalRecords readRecords(const QByteArray &bytes)
{
    JournalRecords records;
    const QStringList lines = cp932::decode(bytes).split(u'\n');
    for (QString line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QStringList fields = line.split(u',');
        if (fields.size() == 5 && fields[0] == MarkWord && RosterGrid::isTimeStamp(fields[1])) {
            const QString &userId = fields[3];
            if (!records.marks.contains(userId)) {
                records.marks.insert(userId, {fields[1], fields[4]});
                records.markOrder << userId;
            }
        } else if (fields.size() == 5 && fields[0] == ClaimAgainWord) {
            records.claimsAgain.append({fields[3], fields[4]});
        } else if (fields.size() >= 6 && fields[0] == SubmissionWord &&
                   RosterGrid::isTimeStamp(fields[1])) {
            const QString &userId = fields[2];
            if (!records.stamps.contains(userId))
                records.stampOrder << userId;
            records.stamps.insert(userId, fields[1]);
        }
    }
    return records;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A name beside the journal for the records the lecturer chose not to take
// back; it never matches a journal of any lecture.
QString keptName(const QString &path)
{
    const QString stem = path.chopped(4) + Clock::timeOfDay().toString(QStringLiteral("_HHmmss"));
    QString kept = stem + QStringLiteral(".txt");
    for (int number = 2; QFileInfo::exists(kept); ++number)
        kept = stem + QStringLiteral("_%1.txt").arg(number);
    return kept;
}

} // namespace

LectureJournal::LectureJournal(const Lecture &lecture, AttendanceBook &book, QObject *parent)
    : QObject(parent), m_lecture(lecture), m_book(book)
{
    connect(&m_file, &JournalFile::failed, this, &LectureJournal::fileFailed);
}

QString LectureJournal::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/journal");
}

QString LectureJournal::pathFor(const QString &lectureName, QDate day)
{
    const QString safe = safeForm(lectureName);
    return folder() + u'/' + day.toString(QStringLiteral("yyyy-MM-dd")) + u'_' +
           (safe.isEmpty() ? QString() : safe + u'_') + shortHash(lectureName) +
           QStringLiteral(".txt");
}

void LectureJournal::recordMark(int row, const QString &userId, const QString &time,
                                const QString &address)
{
    write(QStringList{MarkWord, time, QString::number(row), userId, address}.join(u','));
}

void LectureJournal::recordSubmission(const AttendanceBook::Submission &submission,
                                      const QString &time)
{
    write(QStringList{SubmissionWord, time, submission.userId, submission.fileName,
                      QString::number(submission.size), QString::fromLatin1(submission.sha256),
                      submission.completedAt.toString(QStringLiteral("yyyy/MM/dd")),
                      submission.lateSeconds > 0
                          ? QStringLiteral("締切後%1秒").arg(submission.lateSeconds)
                          : QString(),
                      QString::number(submission.versions), submission.folder}
              .join(u','));
}

void LectureJournal::recordRefusal(const QString &userId, const QString &fileName,
                                   const QString &reason, const QString &time)
{
    write(QStringList{QStringLiteral("拒否"), time, userId, fileName, reason}.join(u','));
}

void LectureJournal::recordClaimAgain(int row, const QString &userId, const QString &address)
{
    write(
        QStringList{ClaimAgainWord, RosterGrid::timeOfDay(), QString::number(row), userId, address}
            .join(u','));
}

void LectureJournal::recordHandout(const QString &who, const QString &fileName,
                                   const QByteArray &sha256)
{
    write(QStringList{HandoutWord, RosterGrid::timeOfDay(), who, fileName,
                      QString::fromLatin1(sha256)}
              .join(u','));
}

void LectureJournal::write(const QString &line)
{
    if (openToday())
        m_file.append(cp932::encode(line + Eol));
}

bool LectureJournal::openToday()
{
    // A lecture that runs past midnight goes on in the next day's journal;
    // the path is worked out only when the day or the lecture changes.
    const QDate today = Clock::today();
    if (m_file.isOpen() && m_day == today && m_openedFor == m_lecture.kougimei())
        return true;
    m_day = today;
    m_openedFor = m_lecture.kougimei();
    if (!m_file.open(pathFor(m_openedFor, m_day)))
        return false;
    return m_file.size() > 0 ||
           m_file.append(cp932::encode(HeaderWord + u',' + m_lecture.kougimei() + Eol));
}

void LectureJournal::offerRestore(MessageBox &messages, TextLog &log)
{
    const QString path = pathFor(m_lecture.kougimei(), Clock::today());
    if (!QFileInfo::exists(path))
        return;
    // Students go on attending while the question is open: their lines go to
    // this journal, and a fresh one takes them along.
    openToday();
    const qint64 asked = QFileInfo(path).size();
    const JournalRecords records = readRecords(readAll(path));
    if (records.markOrder.isEmpty() && records.stampOrder.isEmpty())
        return; // nothing to give back: the journal simply goes on
    const QString question =
        QStringLiteral("本日の「%1」の記録が残っています (出席 %2 人、課題提出 %3 人)｡\r\n"
                       "記録を表に復元しますか?\r\n"
                       "いいえを選ぶと新しく記録を始めます｡前の記録は別の名前で残します｡")
            .arg(m_lecture.kougimei())
            .arg(records.markOrder.size())
            .arg(records.stampOrder.size());
    if (messages.ask(question))
        restore(readAll(path), log);
    else
        startAfresh(asked, log);
}

void LectureJournal::restore(const QByteArray &journal, TextLog &log)
{
    const JournalRecords records = readRecords(journal);
    QStringList missing;
    int marks = 0;
    for (const QString &userId : records.markOrder) {
        const JournalRecords::Mark &mark = records.marks[userId];
        if (!m_book.restoreMark(userId, mark.time, mark.address)) {
            missing << userId;
            continue;
        }
        ++marks;
    }
    for (const auto &[userId, address] : records.claimsAgain)
        m_book.restoreClaim(userId, address);
    int stamps = 0;
    for (const QString &userId : records.stampOrder) {
        if (!m_book.restoreSubmission(userId, records.stamps[userId])) {
            if (!missing.contains(userId))
                missing << userId;
            continue;
        }
        ++stamps;
    }
    if (!missing.isEmpty())
        log.insertAtTop(QStringLiteral("名簿にないため復元しなかったユーザID: %1")
                            .arg(missing.join(QStringLiteral(", "))) +
                        Eol);
    log.insertAtTop(QStringLiteral("本日の記録から出席 %1 人と課題提出 %2 人を復元しました｡")
                        .arg(marks)
                        .arg(stamps) +
                    Eol);
}

void LectureJournal::startAfresh(qint64 keptBytes, TextLog &log)
{
    const QString path = pathFor(m_lecture.kougimei(), Clock::today());
    const QByteArray whileAsked = readAll(path).mid(keptBytes);
    m_file.close();
    const QString kept = keptName(path);
    if (!QFile::rename(path, kept)) {
        fileFailed(path, QStringLiteral("前の記録の名前を変えられません"));
        return;
    }
    if (openToday())
        m_file.append(whileAsked);
    log.insertAtTop(
        QStringLiteral("前の記録は %1 として残しました｡").arg(QDir::toNativeSeparators(kept)) +
        Eol);
}

void LectureJournal::fileFailed(const QString &path, const QString &reason)
{
    if (m_reported.contains(path))
        return;
    m_reported.insert(path);
    Q_EMIT failed(QStringLiteral("出欠と課題提出の記録 %1 に書き込めません: %2\r\n"
                                 "講義はこのまま続けられます｡表はﾃﾞｰﾀ保存で保存してください｡")
                      .arg(QDir::toNativeSeparators(path))
                      .arg(reason));
}
