#include "platform/qttextlog.h"
#include "platform/twips.h"
#include "server/app/lectureserver.h"
#include "server/ui/frmmain.h"
#include "server/ui/mainstatusbar.h"
#include "server/ui/maintoolbar.h"
#include "support/fakedesktop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <memory>

namespace {

const QString RosterFilter = QStringLiteral("受講ﾌｧｲﾙ (*.cfg)|*.cfg");
const QString TableFilter = QStringLiteral("txtﾌｧｲﾙ (*.txt)|*.txt");

// What the commands left on the test doubles, in one comparable text.
QString effects(const FakeDesktop &desktop)
{
    return QStringList{desktop.dialogs.filters.join(u';'), desktop.dialogs.proposedNames.join(u';'),
                       QString::number(desktop.clipboard.setCount),
                       desktop.processes.commandLines.join(u';'), desktop.messages.shown.join(u';')}
        .join(u'|');
}
const QString NoEffects = QStringLiteral("||0||");

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT
    std::unique_ptr<FakeDesktop> m_desktop;
    std::unique_ptr<FrmMain> m_window;

    template <typename T> T *child(const QString &name) const
    {
        T *found = m_window->findChild<T *>(name);
        if (!found)
            qFatal("no child %s", qPrintable(name));
        return found;
    }
    QAction *item(const QString &name) const { return child<QAction>(name); }
    MainToolBar *toolBar() const { return child<MainToolBar>(QStringLiteral("tbToolBar")); }
    QWidget *control(const QString &name) const { return child<QWidget>(name); }
    void resetEffects() { *m_desktop = FakeDesktop(); }
    void showActive()
    {
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

private Q_SLOTS:
    void init()
    {
        m_desktop = std::make_unique<FakeDesktop>();
        m_window = std::make_unique<FrmMain>(m_desktop->services());
        m_window->server().tableExport().configure(QStringLiteral("\t"),
                                                   QStringLiteral("calc --calc"));
    }
    void cleanup() { m_window.reset(); }

    void menuTreeCaptionsNamesAndShortcuts()
    {
        QStringList tree;
        for (QAction *top : m_window->menuBar()->actions()) {
            tree << top->menu()->objectName() + u' ' + top->text();
            for (QAction *entry : top->menu()->actions()) {
                QString line = QStringLiteral("  ") + entry->objectName();
                if (!entry->isSeparator())
                    line += u' ' + entry->text();
                if (!entry->shortcut().isEmpty())
                    line += u' ' + entry->shortcut().toString();
                if (entry->isCheckable())
                    line += entry->isChecked() ? QStringLiteral(" [x]") : QStringLiteral(" [ ]");
                tree << line;
            }
        }
        QCOMPARE(tree, (QStringList{
                           "mnuFile ﾌｧｲﾙ(&F)",
                           "  mnuFileOpen 開く(&O) Ctrl+O",
                           "  mnuFileClose 閉じる(&C)",
                           "  mnuFileBar1",
                           "  mnuFileSave データ保存(&S) Ctrl+S",
                           "  mnuFileSaveAs Log保存(&L)...",
                           "  mnuFileBar2",
                           "  mnuFileExit 終了(&X)",
                           "mnuEdit 編集(&E)",
                           "  mnuEditCopy ｺﾋﾟｰ(&C) Ctrl+C",
                           "  mnuExcelCopy Excelの起動(&E) Ctrl+E",
                           "mnuView 表示(&V)",
                           "  mnuViewToolbar ﾂｰﾙ ﾊﾞｰ(&T) [x]",
                           "  mnuViewStatusBar ｽﾃｰﾀｽ ﾊﾞｰ(&B) [x]",
                           "  mnuViewOptions ｵﾌﾟｼｮﾝ(&O)...",
                           "mnuHelp ﾍﾙﾌﾟ(&H)",
                           "  mnuHelpOpen 開く(&O)",
                           "  mnuHelpBar1",
                           "  mnuHelpAbout ﾊﾞｰｼﾞｮﾝ情報(&A)...",
                       }));
    }

    void toolbarButtonsShowPicturesAndTooltips()
    {
        QStringList buttons;
        for (QAction *action : toolBar()->actions()) {
            auto *button = qobject_cast<QToolButton *>(toolBar()->widgetForAction(action));
            QVERIFY(button);
            QVERIFY2(!button->icon().pixmap(16, 16).isNull(), qPrintable(action->objectName()));
            QVERIFY(button->text().isEmpty());
            buttons << action->data().toString() + u'=' + button->toolTip();
        }
        QCOMPARE(buttons, (QStringList{"Open=開く", "Save=保存", "Copy=ｺﾋﾟｰ", "Hopen=ヘルプを見る",
                                       "Excelcopy="}));
    }

    void toolbarButtonsRunTheMenuCommands_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("menuItem");
        const char *pairs[][2] = {{"Open", "mnuFileOpen"},
                                  {"Save", "mnuFileSave"},
                                  {"Copy", "mnuEditCopy"},
                                  {"Excelcopy", "mnuExcelCopy"}};
        for (const auto &[key, menuItem] : pairs)
            QTest::newRow(key) << QString::fromLatin1(key) << QString::fromLatin1(menuItem);
    }
    void toolbarButtonsRunTheMenuCommands()
    {
        QFETCH(QString, key);
        QFETCH(QString, menuItem);
        m_window->show();
        QTest::mouseClick(toolBar()->widgetForAction(toolBar()->button(key)), Qt::LeftButton);
        const QString byButton = effects(*m_desktop);
        QVERIFY(byButton != NoEffects);
        resetEffects();
        item(menuItem)->trigger();
        QCOMPARE(effects(*m_desktop), byButton);
    }

    void toolbarKeysCompareExactly()
    {
        for (const char *key : {"open", "SAVE", "Copy ", "excelcopy", "", "Hopen2"})
            m_window->tbToolBar_ButtonClick(QString::fromLatin1(key));
        QCOMPARE(effects(*m_desktop), NoEffects);
        m_window->tbToolBar_ButtonClick(QStringLiteral("Excelcopy"));
        QCOMPARE(m_desktop->processes.commandLines, QStringList{"calc --calc"});
    }

    void viewTogglesHideAndShowWithoutMovingAnything_data()
    {
        QTest::addColumn<QString>("itemName");
        QTest::addColumn<QString>("barName");
        QTest::newRow("toolbar") << QStringLiteral("mnuViewToolbar") << QStringLiteral("tbToolBar");
        QTest::newRow("status bar")
            << QStringLiteral("mnuViewStatusBar") << QStringLiteral("sbStatusBar");
    }
    void viewTogglesHideAndShowWithoutMovingAnything()
    {
        QFETCH(QString, itemName);
        QFETCH(QString, barName);
        m_window->show();
        QAction *toggle = item(itemName);
        QWidget *bar = control(barName);
        const QRect grid = control("UserInfoGrid")->geometry();
        const QRect log = control("TxtOutput")->geometry();
        const QRect barPlace = bar->geometry();

        toggle->trigger();
        QVERIFY(bar->isHidden());
        QVERIFY(!toggle->isChecked());
        QCOMPARE(control("UserInfoGrid")->geometry(), grid);
        QCOMPARE(control("TxtOutput")->geometry(), log);

        toggle->trigger();
        QVERIFY(!bar->isHidden());
        QVERIFY(toggle->isChecked());
        QCOMPARE(bar->geometry(), barPlace);
        QCOMPARE(effects(*m_desktop), NoEffects);
    }

    void optionsShowOnlyThePlaceholder()
    {
        item("mnuViewOptions")->trigger();
        QCOMPARE(effects(*m_desktop),
                 QStringLiteral("||0||ｵﾌﾟｼｮﾝ ﾀﾞｲｱﾛｸﾞのｺｰﾄﾞをここに記述します !"));
    }

    void tabGoesFromLogToGridToFolderButton()
    {
        showActive();
        QCOMPARE(QApplication::focusWidget(), control("TxtOutput"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control("UserInfoGrid"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control("dirname"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control("TxtOutput"));
    }

    void shortcutsRunTheirCommandsWhereverTheFocusIs_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("expected");
        const QString copied = QStringLiteral("||1||");
        const QString opened = RosterFilter + QStringLiteral("||0||");
        const QString saved = TableFilter + QStringLiteral("|.txt|0||");
        const QString launched = QStringLiteral("||1|calc --calc|");
        for (const char *focus : {"TxtOutput", "UserInfoGrid", "dirname"}) {
            const QString name = QString::fromLatin1(focus);
            QTest::addRow("%s Ctrl+C", focus) << name << int(Qt::Key_C) << copied;
            QTest::addRow("%s Ctrl+O", focus) << name << int(Qt::Key_O) << opened;
            QTest::addRow("%s Ctrl+S", focus) << name << int(Qt::Key_S) << saved;
            QTest::addRow("%s Ctrl+E", focus) << name << int(Qt::Key_E) << launched;
        }
    }
    void shortcutsRunTheirCommandsWhereverTheFocusIs()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(QString, expected);
        showActive();
        auto *log = child<QtTextLog>("TxtOutput");
        log->insertAtTop(QStringLiteral("log entry\r\n"));
        log->selectAll(); // what the log's own copy would take
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        control(focus)->setFocus();
        QCOMPARE(QApplication::focusWidget(), control(focus));

        QTest::keyClick(control(focus), Qt::Key(key), Qt::ControlModifier);
        QCOMPARE(effects(*m_desktop), expected);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        QCOMPARE(log->text(), QStringLiteral("log entry\r\n"));
    }

    void logStillTakesOrdinaryTyping()
    {
        showActive();
        QWidget *log = control("TxtOutput");
        QTest::keyClicks(log, QStringLiteral("memo"));
        QCOMPARE(child<QtTextLog>("TxtOutput")->text(), QStringLiteral("memo"));
        QCOMPARE(effects(*m_desktop), NoEffects);
    }

    void gridShowsWholeTimesAndTwipsWidths()
    {
        RosterGrid &grid = m_window->server().grid();
        auto *view = child<QTableView>(QStringLiteral("UserInfoGrid"));
        for (int column = 0; column < RosterGrid::ColumnCount; ++column)
            grid.setColumnWidth(column, 800);
        QCOMPARE(view->columnWidth(RosterGrid::UserId), twipsToPixels(800));
        const int time = view->fontMetrics().horizontalAdvance(QStringLiteral("23:59:59"));
        QVERIFY(view->columnWidth(RosterGrid::Attendance) > time);
        QVERIFY(view->columnWidth(RosterGrid::Assignment) > time);
    }

    void closingTheWindowClosesTheOthers()
    {
        showActive();
        QWidget other;
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        m_window->close();
        QVERIFY(!other.isVisible());
    }

    void statusBarShowsStatusDateAndTime()
    {
        QDateTime now(QDate(2024, 4, 8), QTime(9, 5, 59));
        QWidget host;
        host.resize(400, 20);
        MainStatusBar bar(&host, [&now] { return now; });
        bar.setGeometry(0, 0, 400, 18);
        host.show();
        QCOMPARE(bar.panelText(MainStatusBar::Status), QStringLiteral("ｽﾃｰﾀｽ"));
        QCOMPARE(bar.panelText(MainStatusBar::Date), QStringLiteral("2024/04/08"));
        QCOMPARE(bar.panelText(MainStatusBar::Time), QStringLiteral("9:05"));
        now = QDateTime(QDate(2024, 4, 9), QTime(10, 30, 0));
        QTRY_COMPARE(bar.panelText(MainStatusBar::Time), QStringLiteral("10:30"));
        QCOMPARE(bar.panelText(MainStatusBar::Date), QStringLiteral("2024/04/09"));
        for (QLabel *panel : bar.findChildren<QLabel *>())
            QVERIFY(panel->width() >= twipsToPixels(1440));
    }
};

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
