#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

// The conversation between the student program and the lecturer's program:
// reply texts and the reading of the client's lines.
namespace protocol {

inline const QString Hello = QStringLiteral("000 hello I am tavrelle server");
inline const QString AttendanceTaken = QStringLiteral("101 - syusseki totta ^^");
inline const QString AttendanceAlready = QStringLiteral("102 - sudeni syusseki totteru ^^");
inline const QString BadUserId = QStringLiteral("501 - bad-userID ^^");
inline const QString ImageModeOk = QStringLiteral("301 - image mode ok");
inline const QString ReceiveComplete = QStringLiteral("302 jyusin kanryo");
inline const QString Eol = QStringLiteral("\r\n");

// A text without a line end is never kept beyond this many bytes.
constexpr qsizetype MaxLineBytes = 64 * 1024;
// Announced sizes are 32-bit signed on the wire.
constexpr qint64 MaxUploadSize = 2147483647;

QString lectureLine(const QString &kougimei, const QString &tantousya);

// Finds the first complete line in `data`: a line ends at LF. Returns the
// length of the line with its LF, or nothing when no LF has arrived yet.
std::optional<qsizetype> lineLength(QByteArrayView data);

// The line's text without its LF and without one CR directly before it.
QByteArrayView lineBody(QByteArrayView line);

enum class Command { None, Close, Put, User };
// What a line (without its line end) asks for. Commands are case-sensitive.
Command commandOf(QStringView body);

// "user " + ID: the ID runs from the 6th character to the end.
QString userIdOf(QStringView body);

struct PutRequest
{
    QString fileName;
    qint64 size = 0;
};
// "put " + name + "," + size. The name runs from the 5th character to the
// first "," found from the 6th character on. Nothing is returned when there
// is no such ",", or the size is not a decimal number from 0 to 2^31 - 1.
std::optional<PutRequest> parsePutLine(QStringView body);

// Names that stay inside the assignment folder: not empty, not "." or "..",
// no "/", "\", ":" and no control characters.
bool isSafeFileName(QStringView name);

} // namespace protocol

namespace protocol {
// The time of day as the grid shows it: "hh:mm:ss", 24-hour clock.
QString timeOfDay();
} // namespace protocol
