#include "platform/systemregistry.h"
#include "platform/widgets/qtdocumentopener.h"
#include "server/app/manual.h"
#include "server/app/sysinfo.h"
#include "support/fakedesktop.h"
#include "support/fakeshell.h"
#include "support/files.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString InfoKey = QStringLiteral(R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)");
const QString LocationKey = QStringLiteral(R"(SOFTWARE\Microsoft\Shared Tools Location)");
const QString Unavailable = QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");

void makeFile(const QString &path, const QByteArray &content = "x",
              QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner)
{
    writeBytes(path, content);
    QVERIFY(QFile::setPermissions(path, permissions));
}

constexpr QFile::Permissions Executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

bool readKey(Registry &registry, QString *value, const QString &key = InfoKey,
             const QString &name = QStringLiteral("PATH"))
{
    return GetKeyValue(registry, Registry::Root::LocalMachine, key, name, value);
}

// Points PATH at one folder for the life of the object.
class PathOverride
{
public:
    explicit PathOverride(const QString &folder) : m_saved(qgetenv("PATH"))
    {
        qputenv("PATH", QFile::encodeName(folder));
    }
    ~PathOverride() { qputenv("PATH", m_saved); }

private:
    QByteArray m_saved;
};

} // namespace

class TestShell : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void getKeyValueReadsTextNumbersAndOtherTypes_data()
    {
        QTest::addColumn<quint32>("type");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text up to its NUL")
            << Registry::TextType << QByteArray("C:\\Program Files\\msinfo32.exe\0junk", 35)
            << QStringLiteral("C:\\Program Files\\msinfo32.exe");
        QTest::newRow("empty text") << Registry::TextType << QByteArray(1, '\0') << QString();
        // 256 has NUL bytes inside its four: the whole number counts.
        QTest::newRow("number with zero bytes")
            << Registry::NumberType << QByteArray("\x00\x01\x00\x00", 4) << QStringLiteral("256");
        QTest::newRow("largest number") << Registry::NumberType << QByteArray("\xff\xff\xff\xff", 4)
                                        << QStringLiteral("4294967295");
        QTest::newRow("expandable text leaves the output")
            << quint32(2) << QByteArray("%SystemRoot%\\x.exe\0", 19) << QStringLiteral("before");
    }
    void getKeyValueReadsTextNumbersAndOtherTypes()
    {
        QFETCH(quint32, type);
        QFETCH(QByteArray, data);
        QFETCH(QString, expected);
        FakeRegistry registry;
        registry.keys[InfoKey].values[QStringLiteral("PATH")] = {type, data};
        QString value = QStringLiteral("before");
        QVERIFY(readKey(registry, &value));
        QCOMPARE(value, expected);
        QCOMPARE(registry.accessAsked, QList<quint32>{0x2003F});
        QCOMPARE(registry.capacities, QList<qsizetype>{1024});
        QCOMPARE(registry.closeCount, 1);
    }

    void getKeyValueFailsWithEmptyOutput_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("closes");
        QTest::newRow("missing key") << QStringLiteral("missing key") << 0;
        QTest::newRow("key without all rights") << QStringLiteral("read only") << 0;
        QTest::newRow("missing value") << QStringLiteral("missing value") << 1;
        QTest::newRow("value too large") << QStringLiteral("too large") << 1;
    }
    void getKeyValueFailsWithEmptyOutput()
    {
        QFETCH(QString, situation);
        QFETCH(int, closes);
        FakeRegistry registry;
        if (situation == u"read only")
            registry.keys[InfoKey].allowedAccess = 0x20019; // KEY_READ
        if (situation == u"missing value" || situation == u"read only")
            registry.setText(InfoKey, QStringLiteral("Other"), "x");
        if (situation == u"too large")
            registry.setText(InfoKey, QStringLiteral("PATH"), QByteArray(1024, 'a'));
        if (situation == u"read only")
            registry.setText(InfoKey, QStringLiteral("PATH"), "x");

        QString value = QStringLiteral("before");
        QVERIFY(!readKey(registry, &value));
        QVERIFY(value.isEmpty());
        QCOMPARE(registry.closeCount, closes);
        QCOMPARE(registry.openCount, closes);
    }

    void startSysInfoOutcomes_data()
    {
        QTest::addColumn<QString>("registryHolds");
        QTest::addColumn<bool>("startSucceeds");
        QTest::addColumn<QString>("started"); // with %1 for the temporary folder
        QTest::addColumn<bool>("messageShown");
        const auto row = [](const char *name, const char *holds, bool succeeds, const char *started,
                            bool message) {
            QTest::newRow(name) << QString::fromUtf8(holds) << succeeds
                                << QString::fromUtf8(started) << message;
        };
        row("first location", "path", true, R"("/opt/sys info/msinfo32")", false);
        row("first location wins over the second", "path+folder", true,
            R"("/opt/sys info/msinfo32")", false);
        row("first location names a program that cannot start", "path+folder", false,
            R"("/opt/sys info/msinfo32")", true);
        row("first location of another type", "expandable", true, "", true);
        row("second location with the program", "folder+program", true, R"("%1/MSINFO32.EXE")",
            false);
        row("second location without the program", "folder", true, "", true);
        row("second location whose program cannot start", "folder+program", false,
            R"("%1/MSINFO32.EXE")", true);
        row("neither location", "", true, "", true);
        row("keys without all rights", "path+folder+locked", true, "", true);
    }
    void startSysInfoOutcomes()
    {
        QFETCH(QString, registryHolds);
        QFETCH(bool, startSucceeds);
        QFETCH(QString, started);
        QFETCH(bool, messageShown);
        QTemporaryDir folder;
        FakeRegistry registry;
        const QStringList holds = registryHolds.split(u'+', Qt::SkipEmptyParts);
        if (holds.contains(u"path"))
            registry.setText(InfoKey, QStringLiteral("PATH"), "/opt/sys info/msinfo32");
        if (holds.contains(u"expandable"))
            registry.keys[InfoKey].values[QStringLiteral("PATH")] = {2, QByteArray("x.exe\0", 6)};
        if (holds.contains(u"folder"))
            registry.setText(LocationKey, QStringLiteral("MSINFO"),
                             QFile::encodeName(folder.path()));
        if (holds.contains(u"program"))
            makeFile(folder.filePath(QStringLiteral("MSINFO32.EXE")));
        if (holds.contains(u"locked")) {
            for (FakeRegistry::FakeKey &key : registry.keys)
                key.allowedAccess = 0x20019;
        }
        FakeProcessStarter processes;
        processes.succeeds = startSucceeds;
        FakeMessageBox messages;

        StartSysInfo(registry, processes, messages);

        const QStringList expectedStarts =
            started.isEmpty()
                ? QStringList()
                : QStringList{QString(started).replace(QStringLiteral("%1"), folder.path())};
        QCOMPARE(processes.commandLines, expectedStarts);
        QCOMPARE(messages.shown, messageShown ? QStringList{Unavailable} : QStringList());
        QCOMPARE(registry.closeCount, registry.openCount);
    }

    void systemRegistryNamesTheFirstInstalledInformationProgram()
    {
        QTemporaryDir bin;
        PathOverride path(bin.path());
        SystemRegistry registry;
        QString value = QStringLiteral("before");
        QVERIFY(!readKey(registry, &value));
        QVERIFY(value.isEmpty());

        makeFile(bin.filePath(QStringLiteral("gnome-system-monitor")), "#!/bin/sh\n", Executable);
        makeFile(bin.filePath(QStringLiteral("kinfocenter")), "#!/bin/sh\n", Executable);
        QVERIFY(readKey(registry, &value, InfoKey.toLower()));
        QCOMPARE(value, bin.filePath(QStringLiteral("kinfocenter")));

        // Not executable: not a program that could be started.
        makeFile(bin.filePath(QStringLiteral("hardinfo")));
        QVERIFY(readKey(registry, &value));
        QCOMPARE(value, bin.filePath(QStringLiteral("kinfocenter")));
        QVERIFY(!readKey(registry, &value, LocationKey, QStringLiteral("MSINFO")));
        QVERIFY(!readKey(registry, &value, InfoKey, QStringLiteral("Other")));
    }

    void manualFoldersStartWithTheCurrentFolder()
    {
        QTemporaryDir current;
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(current.path()));
        const QStringList folders = manualFolders();
        QVERIFY(QDir::setCurrent(saved));
        QCOMPARE(folders.size(), 2);
        QCOMPARE(QFileInfo(folders.first()).canonicalFilePath(),
                 QFileInfo(current.path()).canonicalFilePath());
        QVERIFY2(QDir::isAbsolutePath(folders.last()), qPrintable(folders.last()));
    }

    void manualIsLookedForInOrderAndOpenedOrExplained()
    {
        QTemporaryDir current;
        QTemporaryDir installed;
        const QStringList folders{current.path(), installed.path()};
        FakeDocumentOpener opener;
        FakeMessageBox messages;
        QVERIFY(findManual(folders).isEmpty());
        openManual(folders, opener, messages);
        QVERIFY(opener.opened.isEmpty());
        QCOMPARE(messages.shown,
                 QStringList{QStringLiteral("マニュアル (manual.html) が見つかりません｡"
                                            "\r\n探した場所:\r\n") +
                             current.path() + "\r\n" + installed.path()});

        messages.shown.clear();
        const QString manual = installed.filePath(QStringLiteral("manual.html"));
        makeFile(manual);
        QCOMPARE(findManual(folders), manual);
        // A folder of that name is no manual.
        QVERIFY(QDir(current.path()).mkdir(QStringLiteral("manual.html")));
        QCOMPARE(findManual(folders), manual);
        openManual(folders, opener, messages);
        QCOMPARE(opener.opened, QStringList{manual});
        QVERIFY(messages.shown.isEmpty());

        // The system reports later that nothing can show the file.
        opener.pending.first()(QStringLiteral("このファイルを表示するプログラムがありません"));
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY(messages.shown.first().startsWith(QStringLiteral(
            "マニュアルを開けませんでした｡\r\nこのファイルを表示するプログラムがありません")));
        QVERIFY(messages.shown.first().endsWith(manual));

        QVERIFY(QDir(current.path()).rmdir(QStringLiteral("manual.html")));
        makeFile(current.filePath(QStringLiteral("manual.html")));
        QCOMPARE(findManual(folders), current.filePath(QStringLiteral("manual.html")));
    }

    void documentOpenerReportsWhatXdgOpenReports_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("reason");
        QTest::newRow("opened") << 0 << QString();
        QTest::newRow("no viewer")
            << 3 << QStringLiteral("このファイルを表示するプログラムがありません");
        QTest::newRow("viewer failed")
            << 4 << QStringLiteral("表示するプログラムが異常終了しました");
    }
    void documentOpenerReportsWhatXdgOpenReports()
    {
        QFETCH(int, exitCode);
        QFETCH(QString, reason);
        QTemporaryDir bin;
        const QString argumentFile = bin.filePath(QStringLiteral("argument"));
        makeFile(bin.filePath(QStringLiteral("xdg-open")),
                 QStringLiteral("#!/bin/sh\nprintf '%s' \"$1\" > '%1'\nexit %2\n")
                     .arg(argumentFile)
                     .arg(exitCode)
                     .toUtf8(),
                 Executable);
        PathOverride path(bin.path());
        QtDocumentOpener opener;
        QStringList reasons;
        opener.open(QStringLiteral("/docs/マニュアル 1.html"),
                    [&reasons](const QString &why) { reasons << why; });
        QTRY_VERIFY(opener.findChildren<QProcess *>().isEmpty());
        QCOMPARE(reasons, reason.isEmpty() ? QStringList() : QStringList{reason});
        QCOMPARE(QString::fromUtf8(readBytes(argumentFile)),
                 QStringLiteral("/docs/マニュアル 1.html"));
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
