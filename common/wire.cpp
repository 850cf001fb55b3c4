#include "common/wire.h"

#include "common/cp932.h"

#include <QFile>
#include <QRegularExpression>

namespace wire {

Reply replyOf(QStringView line)
{
    const QStringView code = line.first(qMin<qsizetype>(3, line.size()));
    static const struct
    {
        QStringView code;
        Reply reply;
    } codes[] = {
        {u"000", Reply::Greeting},    {u"101", Reply::Taken},    {u"102", Reply::Already},
        {u"301", Reply::ImageMode},   {u"302", Reply::Received}, {u"501", Reply::Unknown},
        {u"999", Reply::Close},       {u"800", Reply::Lecture},  {u"401", Reply::HandoutList},
        {u"402", Reply::HandoutData}, {u"499", Reply::Refused},  {u"403", Reply::Receipt}};
    for (const auto &entry : codes) {
        if (code == entry.code)
            return entry.reply;
    }
    return Reply::Other;
}

QString refusalLine(const QString &reason)
{
    return RefusedCode + u' ' + reason;
}

QString refusalReason(QStringView line)
{
    const QString prefix = RefusedCode + u' ';
    return line.startsWith(prefix) ? line.sliced(prefix.size()).toString() : QString();
}

QString lectureLine(const QString &kougimei, const QString &tantousya)
{
    return QStringLiteral("800 ") + kougimei + u',' + tantousya;
}

QString userLine(const QString &userId)
{
    return QStringLiteral("user ") + userId + Eol;
}

QString putLine(const QString &fileName, qint64 size)
{
    return QStringLiteral("put ") + fileName + u',' + QString::number(size) + Eol;
}

std::optional<LectureInfo> parseLectureLine(QStringView line)
{
    const QStringView rest = line.mid(4);
    const qsizetype comma = rest.indexOf(u',');
    if (comma < 0)
        return std::nullopt;
    return LectureInfo{rest.first(comma).toString(), rest.sliced(comma + 1).toString()};
}

QByteArrayView lineBody(QByteArrayView line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

QStringView lineBody(QStringView line)
{
    if (line.endsWith(u'\n'))
        line.chop(1);
    if (line.endsWith(u'\r'))
        line.chop(1);
    return line;
}

LineFramer::Status LineFramer::take(QByteArrayView &data, QByteArray &line)
{
    const qsizetype lf = data.indexOf('\n');
    if (lf < 0) {
        if (!m_skipping) // one byte past the limit is enough to know
            m_partial += data.first(qMin(data.size(), MaxLineBytes + 1 - m_partial.size()));
        data = {};
        if (m_skipping || m_partial.size() <= MaxLineBytes)
            return Status::Incomplete;
        m_partial.clear();
        m_skipping = true;
        return Status::Overflow;
    }
    const QByteArrayView head = data.first(lf + 1);
    data = data.sliced(lf + 1);
    if (m_skipping) {
        m_skipping = false;
        return take(data, line);
    }
    if (m_partial.size() + lf > MaxLineBytes) {
        m_partial.clear();
        return Status::Overflow;
    }
    line = m_partial.isEmpty() ? head.toByteArray() : m_partial.append(head);
    m_partial.clear();
    return Status::Line;
}

void LineFramer::clear()
{
    m_partial.clear();
    m_skipping = false;
}

Command commandOf(QStringView body)
{
    if (body == u"bye" || body == u"quit")
        return Command::Close;
    if (body == ListCommand)
        return Command::List;
    if (body.startsWith(u"get "))
        return Command::Get;
    if (body.startsWith(u"hash "))
        return Command::Hash;
    if (body.startsWith(u"put"))
        return Command::Put;
    if (body.startsWith(u"user"))
        return Command::User;
    return Command::None;
}

QString userIdOf(QStringView body)
{
    return body.size() > 5 ? body.sliced(5).toString() : QString();
}

namespace {

// Decimal digits only, 0 to MaxUploadSize.
std::optional<qint64> decimalSize(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 10)
        return std::nullopt;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const qint64 size = digits.toLongLong();
    return size <= MaxUploadSize ? std::optional<qint64>(size) : std::nullopt;
}

} // namespace

std::optional<PutRequest> parsePutLine(QStringView body)
{
    if (body.size() < 6)
        return std::nullopt;
    const qsizetype comma = body.indexOf(u',', 5);
    if (comma < 0)
        return std::nullopt;
    const std::optional<qint64> size = decimalSize(body.sliced(comma + 1));
    if (!size)
        return std::nullopt;
    return PutRequest{body.sliced(4, comma - 4).toString(), *size};
}

namespace {

bool isSha256Hex(QStringView text)
{
    if (text.size() != 64)
        return false;
    for (QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

} // namespace

QString getLine(const QString &fileName)
{
    return QStringLiteral("get ") + fileName + Eol;
}

QString getNameOf(QStringView body)
{
    return body.size() > 4 ? body.sliced(4).toString() : QString();
}

QString handoutListLine(qsizetype count)
{
    return QStringLiteral("401 ") + QString::number(count);
}

QString handoutEntryLine(const HandoutEntry &entry)
{
    return entry.fileName + u',' + QString::number(entry.size) + u',' +
           QString::fromLatin1(entry.sha256);
}

std::optional<HandoutEntry> parseHandoutEntry(QStringView line)
{
    const qsizetype hashComma = line.lastIndexOf(u',');
    if (hashComma < 1)
        return std::nullopt;
    const qsizetype sizeComma = line.first(hashComma).lastIndexOf(u',');
    if (sizeComma < 1)
        return std::nullopt;
    const std::optional<qint64> size =
        decimalSize(line.sliced(sizeComma + 1, hashComma - sizeComma - 1));
    const QStringView hash = line.sliced(hashComma + 1);
    if (!size || !isSha256Hex(hash))
        return std::nullopt;
    return HandoutEntry{line.first(sizeComma).toString(), *size, hash.toLatin1()};
}

QString handoutDataLine(qint64 size)
{
    return QStringLiteral("402 ") + QString::number(size);
}

std::optional<qint64> parseCountReply(QStringView line)
{
    if (line.size() < 5 || line[3] != u' ')
        return std::nullopt;
    return decimalSize(line.sliced(4));
}

Request parseRequest(QByteArrayView line)
{
    Request request;
    request.text = cp932::decode(line);
    request.body = lineBody(QStringView(request.text)).toString();
    request.command = commandOf(request.body);
    if (request.command == Command::User)
        request.userId = userIdOf(request.body);
    else if (request.command == Command::Put)
        request.put = parsePutLine(request.body);
    else if (request.command == Command::Hash)
        request.fileName = request.body.sliced(5);
    return request;
}

QString hashLine(const QString &fileName)
{
    return QStringLiteral("hash ") + fileName + Eol;
}

QString receiptLine(const ReceiptInfo &receipt)
{
    return QStringLiteral("403 %1,%2,%3")
        .arg(receipt.size)
        .arg(QLatin1StringView(receipt.sha256), receipt.storedAt);
}

std::optional<ReceiptInfo> parseReceiptLine(QStringView line)
{
    if (!line.startsWith(u"403 "))
        return std::nullopt;
    const QList<QStringView> fields = line.sliced(4).split(u',');
    if (fields.size() != 3 || !isSha256Hex(fields[1]))
        return std::nullopt;
    const std::optional<qint64> size = decimalSize(fields[0]);
    static const QRegularExpression stamp(QStringLiteral(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d$)"));
    if (!size || !stamp.match(fields[2]).hasMatch())
        return std::nullopt;
    return ReceiptInfo{*size, fields[1].toLatin1(), fields[2].toString()};
}

bool isSafeFileName(QStringView name)
{
    static const QString refused = QStringLiteral("/\\:*?\"<>|");
    if (name.isEmpty() || name.endsWith(u'.') || name.endsWith(u' '))
        return false;
    for (QChar c : name) {
        if (refused.contains(c) || c.category() == QChar::Other_Control)
            return false;
    }
    return !name.startsWith(TemporaryPrefix) &&
           QFile::encodeName(name.toString()).size() <= MaxFileNameBytes;
}

} // namespace wire
