#pragma once

#include "common/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDate>

// The lecture journal's line format, written and read here only. A line is
// one event, code page 932, ended by CR LF:
//   講義,<lecture name>                              (first line of a file)
//   出席,<hh:mm:ss>,<grid row>,<user ID>,<address>
//   提出,<hh:mm:ss>,<user ID>,<file name>,<size>,<SHA-256 in hex>,<yyyy/MM/dd>,
//        <"締切後" + seconds + "秒" when late, else empty>,<versions kept>,<folder>
//   拒否,<hh:mm:ss>,<user ID>,<file name>,<reason>,<yyyy/MM/dd>,<folder>
//        (a put line refused; the day and folder came later and may be missing)
//   再申告,<hh:mm:ss>,<grid row>,<user ID>,<address>  (present, claimed again
//                                                    from another address)
//   配布,<hh:mm:ss>,<user ID or address>,<file name>,<SHA-256 in hex>
//   名簿外,<hh:mm:ss>,<user ID, bounded>,<address>    (answered 501: an ID the
//                                                    roster does not hold)
//   返却,<hh:mm:ss>,<user ID>,<file name>,<SHA-256 in hex>  (work returned)
// File names and folders may hold commas: a receipt's size and hash are the
// first ",<digits>,<64 hex>" after the ID; the fields after the hash came
// with later versions and may be missing.
enum class JournalKind {
    Lecture,
    Mark,
    Submission,
    Refusal,
    ClaimAgain,
    Handout,
    OffRoster,
    Return,
    Blank,
    Unknown
};

// One line's content. Parsed events look into the line they came from: the
// views hold as long as its bytes do. Text is code page 932 as written.
struct JournalEvent
{
    JournalKind kind = JournalKind::Unknown;
    QByteArrayView lecture; // of the first line
    QByteArrayView time;    // hh:mm:ss
    int seconds = 0;        // of the day, from time
    int row = 0;            // of the grid
    QByteArrayView userId;  // empty in a receipt of an upload without a user line
    QByteArrayView address;
    QByteArrayView fileName;
    qint64 size = 0;
    QByteArrayView sha256; // 64 lower-case hex digits
    QByteArrayView reason;
    // What a receipt says beyond its hash (a refusal: its day and folder).
    QDate completedOn;
    qint64 lateSeconds = 0;
    int versions = 0;
    QByteArrayView folder;
};

namespace journalcodec {

// The kind word of `kind` in code page 932; empty for Blank and Unknown.
QByteArray wordOf(JournalKind kind);
JournalKind kindOf(QByteArrayView line);

// `event` as a line, CR LF included.
QByteArray formatLine(const JournalEvent &event);
// One line without its end: the event, or why the line is not one (ready to
// show). Lines of Blank and Unknown kinds are refused too.
Result<JournalEvent> parseLine(QByteArrayView line);

// hh:mm:ss, 00:00:00 to 23:59:59; its seconds of the day in `seconds`.
bool isTimeOfDay(QByteArrayView field, int *seconds = nullptr);
// 64 hex digits in lower case, as this program writes them.
bool isSha256(QByteArrayView field);
// One to `maxDigits` decimal digits and nothing else.
bool isDigits(QByteArrayView field, qsizetype maxDigits);

} // namespace journalcodec
