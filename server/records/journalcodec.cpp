#include "server/records/journalcodec.h"

#include "common/cp932.h"

#include <array>

namespace {

using journalcodec::isDigits;

struct KindWord
{
    JournalKind kind;
    QByteArray word;
};

const KindWord Words[] = {
    {JournalKind::Lecture, cp932::encode(QStringLiteral("講義"))},
    {JournalKind::Mark, cp932::encode(QStringLiteral("出席"))},
    {JournalKind::Submission, cp932::encode(QStringLiteral("提出"))},
    {JournalKind::Refusal, cp932::encode(QStringLiteral("拒否"))},
    {JournalKind::ClaimAgain, cp932::encode(QStringLiteral("再申告"))},
    {JournalKind::Handout, cp932::encode(QStringLiteral("配布"))},
    {JournalKind::OffRoster, cp932::encode(QStringLiteral("名簿外"))},
    {JournalKind::Return, cp932::encode(QStringLiteral("返却"))},
};
const QByteArray LateWord = cp932::encode(QStringLiteral("締切後"));
const QByteArray SecondsWord = cp932::encode(QStringLiteral("秒"));
constexpr qsizetype MaxRowDigits = 9;
constexpr qsizetype MaxSizeDigits = 18;
constexpr qsizetype HashDigits = 64;

// Digits only, so that the number cannot fail.
qint64 numberOf(QByteArrayView digits)
{
    qint64 value = 0;
    for (const char c : digits)
        value = value * 10 + (c - '0');
    return value;
}

// The fields of a line from the front: each call gives the next one.
class Fields
{
public:
    explicit Fields(QByteArrayView line) : m_rest(line) {}
    bool next(QByteArrayView &field)
    {
        if (m_done)
            return false;
        const qsizetype comma = m_rest.indexOf(',');
        field = comma < 0 ? m_rest : m_rest.first(comma);
        m_done = comma < 0;
        m_rest = m_done ? QByteArrayView() : m_rest.sliced(comma + 1);
        return true;
    }
    // The rest of the line, commas and all; false when nothing is left.
    bool rest(QByteArrayView &field)
    {
        field = m_rest;
        return !std::exchange(m_done, true);
    }

private:
    QByteArrayView m_rest;
    bool m_done = false;
};

Result<JournalEvent> refused(const char *why)
{
    return Result<JournalEvent>::failure(QString::fromUtf8(why));
}

Result<JournalEvent> attendanceOf(JournalEvent event, Fields &fields, const char *broken)
{
    QByteArrayView row;
    if (!fields.next(row) || !fields.next(event.userId) || !fields.rest(event.address) ||
        !isDigits(row, MaxRowDigits) || event.userId.isEmpty())
        return refused(broken);
    event.row = int(numberOf(row));
    return event;
}

// yyyy/MM/dd; a field that is no day gives an invalid date.
QDate dayOf(QByteArrayView day)
{
    if (day.size() != 10 || day[4] != '/' || day[7] != '/' || !isDigits(day.first(4), 4) ||
        !isDigits(day.sliced(5, 2), 2) || !isDigits(day.sliced(8), 2))
        return {};
    return QDate(int(numberOf(day.first(4))), int(numberOf(day.sliced(5, 2))),
                 int(numberOf(day.sliced(8))));
}

// The fields after a receipt's hash, as far as they are there: a day that is
// no day and a lateness that is none read as missing.
void takeReceiptExtras(JournalEvent &event, QByteArrayView extras)
{
    Fields fields(extras);
    QByteArrayView day, late, versions;
    if (fields.next(day))
        event.completedOn = dayOf(day);
    if (fields.next(late) && late.startsWith(LateWord) && late.endsWith(SecondsWord)) {
        const QByteArrayView digits = late.sliced(LateWord.size()).chopped(SecondsWord.size());
        event.lateSeconds = isDigits(digits, MaxSizeDigits) ? numberOf(digits) : 0;
    }
    if (fields.next(versions) && isDigits(versions, MaxRowDigits))
        event.versions = int(numberOf(versions));
    fields.rest(event.folder);
}

// "<file name>,<size>,<hash>" with nothing or ",..." after the hash, the
// file name not empty: the first such size and hash are the receipt's.
bool takeReceiptTail(JournalEvent &event, QByteArrayView rest)
{
    for (qsizetype comma = rest.indexOf(','); comma > 0; comma = rest.indexOf(',', comma + 1)) {
        const qsizetype sizeEnd = rest.indexOf(',', comma + 1);
        if (sizeEnd < 0)
            return false;
        const QByteArrayView size = rest.sliced(comma + 1, sizeEnd - comma - 1);
        const QByteArrayView after = rest.sliced(sizeEnd + 1);
        const QByteArrayView hash = after.first(qMin(HashDigits, after.size()));
        if (!isDigits(size, MaxSizeDigits) || !journalcodec::isSha256(hash) ||
            (after.size() > HashDigits && after[HashDigits] != ','))
            continue;
        event.fileName = rest.first(comma);
        event.size = numberOf(size);
        event.sha256 = hash;
        if (after.size() > HashDigits)
            takeReceiptExtras(event, after.sliced(HashDigits + 1));
        return true;
    }
    return false;
}

Result<JournalEvent> offRosterOf(JournalEvent event, Fields &fields)
{
    if (!fields.next(event.userId) || !fields.rest(event.address) || event.userId.isEmpty())
        return refused("名簿外の行が欠けています");
    return event;
}

Result<JournalEvent> submissionOf(JournalEvent event, Fields &fields)
{
    QByteArrayView rest;
    if (!fields.next(event.userId) || !fields.rest(rest) || !takeReceiptTail(event, rest))
        return refused("提出の行が欠けています");
    return event;
}

// "<ID>,<file name>,<last field>": the name may hold commas, the last field
// does not.
bool splitNamed(Fields &fields, QByteArrayView &id, QByteArrayView &name, QByteArrayView &last)
{
    QByteArrayView rest;
    if (!fields.next(id) || !fields.rest(rest))
        return false;
    const qsizetype comma = rest.lastIndexOf(',');
    if (comma <= 0)
        return false;
    name = rest.first(comma);
    last = rest.sliced(comma + 1);
    return true;
}

// "<file name>,<reason>,<yyyy/MM/dd>,<folder>": the reason (the program's
// own words, without commas) is the field before the first day field.
bool takeRefusalTail(JournalEvent &event, QByteArrayView rest)
{
    for (qsizetype comma = rest.indexOf(','); comma > 0; comma = rest.indexOf(',', comma + 1)) {
        const qsizetype reasonEnd = rest.indexOf(',', comma + 1);
        if (reasonEnd < 0)
            return false;
        const QByteArrayView after = rest.sliced(reasonEnd + 1);
        const qsizetype dayEnd = after.indexOf(',');
        const QDate day = dayOf(dayEnd < 0 ? after : after.first(dayEnd));
        if (!day.isValid())
            continue;
        event.fileName = rest.first(comma);
        event.reason = rest.sliced(comma + 1, reasonEnd - comma - 1);
        event.completedOn = day;
        event.folder = dayEnd < 0 ? QByteArrayView() : after.sliced(dayEnd + 1);
        return true;
    }
    return false;
}

Result<JournalEvent> refusalOf(JournalEvent event, Fields &fields)
{
    QByteArrayView rest;
    if (!fields.next(event.userId) || !fields.rest(rest))
        return refused("拒否の行が欠けています");
    if (takeRefusalTail(event, rest))
        return event;
    // Older journals end the line with the reason.
    const qsizetype comma = rest.lastIndexOf(',');
    if (comma <= 0)
        return refused("拒否の行が欠けています");
    event.fileName = rest.first(comma);
    event.reason = rest.sliced(comma + 1);
    return event;
}

// A handout's or a return's line: who, the file, its hash.
Result<JournalEvent> deliveryOf(JournalEvent event, Fields &fields, const char *broken)
{
    if (!splitNamed(fields, event.userId, event.fileName, event.sha256) ||
        !journalcodec::isSha256(event.sha256))
        return refused(broken);
    return event;
}

void append(QByteArray &line, QByteArrayView field)
{
    line += ',';
    line += field;
}

void appendNumber(QByteArray &line, qint64 number)
{
    line += ',';
    line += QByteArray::number(number);
}

} // namespace

namespace journalcodec {

bool isDigits(QByteArrayView field, qsizetype maxDigits)
{
    if (field.isEmpty() || field.size() > maxDigits)
        return false;
    for (const char c : field) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

QByteArray wordOf(JournalKind kind)
{
    for (const KindWord &word : Words) {
        if (word.kind == kind)
            return word.word;
    }
    return {};
}

JournalKind kindOf(QByteArrayView line)
{
    const qsizetype comma = line.indexOf(',');
    const QByteArrayView word = comma < 0 ? line : line.first(comma);
    if (word.isEmpty())
        return JournalKind::Blank;
    for (const KindWord &known : Words) {
        if (known.word == word)
            return known.kind;
    }
    return JournalKind::Unknown;
}

bool isTimeOfDay(QByteArrayView field, int *seconds)
{
    if (field.size() != 8 || field[2] != ':' || field[5] != ':' || !isDigits(field.first(2), 2) ||
        !isDigits(field.sliced(3, 2), 2) || !isDigits(field.sliced(6, 2), 2))
        return false;
    const qint64 hours = numberOf(field.first(2));
    const qint64 minutes = numberOf(field.sliced(3, 2));
    const qint64 secs = numberOf(field.sliced(6, 2));
    if (hours > 23 || minutes > 59 || secs > 59)
        return false;
    if (seconds)
        *seconds = int(hours * 3600 + minutes * 60 + secs);
    return true;
}

bool isSha256(QByteArrayView field)
{
    // Every receipt line asks: a table, and one test for all 64 digits.
    static const auto hex = [] {
        std::array<bool, 256> table{};
        for (const char c : QByteArrayView("0123456789abcdef"))
            table[uchar(c)] = true;
        return table;
    }();
    if (field.size() != HashDigits)
        return false;
    const uchar *digits = reinterpret_cast<const uchar *>(field.data());
    bool all = true;
    for (qsizetype i = 0; i < HashDigits; ++i)
        all &= hex[digits[i]];
    return all;
}

QByteArray formatLine(const JournalEvent &event)
{
    QByteArray line = wordOf(event.kind);
    if (event.kind == JournalKind::Lecture) {
        append(line, event.lecture);
        return line + "\r\n";
    }
    append(line, event.time);
    if (event.kind == JournalKind::Mark || event.kind == JournalKind::ClaimAgain)
        appendNumber(line, event.row);
    append(line, event.userId);
    if (event.kind == JournalKind::Mark || event.kind == JournalKind::ClaimAgain ||
        event.kind == JournalKind::OffRoster) {
        append(line, event.address);
        return line + "\r\n";
    }
    append(line, event.fileName);
    if (event.kind == JournalKind::Refusal) {
        append(line, event.reason);
        if (event.completedOn.isValid()) {
            append(line, event.completedOn.toString(QStringLiteral("yyyy/MM/dd")).toLatin1());
            append(line, event.folder);
        }
    }
    if (event.kind == JournalKind::Submission)
        appendNumber(line, event.size);
    if (event.kind == JournalKind::Submission || event.kind == JournalKind::Handout ||
        event.kind == JournalKind::Return)
        append(line, event.sha256);
    if (event.kind == JournalKind::Submission) {
        append(line, event.completedOn.toString(QStringLiteral("yyyy/MM/dd")).toLatin1());
        append(line, event.lateSeconds > 0
                         ? LateWord + QByteArray::number(event.lateSeconds) + SecondsWord
                         : QByteArray());
        appendNumber(line, event.versions);
        append(line, event.folder);
    }
    return line + "\r\n";
}

Result<JournalEvent> parseLine(QByteArrayView line)
{
    JournalEvent event;
    event.kind = kindOf(line);
    Fields fields(line);
    QByteArrayView word;
    fields.next(word);
    switch (event.kind) {
    case JournalKind::Blank:
        return refused("種類がありません");
    case JournalKind::Unknown:
        return refused("知らない種類です");
    case JournalKind::Lecture:
        if (!fields.rest(event.lecture))
            return refused("講義名がありません");
        return event;
    default:
        break;
    }
    if (!fields.next(event.time) || !isTimeOfDay(event.time, &event.seconds))
        return refused("時刻がありません");
    switch (event.kind) {
    case JournalKind::Mark:
        return attendanceOf(event, fields, "出席の行が欠けています");
    case JournalKind::ClaimAgain:
        return attendanceOf(event, fields, "再申告の行が欠けています");
    case JournalKind::Submission:
        return submissionOf(event, fields);
    case JournalKind::Refusal:
        return refusalOf(event, fields);
    case JournalKind::OffRoster:
        return offRosterOf(event, fields);
    case JournalKind::Return:
        return deliveryOf(event, fields, "返却の行が欠けています");
    default:
        return deliveryOf(event, fields, "配布の行が欠けています");
    }
}

} // namespace journalcodec
