#include "common/cp932.h"
#include "common/readvar.h"
#include "support/files.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

class TestReadvar : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString file(const QStringList &lines, const char *eol = "\r\n")
    {
        const QString path = m_dir.filePath(QStringLiteral("settings.cfg"));
        writeBytes(path, cp932Lines(lines, eol));
        return path;
    }
    QString lookup(const QString &key, const QStringList &lines, const char *eol = "\r\n")
    {
        return readvar(key, file(lines, eol)).valueOr(QStringLiteral("<unreadable>"));
    }

private Q_SLOTS:
    void keyLines_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        const QString port = QStringLiteral("port");
        QTest::newRow("plain") << QStringList{"port=8080"} << port << "8080";
        QTest::newRow("name in capitals") << QStringList{"PORT=8080"} << port << "8080";
        QTest::newRow("key in capitals") << QStringList{"port=8080"} << "PORT"
                                         << "8080";
        QTest::newRow("value keeps case") << QStringList{"kugiri=TaB"} << "kugiri"
                                          << "TaB";
        QTest::newRow("blanks around = make another name")
            << QStringList{"port = 8080"} << port << "";
        QTest::newRow("blank-ended name found by blank-ended key")
            << QStringList{"port = 8080"} << "port "
            << " 8080";
        QTest::newRow("trailing blank kept") << QStringList{"port=8080 "} << port << "8080 ";
        QTest::newRow("comment ignored") << QStringList{"#port=1", "port=2"} << port << "2";
        QTest::newRow("header ignored") << QStringList{"[port=1]", "port=2"} << port << "2";
        QTest::newRow("blank before # is a name") << QStringList{" #port=1"} << " #port"
                                                  << "1";
        QTest::newRow("blank before [ is a name") << QStringList{" [x=1"} << " [x"
                                                  << "1";
        QTest::newRow("nothing before =") << QStringList{"=8080", "port=1"} << port << "1";
        QTest::newRow("no = at all") << QStringList{"port 8080"} << port << "";
        QTest::newRow("empty value") << QStringList{"port=", "port=9"} << port << "";
        QTest::newRow("first = splits") << QStringList{"a=b=c"} << "a"
                                        << "b=c";
        QTest::newRow("first match wins across sections")
            << QStringList{"[one]", "port=1", "[two]", "port=2"} << port << "1";
        QTest::newRow("# inside value") << QStringList{"port=80#x"} << port << "80#x";
        QTest::newRow("missing key") << QStringList{"kugiri=tab"} << port << "";
        QTest::newRow("empty file") << QStringList{} << port << "";
        QTest::newRow("only comments") << QStringList{"# c", "[s]", ""} << port << "";
        QTest::newRow("japanese value") << QStringList{"kougimei=情報処理演習Ⅰ"} << "kougimei"
                                        << "情報処理演習Ⅰ";
        QTest::newRow("japanese name, other case") << QStringList{"ＫＥＹ=値"} << "ｋｅｙ"
                                                   << "値";
    }
    void keyLines()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(lookup(key, lines), expected);
    }

    // The reader of a whole file answers each key exactly as readvar().
    void oneReadAnswersAsReadvar_data() { keyLines_data(); }
    void oneReadAnswersAsReadvar()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        const auto settings = SettingsText::read(file(lines));
        QVERIFY(settings);
        QCOMPARE(settings->value(key), expected);
        QCOMPARE(SettingsText(cp932::decode(cp932Lines(lines, "\r\n"))).value(key), expected);
    }

    void oneReadAnswersManyKeys()
    {
        const QStringList lines{"# c",       "[s]",      "PORT=81", "port=82",     "Kugiri=tab",
                                " #x=1",     "=9",       "a=b=c",   "empty=",      "EMPTY=full",
                                "ＫＥＹ=値", "trail=v ", "",        "kugiri=comma"};
        const QString path = file(lines, "\n");
        const auto settings = SettingsText::read(path);
        QVERIFY(settings);
        const QStringList keys{"port",   "PORT",  "kugiri",  " #x", "",    "a",  "empty",
                               "ｋｅｙ", "trail", "missing", "# c", "[s]", "=9", "b"};
        for (const QString &key : keys) {
            QCOMPARE(settings->value(key), *readvar(key, path));
            const auto alone = lookupSetting(key, path, -1);
            QVERIFY(alone);
            QCOMPARE(settings->line(key).has_value(), alone->has_value());
            if (*alone)
                QCOMPARE(settings->line(key)->number, (*alone)->number);
        }
        // The first line of each name, in the file's order.
        QStringList first;
        for (const SettingsText::Entry &entry : settings->entries())
            first << QStringLiteral("%1:%2=%3")
                         .arg(entry.line.number)
                         .arg(entry.key, entry.line.value);
        QCOMPARE(first, (QStringList{"3:port=81", "5:kugiri=tab", "6: #x=1", "8:a=b=c",
                                     "9:empty=", "11:ｋｅｙ=値", "12:trail=v "}));
        QCOMPARE(settings->text(), lines.join(u'\n') + u'\n');
        // An emptied line keeps the numbers of the lines after it.
        QList<QStringView> views{u"port=1", u"", u"kugiri=tab"};
        views[0] = QStringView();
        QCOMPARE(SettingsText(views).line("kugiri")->number, 3);
        QVERIFY(!SettingsText(views).line("port"));
    }

    // A key that may stand several times gives every line from the one read;
    // value() still answers with the first, as readvar() does.
    void repeatedKeyGivesEveryLineInOrder()
    {
        const SettingsText settings(u"enchou=a,1\r\n#enchou=x\r\nENCHOU=b,2\r\nport=1\r\n"
                                    u"enchou =c\r\n[s]\r\nEnchou=\r\n");
        QStringList seen;
        for (const SettingLine &line : settings.lines("Enchou"))
            seen << QStringLiteral("%1:%2").arg(line.number).arg(line.value);
        QCOMPARE(seen, (QStringList{"1:a,1", "3:b,2", "7:"}));
        QCOMPARE(settings.value("enchou"), QStringLiteral("a,1"));
        QCOMPARE(settings.lines("port").size(), size_t(1));
        QVERIFY(settings.lines("missing").empty());
        QCOMPARE(settings.entries().size(), size_t(3)); // enchou, port, "enchou "
    }

    void oneReadRefusesWhatReadvarRefuses()
    {
        QVERIFY(!SettingsText::read(m_dir.filePath("missing.cfg")));
        QVERIFY(!SettingsText::read(m_dir.path()));
        QVERIFY(!SettingsText::read("/dev/zero"));
        const QString path = file({"port=1"});
        const qint64 size = QFileInfo(path).size();
        QVERIFY(SettingsText::read(path, size));
        const auto tooLarge = SettingsText::read(path, size - 1);
        QVERIFY(!tooLarge);
        QCOMPARE(tooLarge.error(), lookupSetting("port", path, size - 1).error());
    }

    void linesEndAnyWayAndTheFileIsReadAnewAtEveryCall()
    {
        const QStringList lines{"a=1", "b=2", "c=3"};
        for (const char *eol : {"\r\n", "\n", "\r"}) {
            QCOMPARE(lookup("b", lines, eol), QStringLiteral("2"));
            QCOMPARE(lookup("c", lines, eol), QStringLiteral("3"));
        }
        // A last line without a line end is still read.
        const QString path = m_dir.filePath("other.cfg");
        writeBytes(path, "a=1\r\nport=77");
        QCOMPARE(*readvar("port", path), QStringLiteral("77"));
        // Bytes that do not decode stop nothing.
        writeBytes(path, QByteArray("\x81\x00\xff=x\r\n\x82\r\nport=5\r\n", 17));
        QCOMPARE(*readvar("port", path), QStringLiteral("5"));
    }

    void unreadableFileIsAnErrorNotAnEmptyValue()
    {
        const auto missing = readvar("port", m_dir.filePath("missing.cfg"));
        QVERIFY(!missing.ok());
        QVERIFY(!missing.error().isEmpty());
        QVERIFY(!readvar("port", m_dir.path()).ok()); // a folder
    }

    void lookupTellsTheLineAndKeepsToItsBound()
    {
        const QString path = file({"# c", "", "[s]", "PORT=81", "port=82"}, "\n");
        const auto found = lookupSetting("port", path, 1024);
        QVERIFY(found && *found);
        QCOMPARE((*found)->value, QStringLiteral("81"));
        QCOMPARE((*found)->number, 4);
        QVERIFY(found && !*lookupSetting("kugiri", path, 1024));
        // One byte past the bound is refused, the bound itself is read.
        const qint64 size = QFileInfo(path).size();
        QVERIFY(lookupSetting("port", path, size));
        QVERIFY(!lookupSetting("port", path, size - 1));
        // A device or a FIFO is no settings file: refused without reading.
        QVERIFY(!readvar("port", "/dev/zero"));
        const QString fifo = m_dir.filePath("fifo.cfg");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!readvar("port", fifo));
        QVERIFY(!lookupSetting("port", fifo, 1024));
    }

    void bareNameIsResolvedInTheCurrentDirectory()
    {
        writeBytes(m_dir.filePath("inivar.cfg"), "port=4242\r\n");
        const QString before = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        const auto value = readvar("port", "inivar.cfg");
        QDir::setCurrent(before);
        QCOMPARE(value.valueOr({}), QStringLiteral("4242"));
    }
};

QTEST_GUILESS_MAIN(TestReadvar)
#include "tst_readvar.moc"
