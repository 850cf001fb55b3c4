#include "client/clientstartup.h"
#include "client/ui/assignmentdialog.h"
#include "client/uploadchecks.h"
#include "support/files.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>
#include <unistd.h>

// What the student program checks before it sends anything: its settings,
// the login name and the chosen file.
class TestClientChecks : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_startFolder;

    QString settings(const QByteArray &bytes)
    {
        const QString folder = m_dir.filePath("settings");
        QDir().mkpath(folder);
        QFile::remove(folder + "/var.cfg");
        writeBytes(folder + "/var.cfg", bytes);
        return folder;
    }
    QString failure(const QString &folder)
    {
        const Result<ClientSettings> result = prepareClient(QStringLiteral("taro"), folder);
        return result ? QString() : result.error();
    }

private Q_SLOTS:
    void initTestCase() { m_startFolder = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(m_startFolder); }

    void settingsReadLikeTheServers_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("failure"); // a part of the message
        QTest::newRow("plain") << QByteArray("serveraddress=192.0.2.1\r\nport=10013\r\n")
                               << "192.0.2.1"
                               << "10013"
                               << "";
        // The leading number, as inivar.cfg's port is read.
        QTest::newRow("comment after the port")
            << QByteArray("serveraddress=host\nport=23001 # lab\n") << "host"
            << "23001"
            << "";
        QTest::newRow("port rounded") << QByteArray("serveraddress=h\r\nport=80.5\r\n") << "h"
                                      << "80"
                                      << "";
        QTest::newRow("garbage") << QByteArray("\x89\x01zzz\r\n\xff\xfe", 10) << ""
                                 << ""
                                 << "var.cfg に serveraddress の行がありません";
        QTest::newRow("no port") << QByteArray("serveraddress=h\r\n") << ""
                                 << ""
                                 << "var.cfg に port の行がありません";
        QTest::newRow("bad port") << QByteArray("# 学生用\r\nserveraddress=h\r\nport=abc\r\n") << ""
                                  << ""
                                  << "var.cfg の 3 行目: port の値｢abc｣はポート番号";
        QTest::newRow("port too large") << QByteArray("serveraddress=h\r\nport=70000\r\n") << ""
                                        << ""
                                        << "2 行目: port の値｢70000｣";
        QTest::newRow("empty address") << QByteArray("serveraddress=\r\nport=1\r\n") << ""
                                       << ""
                                       << "1 行目: serveraddress の値が空です";
        QTest::newRow("blank in address")
            << QByteArray("[lab]\r\nserveraddress=h # lab\r\nport=1\r\n") << ""
            << ""
            << "2 行目: serveraddress の値｢h # lab｣に空白";
    }
    void settingsReadLikeTheServers()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(QString, failure);
        const Result<ClientSettings> result = prepareClient(QStringLiteral("taro"), settings(file));
        if (!failure.isEmpty()) {
            QVERIFY(!result);
            QVERIFY2(result.error().contains(failure), qPrintable(result.error()));
            QVERIFY(result.error().endsWith(QStringLiteral("\r\nプログラムを終了します")));
            return;
        }
        QVERIFY2(result, qPrintable(result.error()));
        QCOMPARE(result->serverAddress, address);
        QCOMPARE(result->serverPort, port);
    }

    // Only a regular file of at most 64 KiB is read: a device would never
    // end and a FIFO would wait before any window appears.
    void settingsThatAreNoSmallFileAreRefused()
    {
        const QString folder = settings("");
        const QString path = folder + "/var.cfg";
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::link("/dev/zero", path));
        QVERIFY(
            failure(folder).contains("var.cfg を読み込めません (普通のファイルではありません)"));
        QVERIFY(QFile::remove(path));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        QVERIFY(failure(folder).contains("普通のファイルではありません"));
        QVERIFY(QFile::remove(path));
        QFile big(path);
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.write("serveraddress=h\r\nport=1\r\n") > 0);
        QVERIFY(big.resize(64 * 1024 + 1));
        big.close();
        QVERIFY2(failure(folder).contains("65536 バイトを超えています"),
                 qPrintable(failure(folder)));
        QVERIFY(big.resize(64 * 1024));
        QCOMPARE(failure(folder), QString());
    }

    void loginNamesTheServerWouldMisread()
    {
        QVERIFY(checkAttendanceName(QStringLiteral("taro")));
        QVERIFY(checkAttendanceName(QStringLiteral("山田")));
        const Result<> refusal = checkAttendanceName(QStringLiteral("josé"));
        QVERIFY(!refusal);
        const QString accented = refusal.error();
        QVERIFY2(accented.startsWith("ログイン名｢josé｣にShift_JISで書けない文字"),
                 qPrintable(accented));
        QVERIFY(accented.contains("管理者"));
        QVERIFY(checkAttendanceName(QStringLiteral("ta,ro")).error().contains("｢,｣"));
        // In a file name the login name is blamed, not the extension.
        const QString path = m_dir.filePath("report.txt");
        writeBytes(path, "x");
        const Result<ChosenFile> upload = checkChosenFile(path, QStringLiteral("ta,ro"));
        QVERIFY(!upload);
        QVERIFY2(upload.error().startsWith("ログイン名｢ta,ro｣に｢,｣"), qPrintable(upload.error()));
        QVERIFY(!checkChosenFile(path, QStringLiteral("dom\\taro")).error().contains("拡張子"));
        QCOMPARE(checkChosenFile(path, QStringLiteral("taro"))->announcedName, "taro.txt");
    }

    void filesThatCannotBeSent_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no extension") << "README"
                                      << "｢README｣には拡張子 (.c や .pdf など) がない";
        QTest::newRow("dot only in the folder") << "v1.2/README"
                                                << "｢README｣には拡張子";
        QTest::newRow("folder") << "folder.d"
                                << "｢folder.d｣はフォルダか特殊なファイル";
        QTest::newRow("fifo") << "pipe.c"
                              << "｢pipe.c｣はフォルダか特殊なファイル";
        QTest::newRow("link to a device") << "null.txt"
                                          << "｢null.txt｣はフォルダか特殊なファイル";
        QTest::newRow("unreadable") << "secret.txt"
                                    << "｢secret.txt｣を読めないため";
        QTest::newRow("missing") << "gone.txt"
                                 << "｢gone.txt｣が見つかりません";
        QTest::newRow("2 GiB") << "huge.iso"
                               << "｢huge.iso｣は大きすぎる";
    }
    void filesThatCannotBeSent()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString path = m_dir.filePath("files/" + kind);
        QDir().mkpath(QFileInfo(path).path());
        if (kind == "README" || kind == "v1.2/README") {
            writeBytes(path, "x");
        } else if (kind == "folder.d") {
            QDir().mkpath(path);
        } else if (kind == "pipe.c") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "null.txt") {
            QVERIFY(QFile::link("/dev/null", path));
        } else if (kind == "secret.txt") {
            if (::geteuid() == 0)
                QSKIP("root reads every file");
            writeBytes(path, "x");
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
        } else if (kind == "huge.iso") {
            QFile huge(path);
            QVERIFY(huge.open(QIODevice::WriteOnly));
            QVERIFY(huge.resize(qint64(2147483648))); // sparse: costs no disk
        }
        const Result<ChosenFile> chosen = checkChosenFile(path, QStringLiteral("taro"));
        QVERIFY(!chosen);
        QVERIFY2(chosen.error().startsWith(reason), qPrintable(chosen.error()));
        QVERIFY(chosen.error().contains("\r\n")); // and what to do
    }

    // The dialog starts in Documents, shows every file, and comes back to
    // where the last file was chosen.
    void dialogStartsInDocumentsAndRemembersTheFolder()
    {
        const QByteArray home = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(m_dir.filePath("home")));
        const QString documents = m_dir.filePath("home/Documents");
        const QString lab = m_dir.filePath("home/lab");
        QDir().mkpath(documents);
        QDir().mkpath(lab);
        writeBytes(lab + "/Makefile", "all:\n");
        AssignmentFileDialog dialog(nullptr);
        qputenv("HOME", home);
        QCOMPARE(dialog.folder(), documents);
        QString openedIn;
        QStringList filters;
        const auto answer = [&](const QString &path) {
            auto *poll = new QTimer(this);
            connect(poll, &QTimer::timeout, this, [&, poll, path] {
                auto *shown = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
                if (!shown)
                    return;
                poll->deleteLater();
                openedIn = shown->directory().absolutePath();
                filters = shown->nameFilters();
                if (path.isEmpty()) {
                    shown->reject();
                    return;
                }
                shown->selectFile(path);
                QMetaObject::invokeMethod(shown, "accept");
            });
            poll->start(10);
        };
        answer(lab + "/Makefile");
        QCOMPARE(dialog.openFileName("すべてのファイル (*)|*"), lab + "/Makefile");
        QCOMPARE(openedIn, documents);
        QCOMPARE(filters, QStringList{"すべてのファイル (*)"});
        answer(QString());
        QCOMPARE(dialog.openFileName("すべてのファイル (*)|*"), QString());
        QCOMPARE(openedIn, lab);
        QCOMPARE(dialog.folder(), lab); // a cancelled dialog keeps it
    }
};

QTEST_MAIN(TestClientChecks)
#include "tst_clientchecks.moc"
