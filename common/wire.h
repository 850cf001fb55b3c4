#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <optional>

// The conversation between the student program and the lecturer's program,
// as both sides and the benchmark speak it: reply texts and codes, command
// lines, the line end, framing and size limits.
namespace wire {

inline const QString Eol = QStringLiteral("\r\n");

inline const QString Hello = QStringLiteral("000 hello I am tavrelle server");
inline const QString AttendanceTaken = QStringLiteral("101 - syusseki totta ^^");
inline const QString AttendanceAlready = QStringLiteral("102 - sudeni syusseki totteru ^^");
inline const QString BadUserId = QStringLiteral("501 - bad-userID ^^");
inline const QString ImageModeOk = QStringLiteral("301 - image mode ok");
inline const QString ReceiveComplete = QStringLiteral("302 jyusin kanryo");

// A reply is known by its first three characters.
enum class Reply {
    Other,
    Greeting,
    Lecture,
    Taken,
    Already,
    Unknown,
    ImageMode,
    Received,
    Close,
    HandoutList, // 401
    HandoutData, // 402
    Refused,     // 499
    Receipt,     // 403
};
Reply replyOf(QStringView line);

// A request the server will not carry out: "499 " + a reason for the
// student, in Japanese.
inline const QString RefusedCode = QStringLiteral("499");
QString refusalLine(const QString &reason);
QString refusalReason(QStringView line);

// A text without a line end is never kept beyond this many bytes.
constexpr qsizetype MaxLineBytes = 64 * 1024;
// Announced sizes are 32-bit signed on the wire.
constexpr qint64 MaxUploadSize = 2147483647;
// Longest file name most file systems store, in bytes of the host's encoding.
constexpr qsizetype MaxFileNameBytes = 255;

QString lectureLine(const QString &kougimei, const QString &tantousya);
QString userLine(const QString &userId);
QString putLine(const QString &fileName, qint64 size);

struct LectureInfo
{
    QString kougimei;
    QString tantousya;
};
// "800 " + lecture + "," + lecturer; nothing when the line holds no ",".
std::optional<LectureInfo> parseLectureLine(QStringView line);

// The line's text without its LF and without one CR directly before it.
QByteArrayView lineBody(QByteArrayView line);
QStringView lineBody(QStringView line);

// Cuts a byte stream into lines that end at LF. Only bytes not yet looked at
// are searched, and an unfinished line is kept to MaxLineBytes: past that
// it is dropped up to its line end, and take() reports it once.
class LineFramer
{
public:
    enum class Status { Line, Incomplete, Overflow };

    // Takes bytes from the front of `data`. Line: `line` holds one whole
    // line with its line end and `data` starts after it. Incomplete: all of
    // `data` was taken and kept. Overflow: the kept line passed the limit
    // and was dropped; the rest of it will be skipped.
    Status take(QByteArrayView &data, QByteArray &line);
    // Bytes kept of an unfinished line.
    qsizetype pending() const { return m_partial.size(); }
    void clear();

private:
    QByteArray m_partial;
    bool m_skipping = false;
};

enum class Command { None, Close, Put, User, List, Get, Hash };
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

// A complete line from a client, understood: its text as it came (line end
// included), its body without the line end, what it asks for, and that
// command's argument.
struct Request
{
    QString text;
    QString body;
    Command command = Command::None;
    QString userId;                // User
    std::optional<PutRequest> put; // Put: nothing when the line is malformed
    QString fileName;              // Hash: the name asked about
};
// `line` is in code page 932 and ends at its LF.
Request parseRequest(QByteArrayView line);

// Uploads in progress are kept under names with this prefix, which no
// announced name may have.
inline const QString TemporaryPrefix = QStringLiteral(".tavrelle-");

// Names that stay inside the assignment folder and that every common file
// system can take (an assignment folder may be a USB stick or a Windows
// share): not empty, no "/ \ : * ? \" < > |" and no control characters, not
// ending in a dot or a blank, at most MaxFileNameBytes in the host's
// encoding, and not starting with TemporaryPrefix.
bool isSafeFileName(QStringView name);

// Handouts: the lecturer's files, offered to every student.
//   "list"        -> "401 " + count, then per handout "<name>,<size>,<SHA-256 hex>"
//   "get " + name -> "402 " + size and exactly that many bytes, or "499 " + reason
inline const QString ListCommand = QStringLiteral("list");
QString getLine(const QString &fileName);
// The name asked for by a get line (without its line end).
QString getNameOf(QStringView body);

struct HandoutEntry
{
    QString fileName;
    qint64 size = 0;
    QByteArray sha256; // 64 lower-case hex digits
    bool operator==(const HandoutEntry &) const = default;
};
QString handoutListLine(qsizetype count);
QString handoutEntryLine(const HandoutEntry &entry);
// A name may hold ",": the last two commas separate the fields. Nothing for
// a size that is no decimal from 0 to MaxUploadSize or a malformed hash.
std::optional<HandoutEntry> parseHandoutEntry(QStringView line);
QString handoutDataLine(qint64 size);
// The number after "401 " or "402 ": a count or size from 0 to MaxUploadSize.
std::optional<qint64> parseCountReply(QStringView line);

// Receipts: after 302 the student program asks what was stored.
//   "hash " + name -> "403 " + "<size>,<SHA-256 hex>,<YYYY/MM/DD HH:MM:SS>"
//                     for the connection's own file, else "499 " + reason
QString hashLine(const QString &fileName);
struct ReceiptInfo
{
    qint64 size = 0;
    QByteArray sha256; // 64 lower-case hex digits
    QString storedAt;  // YYYY/MM/DD HH:MM:SS by the lecturer's clock
};
QString receiptLine(const ReceiptInfo &receipt);
// Nothing for a line that is no well-formed 403 reply.
std::optional<ReceiptInfo> parseReceiptLine(QStringView line);

} // namespace wire
