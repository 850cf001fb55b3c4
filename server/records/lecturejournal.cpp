#include "server/records/lecturejournal.h"

#include "common/clock.h"
#include "common/cp932.h"
#include "platform/dialogs.h"
#include "platform/textlog.h"
#include "server/lecture/lecture.h"
#include "server/lecture/rostergrid.h"
#include "server/records/journalcodec.h"
#include "server/records/journalsession.h"
#include "server/records/journalsummary.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTime>

namespace {

const QString Eol = QStringLiteral("\r\n");
constexpr qsizetype MaxSafeChars = 40;
constexpr qsizetype NamedMissing = 20;
constexpr qsizetype EarlierLecturesKept = 16;

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

// The lecture's part of its file names, without the day.
QString lectureStem(const QString &name)
{
    const QString safe = safeForm(name);
    return (safe.isEmpty() ? QString() : safe + u'_') + shortHash(name);
}

QString lockPathFor(const QString &lectureName)
{
    return LectureJournal::folder() + u'/' + lectureStem(lectureName) + QStringLiteral(".lock");
}

QByteArray headerLine(const QString &lecture)
{
    const QByteArray name = cp932::encode(lecture);
    JournalEvent header;
    header.kind = JournalKind::Lecture;
    header.lecture = name;
    return journalcodec::formatLine(header);
}

// An attendance line; `time` and the texts in code page 932.
QByteArray attendanceLine(JournalKind kind, int row, const QByteArray &time, const QByteArray &id,
                          const QByteArray &address)
{
    JournalEvent event;
    event.kind = kind;
    event.time = time;
    event.row = row;
    event.userId = id;
    event.address = address;
    return journalcodec::formatLine(event);
}

QByteArray readFrom(const QString &path, qint64 offset)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.seek(offset) ? file.readAll() : QByteArray();
}

QString listed(const QStringList &ids, qsizetype total)
{
    QString text = ids.join(QStringLiteral(", "));
    if (total > ids.size())
        text += QStringLiteral(" ほか%1人").arg(total - ids.size());
    return text;
}

QString beganWhen(const QString &journal)
{
    return QFileInfo(journal).fileName().startsWith(
               Clock::today().toString(QStringLiteral("yyyy-MM-dd")))
               ? QStringLiteral("本日")
               : QStringLiteral("前日から");
}

} // namespace

LectureJournal::LectureJournal(const Lecture &lecture, AttendanceBook &book, QObject *parent)
    : QObject(parent), m_lecture(lecture), m_book(book)
{
    connect(&m_file, &JournalFile::syncFailed, this,
            [this](const QString &message) { report(Result<>::failure(message)); });
}

QString LectureJournal::folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/journal");
}

QString LectureJournal::pathFor(const QString &lectureName, QDate day)
{
    return folder() + u'/' + day.toString(QStringLiteral("yyyy-MM-dd")) + u'_' +
           lectureStem(lectureName) + QStringLiteral(".txt");
}

QString LectureJournal::boundedId(const QString &userId)
{
    QString shown = userId.first(qMin(userId.size(), ShownIdChars));
    for (QChar &c : shown) {
        if (c == u',')
            c = u'，';
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u'?';
    }
    if (!shown.isEmpty() && shown.back().isHighSurrogate())
        shown.chop(1);
    if (userId.size() > ShownIdChars)
        shown += QStringLiteral("…(%1文字)").arg(userId.size());
    return shown;
}

QString LectureJournal::recordedId(const QString &userId) const
{
    return userId.isEmpty() || m_book.inRoster(userId) ? userId : boundedId(userId);
}

void LectureJournal::recordMark(int row, const QString &userId, const QString &time,
                                const QString &address)
{
    write(attendanceLine(JournalKind::Mark, row, cp932::encode(time), cp932::encode(userId),
                         cp932::encode(address)));
}

void LectureJournal::recordSubmission(const AttendanceBook::Submission &submission,
                                      const QString &time)
{
    const QByteArray when = cp932::encode(time);
    const QByteArray id = cp932::encode(recordedId(submission.userId));
    const QByteArray name = cp932::encode(submission.fileName);
    const QByteArray folder = cp932::encode(submission.folder);
    JournalEvent receipt;
    receipt.kind = JournalKind::Submission;
    receipt.time = when;
    receipt.userId = id;
    receipt.fileName = name;
    receipt.size = submission.size;
    receipt.sha256 = submission.sha256;
    receipt.completedOn = submission.completedAt.date();
    receipt.lateSeconds = submission.lateSeconds;
    receipt.versions = submission.versions;
    receipt.folder = folder;
    const QByteArray line = journalcodec::formatLine(receipt);
    // An upload belongs to the lecture it began in.
    if (submission.earlierLecture)
        writeToEarlierLecture(*submission.earlierLecture, line);
    else
        write(line);
}

void LectureJournal::recordRefusal(const QString &userId, const QString &fileName,
                                   const QString &reason, const QString &time)
{
    const QByteArray when = cp932::encode(time);
    const QByteArray id = cp932::encode(recordedId(userId));
    const QByteArray name = cp932::encode(fileName);
    const QByteArray why = cp932::encode(reason);
    // The folder the put line was for, so that the list of that folder shows it.
    const QByteArray folder = cp932::encode(m_lecture.kadaidir());
    JournalEvent refusal;
    refusal.kind = JournalKind::Refusal;
    refusal.time = when;
    refusal.userId = id;
    refusal.fileName = name;
    refusal.reason = why;
    refusal.completedOn = Clock::today();
    refusal.folder = folder;
    write(journalcodec::formatLine(refusal));
}

bool LectureJournal::recordOffRoster(const QString &userId, const QString &address,
                                     const QString &time)
{
    // Without a roster there is no lecture to keep it for.
    if (m_lecture.kougimei().isEmpty())
        return false;
    if (m_openedFor != m_lecture.kougimei())
        beginLecture();
    const QString id = boundedId(userId);
    if (id.isEmpty() || m_offRoster.contains(id) || m_offRoster.size() >= MaxOffRosterIds)
        return false;
    m_offRoster.insert(id);
    const QByteArray when = cp932::encode(time);
    const QByteArray bytes = cp932::encode(id);
    const QByteArray from = cp932::encode(address);
    JournalEvent event;
    event.kind = JournalKind::OffRoster;
    event.time = when;
    event.userId = bytes;
    event.address = from;
    write(journalcodec::formatLine(event));
    return true;
}

void LectureJournal::recordClaimAgain(int row, const QString &userId, const QString &address,
                                      const QString &time)
{
    write(attendanceLine(JournalKind::ClaimAgain, row, cp932::encode(time), cp932::encode(userId),
                         cp932::encode(address)));
}

void LectureJournal::recordHandout(const QString &who, const QString &fileName,
                                   const QByteArray &sha256, const QString &time)
{
    recordDelivery(JournalKind::Handout, who, fileName, sha256, time);
}

void LectureJournal::recordReturn(const QString &userId, const QString &fileName,
                                  const QByteArray &sha256, const QString &time)
{
    recordDelivery(JournalKind::Return, userId, fileName, sha256, time);
}

void LectureJournal::recordDelivery(JournalKind kind, const QString &who, const QString &fileName,
                                    const QByteArray &sha256, const QString &time)
{
    const QByteArray when = cp932::encode(time);
    const QByteArray id = cp932::encode(recordedId(who));
    const QByteArray name = cp932::encode(fileName);
    JournalEvent delivery;
    delivery.kind = kind;
    delivery.time = when;
    delivery.userId = id;
    delivery.fileName = name;
    delivery.sha256 = sha256;
    write(journalcodec::formatLine(delivery));
}

void LectureJournal::write(const QByteArray &line)
{
    if (follow())
        report(m_file.append(line));
}

// Makes the journal of the lecture now shown the open one; false when it
// cannot or must not be written.
bool LectureJournal::follow()
{
    if (m_openedFor != m_lecture.kougimei())
        beginLecture();
    if (m_heldElsewhere)
        return false;
    if (m_file.isOpen())
        return true;
    if (!report(m_file.open(m_path)))
        return false;
    return m_file.size() > 0 || report(m_file.append(headerLine(*m_openedFor)));
}

void LectureJournal::beginLecture()
{
    m_file.close();
    if (m_openedFor && !m_heldElsewhere) {
        if (m_earlier.size() >= EarlierLecturesKept)
            m_earlier.clear();
        m_earlier.insert(*m_openedFor, m_path);
    }
    m_openedFor = m_lecture.kougimei();
    m_offRoster.clear();
    const Result<bool> mayWrite = m_lock.acquire(lockPathFor(*m_openedFor));
    m_heldElsewhere = mayWrite && !*mayWrite;
    if (!mayWrite)
        report(Result<>::failure(mayWrite.error()), lockPathFor(*m_openedFor));
    const journalsession::Choice choice =
        journalsession::journalToWrite(*m_openedFor, Clock::now());
    m_path = choice.path;
    m_sessionDay = choice.day;
}

void LectureJournal::writeToEarlierLecture(const QString &lecture, const QByteArray &line)
{
    const QString path = m_earlier.value(lecture, pathFor(lecture, Clock::today()));
    JournalLock lock;
    // Without a lock to be had (a link), as for the current lecture: written all the same.
    if (const Result<bool> mayWrite = lock.acquire(lockPathFor(lecture)); mayWrite && !*mayWrite) {
        report(Result<>::failure(QStringLiteral("別のウィンドウが使用中です")), path);
        return;
    }
    JournalFile file;
    if (!report(file.open(path), path))
        return;
    if (file.size() == 0 && !report(file.append(headerLine(lecture)), path))
        return;
    report(file.append(line), path);
}

void LectureJournal::offerRestore(MessageBox &messages, TextLog &log)
{
    // Opened again after the other program let the lecture go: it is ours now.
    if (m_openedFor != m_lecture.kougimei() || m_heldElsewhere)
        beginLecture();
    if (m_heldElsewhere) {
        messages.show(QStringLiteral("「%1」の講義は別のウィンドウで開かれています｡\r\n"
                                     "出欠と課題提出の記録はそのウィンドウが続けています｡"
                                     "このウィンドウでは記録しません｡")
                          .arg(m_lecture.kougimei()));
        return;
    }
    if (!QFileInfo::exists(m_path))
        return;
    JournalSummary records;
    if (!records.read(m_path) || records.isEmpty())
        return; // nothing to give back: the journal simply goes on
    // Students go on attending while the question is open: their lines go to
    // this journal, and a fresh one takes them along.
    follow();
    const QString question =
        QStringLiteral("%4の「%1」の記録が残っています (出席 %2 人、課題提出 %3 人)｡\r\n"
                       "記録を表に復元しますか?\r\n"
                       "いいえを選ぶと新しく記録を始めます｡前の記録は別の名前で残します｡")
            .arg(m_lecture.kougimei())
            .arg(records.presentCount())
            .arg(records.submittedCount())
            .arg(beganWhen(m_path));
    const qint64 asked = records.end();
    const bool yes = messages.ask(question);
    // Ending the program is no answer: the journal stays for the next start.
    if (m_ending)
        return;
    if (yes) {
        records.read(m_path, asked);
        restore(records, log);
    } else {
        startAfresh(asked, log);
    }
}

void LectureJournal::restore(const JournalSummary &records, TextLog &log)
{
    const auto text = [](const QByteArray &bytes) { return cp932::decode(bytes); };
    QStringList missing;
    qsizetype missingCount = 0;
    const auto miss = [&](const QString &userId) {
        if (++missingCount <= NamedMissing)
            missing << boundedId(userId);
    };
    int marks = 0;
    for (const QByteArray &id : records.markOrder()) {
        const JournalSummary::Mark &mark = records.mark(id);
        if (m_book.restoreMark(text(id), text(mark.time), text(mark.address)))
            ++marks;
        else
            miss(text(id));
    }
    for (const QByteArray &id : records.offRosterOrder()) {
        if (!records.hasMark(id) && restoreOffRoster(text(id), records.offRoster(id)))
            ++marks;
    }
    for (const auto &[id, address] : records.otherAddresses())
        m_book.restoreClaim(text(id), text(address));
    int stamps = 0;
    for (const QByteArray &id : records.stampOrder()) {
        const JournalSummary::Stamp &stamp = records.stamp(id);
        if (m_book.restoreSubmission(text(id), text(stamp.time), stamp.lateSeconds))
            ++stamps;
        else if (!records.hasMark(id)) // else named with the marks
            miss(text(id));
    }
    m_book.refreshFlags();
    if (missingCount > 0)
        log.insertAtTop(QStringLiteral("名簿にないため復元しなかったユーザID: %1")
                            .arg(listed(missing, missingCount)) +
                        Eol);
    if (records.skippedLines() > 0) {
        QStringList lines;
        for (const qint64 line : records.namedSkips())
            lines << QString::number(line);
        log.insertAtTop(
            QStringLiteral("記録 %1 の壊れた %2 行を読み飛ばしました (%3 行目%4)｡")
                .arg(QDir::toNativeSeparators(m_path))
                .arg(records.skippedLines())
                .arg(lines.join(QStringLiteral(", ")))
                .arg(records.skippedLines() > lines.size() ? QStringLiteral("ほか") : QString()) +
            Eol);
    }
    log.insertAtTop(QStringLiteral("%3の記録から出席 %1 人と課題提出 %2 人を復元しました｡")
                        .arg(marks)
                        .arg(stamps)
                        .arg(beganWhen(m_path)) +
                    Eol);
}

// An ID answered 501 earlier: present from then on once the roster holds it
// (the ledger counts it so too); else not journaled again in this run.
bool LectureJournal::restoreOffRoster(const QString &userId, const JournalSummary::Mark &claim)
{
    const QString time = cp932::decode(claim.time);
    const QString address = cp932::decode(claim.address);
    if (m_book.restoreMark(userId, time, address))
        return true;
    if (m_offRoster.size() < MaxOffRosterIds)
        m_offRoster.insert(userId);
    return false;
}

void LectureJournal::startAfresh(qint64 keptBytes, TextLog &log)
{
    // The same lecture day goes on in a file of its own: the ledger counts
    // the day once, and the records not taken back stay where they are.
    const QByteArray whileAsked = readFrom(m_path, keptBytes);
    m_file.close();
    const QString kept = m_path;
    m_path = journalsession::fileFor(
        *m_openedFor, m_sessionDay,
        int(journalsession::filesOf(*m_openedFor, m_sessionDay).size()) + 1);
    if (follow() && !whileAsked.isEmpty())
        report(m_file.append(whileAsked));
    log.insertAtTop(
        QStringLiteral("前の記録は %1 として残しました｡").arg(QDir::toNativeSeparators(kept)) +
        Eol);
}

// Tells the lecturer once when writing starts failing, and again only after
// it has worked in between.
bool LectureJournal::report(const Result<> &outcome, const QString &path)
{
    if (outcome.ok()) {
        m_failing = false;
        return true;
    }
    if (!std::exchange(m_failing, true))
        Q_EMIT failed(QStringLiteral("出欠と課題提出の記録 %1 に書き込めません: %2\r\n"
                                     "講義はこのまま続けられます｡表はﾃﾞｰﾀ保存で保存してください｡")
                          .arg(QDir::toNativeSeparators(path.isEmpty() ? m_path : path))
                          .arg(outcome.error()));
    return false;
}
