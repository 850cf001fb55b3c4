#include "server/records/journalsummary.h"

#include "common/cp932.h"

#include <QFile>

#include <cstring>

namespace {

constexpr qint64 ChunkBytes = 1024 * 1024;

const QByteArray MarkKind = cp932::encode(QStringLiteral("出席"));
const QByteArray ClaimKind = cp932::encode(QStringLiteral("再申告"));
const QByteArray SubmissionKind = cp932::encode(QStringLiteral("提出"));

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

bool isTime(QByteArrayView field)
{
    const auto two = [&](qsizetype at, char maxFirst) {
        return isDigits(field.sliced(at, 2), 2) && field[at] <= maxFirst;
    };
    return field.size() == 8 && field[2] == ':' && field[5] == ':' && two(0, '2') && two(3, '5') &&
           two(6, '5') && (field[0] < '2' || field[1] <= '3');
}

bool isDottedAddress(QByteArrayView field)
{
    int dots = 0;
    qsizetype start = 0;
    for (;; ++dots) {
        const qsizetype dot = field.indexOf('.', start);
        const QByteArrayView part = field.sliced(start, (dot < 0 ? field.size() : dot) - start);
        if (!isDigits(part, 3) || part.toInt() > 255)
            return false;
        if (dot < 0)
            break;
        start = dot + 1;
    }
    return dots == 3;
}

bool isHash(QByteArrayView field)
{
    if (field.size() != 64)
        return false;
    for (const char c : field) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

bool isId(QByteArrayView field)
{
    return !field.isEmpty() && field.size() <= JournalSummary::MaxIdBytes;
}

// "<file name>,<size>,<hash>" with nothing or ",..." after the hash, the
// file name not empty.
bool hasReceiptTail(QByteArrayView rest)
{
    for (qsizetype comma = rest.indexOf(','); comma > 0; comma = rest.indexOf(',', comma + 1)) {
        const qsizetype sizeEnd = rest.indexOf(',', comma + 1);
        if (sizeEnd < 0)
            return false;
        const QByteArrayView after = rest.sliced(sizeEnd + 1);
        if (isDigits(rest.sliced(comma + 1, sizeEnd - comma - 1), 18) &&
            isHash(after.first(qMin<qsizetype>(64, after.size()))) &&
            (after.size() == 64 || after[64] == ','))
            return true;
    }
    return false;
}

qsizetype lineEndIn(QByteArrayView data, qsizetype from)
{
    const void *lf = std::memchr(data.data() + from, '\n', size_t(data.size() - from));
    return lf ? static_cast<const char *>(lf) - data.data() : -1;
}

// Looks `view` up without copying it.
QByteArray keyOf(QByteArrayView view)
{
    return QByteArray::fromRawData(view.data(), view.size());
}

} // namespace

bool JournalSummary::read(const QString &path, qint64 from)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !file.seek(from))
        return false;
    m_end = from;
    qint64 chunkStart = from;
    QByteArray pending; // the start of a line that a later chunk ends
    bool overlong = false;
    QByteArray chunk(ChunkBytes, Qt::Uninitialized);
    for (qint64 got; (got = file.read(chunk.data(), ChunkBytes)) > 0; chunkStart += got) {
        const QByteArrayView data(chunk.constData(), got);
        qsizetype lineStart = 0;
        for (qsizetype lf; (lf = lineEndIn(data, lineStart)) >= 0; lineStart = lf + 1) {
            ++m_lineNumber;
            const QByteArrayView tail = data.sliced(lineStart, lf + 1 - lineStart);
            if (overlong || pending.size() + tail.size() > MaxLineBytes)
                skip();
            else if (pending.isEmpty())
                takeLine(tail);
            else
                takeLine(pending.append(tail));
            if (!pending.isEmpty())
                pending.clear();
            overlong = false;
            m_end = chunkStart + lf + 1;
        }
        const QByteArrayView rest = data.sliced(lineStart);
        overlong = overlong || pending.size() + rest.size() > MaxLineBytes;
        if (overlong)
            pending.clear();
        else
            pending.append(rest);
    }
    // A last line without its end was cut off: it does not count.
    if (!pending.isEmpty() || overlong) {
        ++m_lineNumber;
        skip();
    }
    return file.error() == QFileDevice::NoError;
}

JournalSummary::Fields JournalSummary::fieldsOf(QByteArrayView line)
{
    // No second byte of a code page 932 character is a comma.
    Fields fields;
    qsizetype start = 0;
    for (qsizetype comma;
         fields.count < qsizetype(fields.at.size()) - 1 && (comma = line.indexOf(',', start)) >= 0;
         start = comma + 1)
        fields.at[size_t(fields.count++)] = line.sliced(start, comma - start);
    fields.at[size_t(fields.count++)] = line.sliced(start);
    return fields;
}

void JournalSummary::skip()
{
    ++m_skipped;
    if (m_namedSkips.size() < NamedSkips)
        m_namedSkips << m_lineNumber;
}

void JournalSummary::takeLine(QByteArrayView line)
{
    if (!line.endsWith("\r\n")) {
        skip();
        return;
    }
    const Fields fields = fieldsOf(line.chopped(2));
    const QByteArrayView kind = fields[0];
    if (kind == MarkKind)
        takeMark(fields);
    else if (kind == ClaimKind)
        takeClaim(fields);
    else if (kind == SubmissionKind)
        takeSubmission(line.chopped(2));
    else if (kind.isEmpty())
        skip();
    // Other kinds (the lecture line, and those of later versions) say
    // nothing about attendance or submissions.
}

bool JournalSummary::roomFor(const QByteArray &id)
{
    if (m_ids.contains(keyOf(id)))
        return true;
    if (m_ids.size() >= MaxIds) {
        ++m_idsLeftOut;
        return false;
    }
    m_ids.insert(id);
    return true;
}

void JournalSummary::takeMark(const Fields &fields)
{
    if (fields.count != 5 || !isTime(fields[1]) || !isDigits(fields[2], 9) || !isId(fields[3]) ||
        !isDottedAddress(fields[4])) {
        skip();
        return;
    }
    const auto known = m_marks.constFind(keyOf(fields[3]));
    const QByteArray id = fields[3].toByteArray();
    if (known == m_marks.cend() && !roomFor(id))
        return;
    if (known == m_marks.cend()) {
        m_marks.insert(id, {fields[1].toByteArray(), fields[4].toByteArray()});
        m_markOrder << id;
    } else if (known->address != fields[4]) {
        // Marked again after the table was emptied: a fact about addresses.
        takeClaim(fields);
    }
}

void JournalSummary::takeClaim(const Fields &fields)
{
    if (fields.count != 5 || !isTime(fields[1]) || !isDigits(fields[2], 9) || !isId(fields[3]) ||
        !isDottedAddress(fields[4])) {
        skip();
        return;
    }
    const QByteArray id = fields[3].toByteArray();
    const QByteArray key = id + ',' + fields[4].toByteArray();
    if (!roomFor(id) || m_othersSeen.contains(key) || m_othersSeen.size() >= MaxIds)
        return;
    m_othersSeen.insert(key);
    m_others.append({id, fields[4].toByteArray()});
}

// A receipt is "提出,time,ID,file name,size,hash" and may go on with fields
// of later versions (date, lateness, versions, folder). A file name may hold
// commas, so the size and the hash are found as the first ",<digits>,<64 hex>"
// after the ID that ends the line or is followed by a comma.
void JournalSummary::takeSubmission(QByteArrayView line)
{
    const qsizetype timeStart = line.indexOf(',') + 1;
    const qsizetype idStart = line.indexOf(',', timeStart) + 1;
    const qsizetype nameStart = idStart > 0 ? line.indexOf(',', idStart) + 1 : 0;
    if (timeStart <= 0 || idStart <= 0 || nameStart <= 0) {
        skip();
        return;
    }
    const QByteArrayView time = line.sliced(timeStart, idStart - 1 - timeStart);
    const QByteArrayView userId = line.sliced(idStart, nameStart - 1 - idStart);
    if (!isTime(time) || !isId(userId) || !hasReceiptTail(line.sliced(nameStart))) {
        skip();
        return;
    }
    // Most lines of a long journal are later receipts of IDs already seen.
    if (const auto stamp = m_stamps.find(keyOf(userId)); stamp != m_stamps.end()) {
        std::memcpy(stamp->data(), time.data(), size_t(time.size()));
        return;
    }
    const QByteArray id = userId.toByteArray();
    if (!roomFor(id))
        return;
    m_stamps.insert(id, time.toByteArray());
    m_stampOrder << id;
}
