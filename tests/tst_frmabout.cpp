#include "platform/widgets/twips.h"
#include "server/app/lectureserver.h"
#include "server/ui/frmabout.h"
#include "server/ui/frmmain.h"
#include "server/ui/maintoolbar.h"
#include "support/fakedesktop.h"
#include "support/fakeshell.h"
#include "support/files.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

namespace {

const QString Unavailable = QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません");
const QString InfoKey = QStringLiteral(R"(SOFTWARE\Microsoft\Shared Tools\MSINFO)");

QString labelText(QWidget *box, const char *name)
{
    auto *label = box->findChild<QLabel *>(QString::fromLatin1(name));
    return label ? label->text() : QStringLiteral("<no %1>").arg(QString::fromLatin1(name));
}

// Runs `inspect` on the modal box once it is up; the box is expected to be
// closed by it.
void whileModal(const std::function<void(QWidget *)> &inspect)
{
    QTimer::singleShot(0, qApp, [inspect] {
        QWidget *box = QApplication::activeModalWidget();
        if (!box)
            qFatal("no modal box");
        inspect(box);
    });
}

} // namespace

class TestFrmAbout : public QObject
{
    Q_OBJECT
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<FakeShell> m_shell;
    std::unique_ptr<FrmMain> m_window;

    QAction *item(const char *name) const
    {
        return m_window->findChild<QAction *>(QString::fromLatin1(name));
    }
    QLabel *kadaidir() const { return m_window->findChild<QLabel *>(QStringLiteral("kadaidir")); }
    void clickFolderButton()
    {
        QTest::mouseClick(m_window->findChild<QWidget *>(QStringLiteral("dirname")),
                          Qt::LeftButton);
    }

private Q_SLOTS:
    void init()
    {
        m_desktop = std::make_unique<FakeDesktop>();
        m_shell = std::make_unique<FakeShell>();
        m_window = std::make_unique<FrmMain>(m_desktop->services(), m_shell->services());
        m_window->show();
    }
    void cleanup() { m_window.reset(); }

    void aboutBoxSetsItsTextsAtEveryLoad()
    {
        QStringList seen;
        QList<QPoint> offCentre;
        const auto look = [this, &seen, &offCentre](QWidget *box, Qt::Key closingKey) {
            offCentre << box->frameGeometry().center() - m_window->frameGeometry().center();
            seen << box->windowTitle() + u'|' + labelText(box, "lblTitle") + u'|' +
                        labelText(box, "lblVersion") + u'|' + labelText(box, "lblDescription");
            // Spoil what this load showed: the next load must not show it.
            box->findChild<QLabel *>(QStringLiteral("lblVersion"))->setText(QStringLiteral("x"));
            box->findChild<QLabel *>(QStringLiteral("lblTitle"))->clear();
            QTest::keyClick(box, closingKey);
        };
        whileModal([&look](QWidget *box) { look(box, Qt::Key_Return); });
        item("mnuHelpAbout")->trigger();
        whileModal([&look](QWidget *box) { look(box, Qt::Key_Escape); });
        item("mnuHelpAbout")->trigger();

        const QString expected =
            QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報 quaymoor|Tavrelle|Version 0.0.23|"
                           "出欠管理、課題提出のサポートを行うアプリケーション\n"
                           "バグ、サポート連絡先: support@tavrelle.example\n"
                           "までお願いします｡");
        QCOMPARE(seen, QStringList(2, expected));
        for (const QPoint &offset : offCentre)
            QVERIFY2(offset.manhattanLength() <= 1, "not centred on the main window");
        QVERIFY(!QApplication::activeModalWidget());
    }

    void aboutBoxLayoutAndTheSystemInformationButton()
    {
        frmAbout box(m_shell->registry, m_desktop->processes, m_desktop->messages, m_window.get());
        box.show();
        box.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QCOMPARE(box.size(), QSize(twipsToPixels(5676), twipsToPixels(3648)));
        QVERIFY(
            !(box.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(labelText(&box, "lblDisclaimer"), QStringLiteral("警告: ..."));

        auto *ok = box.findChild<QPushButton *>(QStringLiteral("cmdOK"));
        auto *sysInfo = box.findChild<QPushButton *>(QStringLiteral("cmdSysInfo"));
        QVERIFY(ok && sysInfo);
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QCOMPARE(sysInfo->text(), QStringLiteral("ｼｽﾃﾑ情報(&S)..."));
        QVERIFY(ok->isDefault());
        QCOMPARE(ok->nextInFocusChain(), sysInfo);
        QVERIFY(!box.findChild<QLabel *>(QStringLiteral("picIcon"))->pixmap().isNull());

        // Grey over white, across the box between the texts and the buttons.
        const QImage image = box.grab().toImage();
        for (int x : {twipsToPixels(300), twipsToPixels(5400)}) {
            QCOMPARE(image.pixelColor(x, twipsToPixels(2430)), QColor(128, 128, 128));
            QCOMPARE(image.pixelColor(x, twipsToPixels(2445)), QColor(Qt::white));
            QCOMPARE(image.pixelColor(x, twipsToPixels(2445) + 1), QColor(Qt::white));
        }
        QVERIFY(image.pixelColor(twipsToPixels(300), twipsToPixels(2445) + 2) != QColor(Qt::white));

        // The system information program is started, or its absence explained.
        QTest::mouseClick(sysInfo, Qt::LeftButton);
        QCOMPARE(m_desktop->messages.shown, QStringList{Unavailable});
        QVERIFY(box.isVisible());
        QVERIFY(m_desktop->processes.commandLines.isEmpty());

        m_shell->registry.setText(InfoKey, QStringLiteral("PATH"), "/usr/bin/hardinfo");
        // The access key animates a click, which lands a moment later.
        QTest::keyClick(&box, Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(m_desktop->processes.commandLines, QStringList{R"("/usr/bin/hardinfo")"});
        QCOMPARE(m_desktop->messages.shown.size(), 1);
        QVERIFY(box.isVisible());
    }

    void folderButtonSetsTheAssignmentFolder()
    {
        m_window->server().lecture().setKadaidir(QStringLiteral("/srv/from-roster"));
        m_shell->folders.answer = {FolderChoice::Chosen, QStringLiteral("/home/先生/課題"), 0, {}};
        clickFolderButton();
        QCOMPARE(m_shell->folders.prompts, QStringList{"課題保存先を指定してください"});
        QCOMPARE(kadaidir()->text(), QStringLiteral("/home/先生/課題"));
        QCOMPARE(m_window->server().lecture().kadaidir(), QStringLiteral("/home/先生/課題"));
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }

    void handoutFolderButtonSetsTheHandoutFolder()
    {
        m_shell->folders.answer = {FolderChoice::Chosen, QStringLiteral("/home/先生/配布"), 0, {}};
        QTest::mouseClick(m_window->findChild<QWidget *>(QStringLiteral("haifudirBtn")),
                          Qt::LeftButton);
        QCOMPARE(m_shell->folders.prompts, QStringList{"配布物のフォルダを指定してください"});
        QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("haifudir"))->text(),
                 QStringLiteral("/home/先生/配布"));
        QCOMPARE(m_window->server().network().handouts().folder(),
                 QStringLiteral("/home/先生/配布"));
        QCOMPARE(kadaidir()->text(), QString()); // the assignment folder stays
    }

    void folderButtonCancelOrFailureKeepsTheFolder_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("fails");
        QTest::newRow("cancel, empty") << QString() << false;
        QTest::newRow("cancel, set") << QStringLiteral("/srv/kadai") << false;
        QTest::newRow("failure") << QStringLiteral("/srv/kadai") << true;
    }
    void folderButtonCancelOrFailureKeepsTheFolder()
    {
        QFETCH(QString, before);
        QFETCH(bool, fails);
        m_window->server().lecture().setKadaidir(before);
        if (fails)
            m_shell->folders.answer = {FolderChoice::Failed, QStringLiteral("/elsewhere"), 75,
                                       QStringLiteral("パスが長すぎます")};
        clickFolderButton();
        QCOMPARE(m_shell->folders.prompts.size(), 1);
        QCOMPARE(kadaidir()->text(), before);
        QCOMPARE(m_window->server().lecture().kadaidir(), before);
        QCOMPARE(m_desktop->messages.shown,
                 fails ? QStringList{"75 パスが長すぎます"} : QStringList());
    }

    void helpOpenAndTheHopenButtonOpenTheSameManual()
    {
        QTemporaryDir current;
        writeBytes(current.filePath(QStringLiteral("manual.html")), "<html></html>");
        const QString saved = QDir::currentPath();
        QVERIFY(QDir::setCurrent(current.path()));
        item("mnuHelpOpen")->trigger();
        auto *toolBar = m_window->findChild<MainToolBar *>(QStringLiteral("tbToolBar"));
        QTest::mouseClick(toolBar->widgetForAction(toolBar->button(QStringLiteral("Hopen"))),
                          Qt::LeftButton);
        QVERIFY(QDir::setCurrent(saved));
        const QString manual =
            QFileInfo(current.filePath(QStringLiteral("manual.html"))).absoluteFilePath();
        QCOMPARE(m_shell->documents.opened, QStringList(2, manual));
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestFrmAbout)
#include "tst_frmabout.moc"
