#include "server/net/protocol.h"

namespace protocol {

QString lectureLine(const QString &kougimei, const QString &tantousya)
{
    return QStringLiteral("800 ") + kougimei + u',' + tantousya;
}

std::optional<qsizetype> lineLength(QByteArrayView data)
{
    const qsizetype lf = data.indexOf('\n');
    if (lf < 0)
        return std::nullopt;
    return lf + 1;
}

QByteArrayView lineBody(QByteArrayView line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

Command commandOf(QStringView body)
{
    if (body == u"bye" || body == u"quit")
        return Command::Close;
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

std::optional<PutRequest> parsePutLine(QStringView body)
{
    if (body.size() < 6)
        return std::nullopt;
    const qsizetype comma = body.indexOf(u',', 5);
    if (comma < 0)
        return std::nullopt;
    const QStringView digits = body.sliced(comma + 1);
    if (digits.isEmpty() || digits.size() > 10)
        return std::nullopt;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const qint64 size = digits.toLongLong();
    if (size > MaxUploadSize)
        return std::nullopt;
    return PutRequest{body.sliced(4, comma - 4).toString(), size};
}

bool isSafeFileName(QStringView name)
{
    if (name.isEmpty() || name == u"." || name == u"..")
        return false;
    for (QChar c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

} // namespace protocol

#include <QTime>

QString protocol::timeOfDay()
{
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}
