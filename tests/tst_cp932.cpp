#include "common/cp932.h"

#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QTest>

#include <array>
#include <vector>

namespace {

constexpr char16_t kReplacement = 0xFFFD;

QByteArray bytesOfCode(int code)
{
    QByteArray bytes;
    if (code > 0xFF)
        bytes.append(char(code >> 8));
    return bytes.append(char(code));
}

QString describe(const QString &text)
{
    QStringList units;
    for (QChar c : text)
        units << QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
    return units.join(QLatin1Char(' '));
}

// Windows writes a character that has several codes with the JIS X 0208 code,
// else NEC row 13, else the IBM rows 0xFA-0xFC, and the NEC-selected copies in
// rows 0xED/0xEE never: the lowest code once those two rows are put last.
int windowsChoice(const QList<int> &codes)
{
    const auto rank = [](int code) {
        const int lead = code >> 8;
        return (lead == 0xED || lead == 0xEE ? 0x10000 : 0) + code;
    };
    int best = codes.front();
    for (int code : codes) {
        if (rank(code) < rank(best))
            best = code;
    }
    return best;
}

QString decodeInPieces(QByteArrayView bytes, const std::vector<qsizetype> &cuts)
{
    cp932::StreamDecoder decoder;
    QString text;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        text += decoder.decode(bytes.sliced(from, cut - from));
        from = cut;
    }
    text += decoder.decode(bytes.sliced(from));
    return text + decoder.flush();
}

} // namespace

class TestCp932 : public QObject
{
    Q_OBJECT
    // From tests/data/cp932_table.txt (Python's cp932 codec); -1 where a code
    // does not decode.
    std::array<int, 256> m_single{};
    std::vector<int> m_pair = std::vector<int>(0x10000, -1);
    QHash<int, QList<int>> m_codesOf;

private Q_SLOTS:
    void initTestCase()
    {
        m_single.fill(-1);
        QFile file(QStringLiteral(TEST_DATA_DIR "/cp932_table.txt"));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
        int entries = 0;
        while (!file.atEnd()) {
            const QByteArray line = file.readLine().trimmed();
            if (line.isEmpty() || line.startsWith('#'))
                continue;
            const QList<QByteArray> fields = line.split(' ');
            bool codeOk = false;
            bool charOk = false;
            QVERIFY2(fields.size() == 2, line.constData());
            const int code = fields[0].toInt(&codeOk, 16);
            const int ch = fields[1].toInt(&charOk, 16);
            QVERIFY2(codeOk && charOk && ch <= 0xFFFF, line.constData());
            if (fields[0].size() == 2)
                m_single[code] = ch;
            else
                m_pair[code] = ch;
            m_codesOf[ch].append(code);
            ++entries;
        }
        // 256 single bytes less 60 lead bytes, 7724 pairs of JIS X 0208 with
        // Microsoft's rows and 1880 user-defined pairs: less means a cut-off file.
        QCOMPARE(entries, 196 + 7724 + 1880);
    }

    void decodeMatchesReferenceForEveryCode()
    {
        QStringList wrong;
        const auto check = [&](const QByteArray &bytes, const QString &expected) {
            const QString got = cp932::decode(bytes);
            if (got != expected && wrong.size() < 20) {
                wrong << QStringLiteral("%1: %2, expected %3")
                             .arg(QString::fromLatin1(bytes.toHex()), describe(got),
                                  describe(expected));
            }
        };
        const auto alone = [&](int byte) {
            return QChar(m_single[byte] >= 0 ? char16_t(m_single[byte]) : kReplacement);
        };
        for (int byte = 0; byte < 0x100; ++byte)
            check(bytesOfCode(byte), alone(byte));
        for (int lead = 0x80; lead < 0x100; ++lead) {
            if (m_single[lead] >= 0)
                continue;
            for (int trail = 0; trail < 0x100; ++trail) {
                const int code = lead << 8 | trail;
                check(bytesOfCode(code), m_pair[code] >= 0
                                             ? QString(QChar(char16_t(m_pair[code])))
                                             : QString(QChar(kReplacement)) + alone(trail));
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    }

    // Python's encoder is not the reference for characters with several codes: it
    // writes e.g. U+2170 as 0xEEEF where Windows writes 0xFA40. Nor for the JIS
    // forms Japanese Windows writes to the code of their twins.
    void encodeMatchesReferenceForEveryCharacter()
    {
        const QHash<int, int> jisForms{{0x301C, 0x8160}, {0x2016, 0x8161}, {0x2212, 0x817C},
                                       {0x00A2, 0x8191}, {0x00A3, 0x8192}, {0x00AC, 0x81CA}};
        QStringList wrong;
        for (int ch = 0; ch < 0x10000; ++ch) {
            if (QChar::isSurrogate(char32_t(ch)))
                continue;
            const QList<int> codes = m_codesOf.value(ch);
            const QByteArray expected = jisForms.contains(ch) ? bytesOfCode(jisForms.value(ch))
                                        : codes.isEmpty()     ? QByteArray("?")
                                                              : bytesOfCode(windowsChoice(codes));
            const QByteArray got = cp932::encode(QString(QChar(char16_t(ch))));
            if (got != expected && wrong.size() < 20) {
                wrong << QStringLiteral("U+%1: %2, expected %3")
                             .arg(QString::number(ch, 16), QString::fromLatin1(got.toHex()),
                                  QString::fromLatin1(expected.toHex()));
            }
        }
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
    }

    void keyCodes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("encoded"); // what Windows writes for `text`

        const auto row = [](const char *name, const char *hex, const QString &text,
                            const char *encodedHex = nullptr) {
            const QByteArray bytes = QByteArray::fromHex(hex);
            QTest::newRow(name) << bytes << text
                                << (encodedHex ? QByteArray::fromHex(encodedHex) : bytes);
        };
        row("ASCII and controls", "5c7e1a1c7f", QStringLiteral("\\~\x1a\x1c\x7f"));
        row("row 0x81 signs", "815f81608161817c8191819281ca",
            QStringLiteral("\uff3c\uff5e\u2225\uff0d\uffe0\uffe1\uffe2"));
        row("circled one, half-width ends", "8740a1df", QStringLiteral("\u2460\uff61\uff9f"));
        row("Windows-only single bytes", "80a0fdfeff",
            QStringLiteral("\u0080\uf8f0\uf8f1\uf8f2\uf8f3"));
        row("user-defined ends", "f040f9fc", QStringLiteral("\ue000\ue757"));
        row("IBM small roman one", "fa40", QStringLiteral("\u2170"));
        row("attendance", "8f6f8c87", QStringLiteral("出欠"));
        row("course file", "8ef38d75cca7b2d9", QStringLiteral("受講ﾌｧｲﾙ"));
        // Characters with more than one code.
        row("NEC-selected kanji", "ed40", QStringLiteral("\u7e8a"), "fa5c");
        row("NEC-selected small roman one", "eeef", QStringLiteral("\u2170"), "fa40");
        row("NEC-selected broken bar", "eefa", QStringLiteral("\uffe4"), "fa55");
        row("IBM not sign", "fa54", QStringLiteral("\uffe2"), "81ca");
        row("IBM roman one", "fa4a", QStringLiteral("\u2160"), "8754");
        row("IBM numero", "fa59", QStringLiteral("\u2116"), "8782");
        row("NEC because", "879a", QStringLiteral("\u2235"), "81e6");
        row("NEC approximately equal", "8790", QStringLiteral("\u2252"), "81e0");
    }

    void keyCodes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QFETCH(QByteArray, encoded);
        QCOMPARE(describe(cp932::decode(bytes)), describe(text));
        QCOMPARE(cp932::encode(text), encoded);
    }

    void invalidBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");

        // Every one- and two-byte input is checked against the reference above;
        // these are longer inputs where the byte after a bad one must survive.
        const QString bad(QChar{kReplacement});
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("lead at end") << QByteArray::fromHex("4182") << QStringLiteral("A") + bad;
        QTest::newRow("lead then ASCII")
            << QByteArray::fromHex("824142") << bad + QStringLiteral("AB");
        QTest::newRow("empty row then pair")
            << QByteArray::fromHex("8582a0") << bad + QStringLiteral("あ");
        QTest::newRow("row 0x85") << QByteArray::fromHex("854078") << bad + QStringLiteral("@x");
        QTest::newRow("row 0x86 then lead at end") << QByteArray::fromHex("869f") << bad + bad;
        QTest::newRow("leads only") << QByteArray::fromHex("858585") << bad + bad + bad;
    }

    void invalidBytes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(describe(cp932::decode(bytes)), describe(text));
    }

    // Whatever comes off the wire decodes to at most one character per byte, and
    // every character it yields (U+FFFD aside) can be written back unchanged.
    void randomBytes()
    {
        QRandomGenerator random(932);
        for (int round = 0; round < 5000; ++round) {
            QByteArray bytes(random.bounded(48), Qt::Uninitialized);
            for (char &b : bytes)
                b = char(random.bounded(256));
            const QString text = cp932::decode(bytes);
            QVERIFY(text.size() <= bytes.size());
            QVERIFY(text.size() >= (bytes.size() + 1) / 2);

            QString written = text;
            written.replace(QChar(kReplacement), QLatin1Char('?'));
            QCOMPARE(cp932::decode(cp932::encode(text)), written);

            std::vector<qsizetype> cuts;
            for (qsizetype at = 0; at < bytes.size(); at += random.bounded(1, 4))
                cuts.push_back(at);
            QCOMPARE(decodeInPieces(bytes, cuts), text);
        }
    }

    void streamDecoderMatchesWholeDecoding()
    {
        const QByteArray bytes = QByteArray::fromHex("418f6f8c87b182428582a0ed405c7e80fd82");
        const QString whole = cp932::decode(bytes);
        QCOMPARE(describe(whole),
                 describe(QStringLiteral("A出欠ｱ\ufffdB\ufffdあ\u7e8a\\~\u0080\uf8f1\ufffd")));
        for (qsizetype i = 0; i <= bytes.size(); ++i) {
            for (qsizetype j = i; j <= bytes.size(); ++j)
                QCOMPARE(decodeInPieces(bytes, {i, j}), whole);
        }

        cp932::StreamDecoder decoder;
        QCOMPARE(decoder.decode("x\x82"), QStringLiteral("x"));
        QCOMPARE(decoder.decode(""), QString());
        QCOMPARE(decoder.decode("\xa0"), QStringLiteral("あ"));
        QCOMPARE(decoder.flush(), QString());
        QCOMPARE(decoder.decode("\x82"), QString());
        QCOMPARE(decoder.flush(), QString(QChar(kReplacement)));
        // flush() leaves nothing behind to pair with the next chunk.
        QCOMPARE(decoder.decode("\xa0"), QStringLiteral("\uf8f0"));
    }

    // The JIS forms a Linux desktop types are written as Japanese Windows
    // writes them, and read back as their Windows twins.
    void jisFormsAreWrittenAsWindowsWrites_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("wave dash") << "\u301c" << QByteArray("\x81\x60") << "\uff5e";
        QTest::newRow("double vertical line") << "\u2016" << QByteArray("\x81\x61") << "\u2225";
        QTest::newRow("minus sign") << "\u2212" << QByteArray("\x81\x7c") << "\uff0d";
        QTest::newRow("cent sign") << "\u00a2" << QByteArray("\x81\x91") << "\uffe0";
        QTest::newRow("pound sign") << "\u00a3" << QByteArray("\x81\x92") << "\uffe1";
        QTest::newRow("not sign") << "\u00ac" << QByteArray("\x81\xca") << "\uffe2";
    }
    void jisFormsAreWrittenAsWindowsWrites()
    {
        QFETCH(QString, typed);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, readBack);
        QCOMPARE(cp932::encode(QStringLiteral("a") + typed + u'b'), "a" + bytes + "b");
        QVERIFY(cp932::encodable(typed));
        QCOMPARE(describe(cp932::decode(bytes)), describe(readBack));
        // The Windows twin keeps its code.
        QCOMPARE(cp932::encode(readBack), bytes);
        QVERIFY(!cp932::encodable(QStringLiteral("a\u00a5")));
    }

    void unencodable_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");

        const QChar high(char16_t(0xD83D));
        const QChar low(char16_t(0xDE00));
        // glibc writes the yen sign as 0x5C, which reads back as a path separator.
        QTest::newRow("yen") << QStringLiteral("a\u00a5b") << QByteArray("a?b");
        QTest::newRow("surrogate pair") << QStringLiteral("a\U0001F600b") << QByteArray("a?b");
        QTest::newRow("two pairs") << QStringLiteral("\U0001F600\U00020B9F") << QByteArray("??");
        QTest::newRow("lone high") << QString(high) + QStringLiteral("x") << QByteArray("?x");
        QTest::newRow("high at end") << QStringLiteral("x") + high << QByteArray("x?");
        QTest::newRow("lone low") << QString(low) + QStringLiteral("あ") << QByteArray("?\x82\xa0");
        QTest::newRow("low then high") << QString(low) + high << QByteArray("??");
        QTest::newRow("high then pair") << QString(high) + high + low << QByteArray("??");
    }

    void unencodable()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(cp932::encode(text), bytes);
        QVERIFY(!cp932::encodable(text));
    }
};

QTEST_GUILESS_MAIN(TestCp932)
#include "tst_cp932.moc"
