// The code page 932 decoder and encoder: whole and streamed decoding agree,
// and what was decoded survives encoding.
#include "common/cp932.h"
#include "fuzz/fuzzsupport.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte cuts the rest into pieces for the stream decoder.
    const qsizetype step = data[0] % 16 + 1;
    const QByteArrayView bytes(data + 1, qsizetype(size - 1));

    const QString text = cp932::decode(bytes);
    FUZZ_CHECK(text.size() <= bytes.size());

    cp932::StreamDecoder stream;
    QString streamed;
    for (qsizetype at = 0; at < bytes.size(); at += step)
        streamed += stream.decode(bytes.sliced(at, qMin(step, bytes.size() - at)));
    streamed += stream.flush();
    FUZZ_CHECK(streamed == text);

    // Every character the decoder yields has a code, except the replacement
    // character, which can only be written as '?'.
    QString expected = text;
    expected.replace(QChar(0xFFFD), u'?');
    FUZZ_CHECK(cp932::decode(cp932::encode(text)) == expected);

    // Any UTF-16 text: one character, or one '?', per character.
    QString wide(bytes.size() / 2, Qt::Uninitialized);
    std::memcpy(wide.data(), bytes.data(), size_t(wide.size()) * 2);
    const QString back = cp932::decode(cp932::encode(wide));
    qsizetype i = 0;
    for (const QChar c : back) {
        FUZZ_CHECK(i < wide.size());
        const bool pair =
            wide[i].isHighSurrogate() && i + 1 < wide.size() && wide[i + 1].isLowSurrogate();
        // A JIS form reads back as its Windows twin, of the same code.
        FUZZ_CHECK(pair ? c == u'?'
                        : c == wide[i] || c == u'?' ||
                              cp932::encode(QStringView(&c, 1)) ==
                                  cp932::encode(QStringView(&wide[i], 1)));
        i += pair ? 2 : 1;
    }
    FUZZ_CHECK(i == wide.size());
    return 0;
}
