#include "common/cp932.h"
#include "common/wire.h"
#include "server/app/serversettings.h"
#include "support/files.h"

#include <QTemporaryDir>
#include <QTest>

using namespace wire;

namespace {

// Cuts `stream` into arrivals of `step` bytes and frames them; an
// overflow shows as "<overflow>".
QList<QByteArray> framed(const QByteArray &stream, qsizetype step)
{
    LineFramer framer;
    QList<QByteArray> lines;
    for (qsizetype at = 0; at < stream.size(); at += step) {
        QByteArrayView arrival = QByteArrayView(stream).sliced(at, qMin(step, stream.size() - at));
        QByteArray line;
        while (!arrival.isEmpty()) {
            const LineFramer::Status status = framer.take(arrival, line);
            if (status == LineFramer::Status::Line)
                lines << line;
            else if (status == LineFramer::Status::Overflow)
                lines << "<overflow>";
        }
    }
    return lines;
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void lineFraming()
    {
        const QByteArray stream = "user taro\r\nput a,1\r\n\nlast";
        const QList<QByteArray> expected{"user taro\r\n", "put a,1\r\n", "\n"};
        // Split and coalesced arrivals give the same lines; an unfinished
        // line waits.
        for (qsizetype step : {1, 2, 5, 11, 1000})
            QCOMPARE(framed(stream, step), expected);
        QCOMPARE(lineBody(QByteArrayView("user taro\r\n")).toByteArray(), QByteArray("user taro"));
        QCOMPARE(lineBody(QByteArrayView("user taro\n")).toByteArray(), QByteArray("user taro"));
        // Only one CR before the LF belongs to the line end.
        QCOMPARE(lineBody(QByteArrayView("user taro\r\r\n")).toByteArray(),
                 QByteArray("user taro\r"));
    }

    void overlongLineIsDroppedOnceUpToItsEnd()
    {
        const QByteArray longLine(MaxLineBytes * 3, 'x');
        const QByteArray stream = "a\n" + longLine + "tail\r\nuser b\r\n";
        for (qsizetype step : {qsizetype(1000), qsizetype(65536), qsizetype(65537), stream.size()})
            QCOMPARE(framed(stream, step), (QList<QByteArray>{"a\n", "<overflow>", "user b\r\n"}));
        // Exactly at the limit a line is still whole.
        const QByteArray fits = QByteArray(MaxLineBytes, 'y') + "\n";
        QCOMPARE(framed(fits, 4096), QList<QByteArray>{fits});
    }

    void commands_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("command");
        QTest::newRow("bye") << "bye" << int(Command::Close);
        QTest::newRow("quit") << "quit" << int(Command::Close);
        QTest::newRow("byebye") << "byebye" << int(Command::None);
        QTest::newRow("bye and blank") << "bye " << int(Command::None);
        QTest::newRow("BYE") << "BYE" << int(Command::None);
        QTest::newRow("put") << "put taro.doc,1" << int(Command::Put);
        QTest::newRow("put without blank") << "putXtaro.doc,1" << int(Command::Put);
        QTest::newRow("Put") << "Put x,1" << int(Command::None);
        QTest::newRow("user") << "user taro" << int(Command::User);
        QTest::newRow("USER") << "USER taro" << int(Command::None);
        QTest::newRow("empty") << "" << int(Command::None);
        QTest::newRow("short") << "u" << int(Command::None);
        QTest::newRow("hash") << "hash taro.c" << int(Command::Hash);
        QTest::newRow("hash without name") << "hash" << int(Command::None);
    }
    void commands()
    {
        QFETCH(QString, body);
        QFETCH(int, command);
        QCOMPARE(int(commandOf(body)), command);
    }

    // The receipt line both ways; anything else is no receipt.
    void receiptLines()
    {
        const QByteArray sha(64, 'a');
        const QString line = receiptLine({12, sha, "2026/12/09 09:05:07"});
        QCOMPARE(line, "403 12," + QString::fromLatin1(sha) + ",2026/12/09 09:05:07");
        const std::optional<ReceiptInfo> parsed = parseReceiptLine(line);
        QVERIFY(parsed);
        QCOMPARE(parsed->size, 12);
        QCOMPARE(parsed->sha256, sha);
        QCOMPARE(parsed->storedAt, QStringLiteral("2026/12/09 09:05:07"));
        const QString hex = QString::fromLatin1(sha);
        for (const QString &bad :
             {"403 -1," + hex + ",2026/12/09 09:05:07",
              "403 12," + hex.toUpper() + ",2026/12/09 09:05:07",
              "403 12," + hex.left(63) + ",2026/12/09 09:05:07", "403 12," + hex,
              "403 12," + hex + ",2026/12/09 09:05:07,x", "403 12," + hex + ",2026/12/09 9:05:07",
              "499 12," + hex + ",2026/12/09 09:05:07"})
            QVERIFY2(!parseReceiptLine(bad), qPrintable(bad));
        QCOMPARE(parseRequest(cp932::encode(u"hash 課題.c\r\n")).fileName,
                 QStringLiteral("課題.c"));
        QCOMPARE(hashLine(QStringLiteral("taro.c")), QStringLiteral("hash taro.c\r\n"));
    }

    void userIds()
    {
        QCOMPARE(userIdOf(u"user taro"), QStringLiteral("taro"));
        QCOMPARE(userIdOf(u"user taro "), QStringLiteral("taro "));
        QCOMPARE(userIdOf(u"userXtaro"), QStringLiteral("taro"));
        QCOMPARE(userIdOf(u"user"), QString());
        QCOMPARE(userIdOf(u"user 山田"), QStringLiteral("山田"));
    }

    void putLines_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::newRow("plain") << "put taro.doc,1234" << true << "taro.doc" << qint64(1234);
        QTest::newRow("zero") << "put taro.doc,0" << true << "taro.doc" << qint64(0);
        QTest::newRow("largest") << "put a,2147483647" << true << "a" << qint64(2147483647);
        QTest::newRow("comma in name") << "put a,b,5" << true << "a" << qint64(-1);
        QTest::newRow("japanese name") << "put 山田.txt,3" << true << "山田.txt" << qint64(3);
        QTest::newRow("too large") << "put a,2147483648" << false << "" << qint64(0);
        QTest::newRow("negative") << "put a,-1" << false << "" << qint64(0);
        QTest::newRow("not decimal") << "put a,12x" << false << "" << qint64(0);
        QTest::newRow("plus sign") << "put a,+1" << false << "" << qint64(0);
        QTest::newRow("blank in size") << "put a, 1" << false << "" << qint64(0);
        QTest::newRow("empty size") << "put a," << false << "" << qint64(0);
        QTest::newRow("no comma") << "put taro.doc" << false << "" << qint64(0);
        QTest::newRow("comma too early") << "put ,12" << false << "" << qint64(0);
        QTest::newRow("only put") << "put" << false << "" << qint64(0);
        QTest::newRow("huge number") << "put a,99999999999999999999" << false << "" << qint64(0);
    }
    void putLines()
    {
        QFETCH(QString, body);
        QFETCH(bool, valid);
        QFETCH(QString, name);
        QFETCH(qint64, size);
        const std::optional<PutRequest> request = parsePutLine(body);
        QCOMPARE(request.has_value(), valid && size >= 0);
        if (request) {
            QCOMPARE(request->fileName, name);
            QCOMPARE(request->size, size);
        }
    }

    void fileNamesStayInTheFolder()
    {
        for (const char *name : {"taro.doc", "山田.txt", "a b", ".hidden", "..x", "x..y"})
            QVERIFY2(isSafeFileName(QString::fromUtf8(name)), name);
        for (const char *name :
             {"",     ".",         "..",    "../x",    "a/b",      "/etc/passwd", "a\\b",
              "c:x",  "tab\there", "nl\nx", "del\x7f", "\xc2\x80", "a*b",         "a?b",
              "a\"b", "a<b",       "a>b",   "a|b",     "x.",       "x ",          "..."})
            QVERIFY2(!isSafeFileName(QString::fromUtf8(name)), name);
        // Names the host's file system cannot hold, and temporary files.
        QVERIFY(isSafeFileName(QString(255, u'a')));
        QVERIFY(!isSafeFileName(QString(256, u'a')));
        QVERIFY(!isSafeFileName(QString(86, u'山'))); // 258 bytes in UTF-8
        QVERIFY(!isSafeFileName(TemporaryPrefix + "0123.part"));
    }

    void portNumbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("number");
        QTest::newRow("plain") << "8080" << qint64(8080);
        QTest::newRow("trailing blank") << "8080 " << qint64(8080);
        QTest::newRow("leading blank") << " 8080" << qint64(8080);
        QTest::newRow("blanks inside") << "80 80" << qint64(8080);
        QTest::newRow("trailing text") << "8080abc" << qint64(8080);
        QTest::newRow("no number") << "abc" << qint64(0);
        QTest::newRow("empty") << "" << qint64(0);
        QTest::newRow("half up to even") << "81.5" << qint64(82);
        QTest::newRow("half down to even") << "80.5" << qint64(80);
        QTest::newRow("fraction") << "80.6" << qint64(81);
        QTest::newRow("exponent") << "1e3" << qint64(1000);
        QTest::newRow("negative") << "-5" << qint64(-5);
        QTest::newRow("above 16 bits") << "65535" << qint64(65535);
        QTest::newRow("huge") << "1e300" << qint64(1000000000000000);
        QTest::newRow("dot only") << "." << qint64(0);
    }
    void portNumbers()
    {
        QFETCH(QString, text);
        QFETCH(qint64, number);
        QCOMPARE(leadingNumber(text), number);
    }

    void serverSettings()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("inivar.cfg");
        ServerSettings missing = readServerSettings(path);
        QVERIFY(!missing.fileRead);
        QCOMPARE(missing.port, qint64(10013));
        QCOMPARE(missing.delimiter, QStringLiteral(","));

        writeBytes(path, cp932Lines({"kugiri=TAB", "ms-exceldir=/usr/bin/calc --x", "port=0"}));
        ServerSettings settings = readServerSettings(path);
        QVERIFY(settings.fileRead);
        QCOMPARE(settings.delimiter, QStringLiteral("\t"));
        QCOMPARE(settings.spreadsheetCommand, QStringLiteral("/usr/bin/calc --x"));
        QCOMPARE(settings.port, qint64(10013));

        writeBytes(path, cp932Lines({"kugiri=;", "port = 8080"}));
        settings = readServerSettings(path);
        QCOMPARE(settings.delimiter, QStringLiteral(","));
        QCOMPARE(settings.port, qint64(10013));
        writeBytes(path, cp932Lines({"PORT=40000"}));
        QCOMPARE(readServerSettings(path).port, qint64(40000));
        // The check for claims made for someone else: on unless switched off.
        QVERIFY(readServerSettings(path).proxyCheck);
        for (const char *off : {"daihen=0", "DAIHEN=Off", "daihen=no"}) {
            writeBytes(path, cp932Lines({off}));
            QVERIFY2(!readServerSettings(path).proxyCheck, off);
        }
        writeBytes(path, cp932Lines({"daihen=1"}));
        QVERIFY(readServerSettings(path).proxyCheck);
        QCOMPARE(readServerSettings(path).perAddressLimit, qint64(16));
    }

    void perAddressLimitSetting_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<qint64>("limit");
        QTest::newRow("a number") << "per-address-limit=4" << qint64(4);
        QTest::newRow("no limit") << "per-address-limit=0" << qint64(0);
        QTest::newRow("empty") << "per-address-limit=" << qint64(16);
        QTest::newRow("not a number") << "per-address-limit=none" << qint64(16);
        QTest::newRow("negative") << "per-address-limit=-1" << qint64(16);
    }
    void perAddressLimitSetting()
    {
        QFETCH(QString, line);
        QFETCH(qint64, limit);
        QTemporaryDir dir;
        const QString path = dir.filePath("inivar.cfg");
        writeBytes(path, cp932Lines({"kugiri=tab", line}));
        QCOMPARE(readServerSettings(path).perAddressLimit, limit);
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
