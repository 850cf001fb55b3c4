#include "server/roster/journalreader.h"

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
    return !field.isEmpty() && field.size() <= JournalReader::MaxIdBytes;
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

bool JournalReader::read(const QString &path, qint64 from)
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

JournalReader::Fields JournalReader::fieldsOf(QByteArrayView line)
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

void JournalReader::skip()
{
    ++m_skipped;
    if (m_namedSkips.size() < NamedSkips)
        m_namedSkips << m_lineNumber;
}

void JournalReader::takeLine(QByteArrayView line)
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
        takeSubmission(fields);
    else if (kind.isEmpty())
        skip();
    // Other kinds (the lecture line, and those of later versions) say
    // nothing about attendance or submissions.
}

bool JournalReader::roomFor(const QByteArray &id)
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

void JournalReader::takeMark(const Fields &fields)
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

void JournalReader::takeClaim(const Fields &fields)
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

void JournalReader::takeSubmission(const Fields &fields)
{
    if (fields.count != 6 || !isTime(fields[1]) || !isId(fields[2]) || fields[3].isEmpty() ||
        !isDigits(fields[4], 18) || !isHash(fields[5])) {
        skip();
        return;
    }
    // Most lines of a long journal are later receipts of IDs already seen.
    if (const auto stamp = m_stamps.find(keyOf(fields[2])); stamp != m_stamps.end()) {
        std::memcpy(stamp->data(), fields[1].data(), size_t(fields[1].size()));
        return;
    }
    const QByteArray id = fields[2].toByteArray();
    if (!roomFor(id))
        return;
    m_stamps.insert(id, fields[1].toByteArray());
    m_stampOrder << id;
}
