#include "cp932.h"

#include <QtGlobal>

#include <array>
#include <iconv.h>

// glibc's "CP932" converter carries Microsoft's table (NEC row 13, the IBM
// extensions and their NEC-selected copies, backslash at 0x5C). Calling iconv
// for every string would be far too slow for the server, so the table is read
// out of it once into plain arrays and all conversions are table lookups.

namespace cp932 {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Bytes that Windows reads as characters where glibc reports an error.
constexpr struct
{
    uchar byte;
    char16_t ch;
} kWindowsOnly[] = {
    {0x80, 0x0080}, {0xA0, 0xF8F0}, {0xFD, 0xF8F1}, {0xFE, 0xF8F2}, {0xFF, 0xF8F3},
};

// Characters written to the code of another that the table reads back:
// the wave dash, the double vertical line, the minus sign and the cent,
// pound and not signs (read back as U+FF5E, U+2225, U+FF0D, U+FFE0, U+FFE1
// and U+FFE2).
constexpr struct
{
    char16_t ch;
    quint16 code;
} kJisForms[] = {
    {0x301C, 0x8160}, {0x2016, 0x8161}, {0x2212, 0x817C},
    {0x00A2, 0x8191}, {0x00A3, 0x8192}, {0x00AC, 0x81CA},
};

class Iconv
{
public:
    Iconv(const char *to, const char *from) : m_cd(iconv_open(to, from))
    {
        if (m_cd == iconv_t(-1))
            qFatal("cp932: iconv cannot convert from %s to %s (glibc gconv modules missing?)", from,
                   to);
    }
    ~Iconv() { iconv_close(m_cd); }
    Iconv(const Iconv &) = delete;
    Iconv &operator=(const Iconv &) = delete;

    // Converts all of `in`; the number of bytes written, or -1 if any of it fails.
    int convert(const uchar *in, size_t inLen, uchar *out, size_t outCap)
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char *inPtr = reinterpret_cast<char *>(const_cast<uchar *>(in));
        char *outPtr = reinterpret_cast<char *>(out);
        size_t outLeft = outCap;
        if (iconv(m_cd, &inPtr, &inLen, &outPtr, &outLeft) == size_t(-1) || inLen != 0)
            return -1;
        return int(outCap - outLeft);
    }

private:
    iconv_t m_cd;
};

struct Tables
{
    // Character of each byte >= 0x80 that stands alone; 0 for lead bytes and
    // bytes that start nothing (Windows treats both alike).
    std::array<char16_t, 128> high{};
    // Character of each pair, by [lead - 0x80][trail]; 0 for an invalid pair.
    std::array<std::array<char16_t, 256>, 128> pairs{};
    // Code of each BMP character: a byte if < 0x100, else lead << 8 | trail; 0
    // if it has none. ASCII is not looked up.
    std::array<quint16, 65536> codes{};

    Tables();
};

Tables::Tables()
{
    Iconv toUtf16("UTF-16LE", "CP932");
    Iconv fromUtf16("CP932", "UTF-16LE");

    const auto readCode = [&](const uchar *bytes, size_t len) -> char16_t {
        uchar out[8];
        if (toUtf16.convert(bytes, len, out, sizeof out) != 2)
            return 0;
        return char16_t(out[0] | out[1] << 8);
    };

    for (int b = 0; b < 0x80; ++b) {
        const uchar byte = uchar(b);
        // The loops pass ASCII through unread; a converter that maps 0x5C to
        // the yen sign (plain Shift_JIS) must not slip in unnoticed.
        if (b != 0 && readCode(&byte, 1) != b)
            qFatal("cp932: glibc's CP932 does not map byte 0x%02X to U+%04X", b, b);
    }
    for (int b = 0x80; b < 0x100; ++b) {
        const uchar byte = uchar(b);
        high[b - 0x80] = readCode(&byte, 1);
    }
    for (int lead = 0x80; lead < 0x100; ++lead) {
        if (high[lead - 0x80] != 0)
            continue;
        for (int trail = 0; trail < 0x100; ++trail) {
            const uchar pair[2] = {uchar(lead), uchar(trail)};
            pairs[lead - 0x80][trail] = readCode(pair, 2);
        }
    }
    for (const auto &extra : kWindowsOnly)
        high[extra.byte - 0x80] = extra.ch;

    const auto decodesTo = [&](quint16 code) -> char16_t {
        if (code < 0x80)
            return code;
        if (code < 0x100)
            return high[code - 0x80];
        return code >= 0x8000 ? pairs[(code >> 8) - 0x80][code & 0xFF] : 0;
    };
    // Where several codes read as the same character, glibc writes the one
    // Windows writes (the IBM rows over the NEC-selected copies, JIS X 0208
    // over both); anything it cannot write takes the only code there is.
    // Only characters the table reads get a code, so the few glibc writes but
    // never reads back stay unwritable (U+00A5 as 0x5C would turn a yen sign
    // into a path separator), but for the JIS forms below.
    const auto addCode = [&](quint16 code, char16_t ch) {
        if (ch == 0 || codes[ch] != 0)
            return;
        const uchar utf16[2] = {uchar(ch & 0xFF), uchar(ch >> 8)};
        uchar out[8];
        const int len = fromUtf16.convert(utf16, 2, out, sizeof out);
        const quint16 chosen = len == 1 ? out[0] : len == 2 ? quint16(out[0] << 8 | out[1]) : 0;
        codes[ch] = chosen != 0 && decodesTo(chosen) == ch ? chosen : code;
    };
    for (int b = 0x80; b < 0x100; ++b)
        addCode(quint16(b), high[b - 0x80]);
    for (int lead = 0x80; lead < 0x100; ++lead) {
        for (int trail = 0; trail < 0x100; ++trail)
            addCode(quint16(lead << 8 | trail), pairs[lead - 0x80][trail]);
    }
    // Linux input methods and Mac keyboards type the JIS forms of these;
    // Japanese desktops write them to the codes of their Windows twins.
    for (const auto &form : kJisForms)
        codes[form.ch] = form.code;
}

const Tables &tables()
{
    static const Tables instance;
    return instance;
}

// Decodes [p, end) into `out` and returns where it stopped. With `keepTail`, a
// lead byte in the last position is left unread so it can join the next chunk.
const uchar *decodeInto(const Tables &t, QChar *&out, const uchar *p, const uchar *end,
                        bool keepTail)
{
    while (p < end) {
        const uchar b = *p;
        if (b < 0x80) {
            *out++ = QChar(char16_t(b));
            ++p;
            continue;
        }
        if (const char16_t ch = t.high[b - 0x80]) {
            *out++ = QChar(ch);
            ++p;
            continue;
        }
        if (p + 1 == end) {
            if (keepTail)
                break;
            *out++ = QChar(kReplacement);
            ++p;
            continue;
        }
        if (const char16_t ch = t.pairs[b - 0x80][p[1]]) {
            *out++ = QChar(ch);
            p += 2;
            continue;
        }
        // Drop only the lead: the byte after it may well be a character itself.
        *out++ = QChar(kReplacement);
        ++p;
    }
    return p;
}

const uchar *bytesOf(QByteArrayView bytes)
{
    return reinterpret_cast<const uchar *>(bytes.data());
}

} // namespace

QString decode(QByteArrayView bytes)
{
    const Tables &t = tables();
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *const begin = text.data();
    QChar *out = begin;
    decodeInto(t, out, bytesOf(bytes), bytesOf(bytes) + bytes.size(), false);
    text.truncate(out - begin);
    return text;
}

QByteArray encode(QStringView text)
{
    const Tables &t = tables();
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    char *const begin = bytes.data();
    char *out = begin;
    const char16_t *p = text.utf16();
    const char16_t *const end = p + text.size();
    while (p < end) {
        const char16_t ch = *p++;
        if (ch < 0x80) {
            *out++ = char(ch);
            continue;
        }
        const quint16 code = t.codes[ch];
        if (code == 0) {
            // A surrogate pair is one character, so it becomes one '?'.
            if (QChar::isHighSurrogate(ch) && p < end && QChar::isLowSurrogate(*p))
                ++p;
            *out++ = '?';
            continue;
        }
        if (code > 0xFF)
            *out++ = char(code >> 8);
        *out++ = char(code & 0xFF);
    }
    bytes.truncate(out - begin);
    return bytes;
}

bool encodable(QStringView text)
{
    const Tables &t = tables();
    for (const QChar c : text) {
        if (c.unicode() >= 0x80 && t.codes[c.unicode()] == 0)
            return false;
    }
    return true;
}

QString StreamDecoder::decode(QByteArrayView chunk)
{
    const Tables &t = tables();
    const uchar *p = bytesOf(chunk);
    const uchar *const end = p + chunk.size();
    QString text(chunk.size() + 1, Qt::Uninitialized);
    QChar *const begin = text.data();
    QChar *out = begin;
    if (!m_pending.isEmpty() && p < end) {
        const uchar lead = uchar(m_pending.front());
        m_pending.clear();
        if (const char16_t ch = t.pairs[lead - 0x80][*p]) {
            *out++ = QChar(ch);
            ++p;
        } else {
            *out++ = QChar(kReplacement);
        }
    }
    p = decodeInto(t, out, p, end, true);
    if (p < end)
        m_pending = QByteArray(1, char(*p));
    text.truncate(out - begin);
    return text;
}

QString StreamDecoder::flush()
{
    if (m_pending.isEmpty())
        return {};
    m_pending.clear();
    return QString(QChar(kReplacement));
}

} // namespace cp932
