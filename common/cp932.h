#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Text on disk and on the wire is Windows code page 932 (Shift_JIS with
// Microsoft's extensions). These helpers never fail: bytes that decode to
// nothing become U+FFFD, characters that have no code become '?'. A few
// characters share the code of another (U+301C and U+FF5E both become
// 0x8160): the way back gives the one Windows reads.
namespace cp932 {

QString decode(QByteArrayView bytes);
QByteArray encode(QStringView text);
// Whether every character of `text` has a code (encode() writes no '?' for
// it). What the codes read back as may differ: see the JIS forms.
bool encodable(QStringView text);

// Decodes a byte stream that arrives in pieces: a lead byte cut off at the
// end of one piece is kept and joined with the next piece.
class StreamDecoder
{
public:
    QString decode(QByteArrayView chunk);
    // Whatever is left (a dangling lead byte) as U+FFFD.
    QString flush();

private:
    QByteArray m_pending;
};

} // namespace cp932
