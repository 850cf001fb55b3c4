#include "common/clock.h"
#include "common/wire.h"
#include "platform/widgets/qtdialogs.h"
#include "platform/widgets/translations.h"
#include "platform/widgets/twips.h"
#include "server/app/attendanceledger.h"
#include "server/app/lectureserver.h"
#include "server/app/terminationsignals.h"
#include "server/records/journaledlog.h"
#include "server/records/lecturejournal.h"
#include "server/term/ledgercorrections.h"
#include "server/ui/flaggedcelldelegate.h"
#include "server/ui/frmledger.h"
#include "server/ui/frmmain.h"
#include "server/ui/frmseats.h"
#include "server/ui/frmsubmissions.h"
#include "server/ui/mainstatusbar.h"
#include "server/ui/maintoolbar.h"
#include "server/ui/qttextlog.h"
#include "server/ui/rosterpane.h"
#include "server/ui/seatmapview.h"
#include "server/ui/windowplace.h"
#include "support/fakedesktop.h"
#include "support/fakeshell.h"
#include "support/files.h"
#include "support/testclient.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPaintEngine>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStyleOptionViewItem>
#include <QSysInfo>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <QTreeView>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

const QString RosterFileFilter = QStringLiteral("受講ﾌｧｲﾙ (*.cfg)|*.cfg");
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

// Keeps the texts a widget paints, as its painter hands them over, elided or
// not, with the widget's own fonts and resolution.
class TextRecorder : public QPaintDevice
{
    class Engine : public QPaintEngine
    {
    public:
        Engine() : QPaintEngine(AllFeatures) {}
        bool begin(QPaintDevice *) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState &) override {}
        void drawPath(const QPainterPath &) override {}
        void drawPolygon(const QPointF *, int, PolygonDrawMode) override {}
        void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
        void drawTextItem(const QPointF &, const QTextItem &item) override { text += item.text(); }
        Type type() const override { return User; }
        QString text;
    };

public:
    explicit TextRecorder(QWidget &widget) : m_widget(widget) { widget.render(this); }
    QPaintEngine *paintEngine() const override { return &m_engine; }
    // Everything painted, in painting order.
    const QString &text() const { return m_engine.text; }

protected:
    // The widget's own figures: metric() is protected, but reachable through
    // a class that makes it public.
    int metric(PaintDeviceMetric metric) const override
    {
        struct Open : QWidget
        {
            using QWidget::metric;
        };
        return (m_widget.*&Open::metric)(metric);
    }

private:
    QWidget &m_widget;
    mutable Engine m_engine;
};

// A port that nothing listens on, below the range the system hands out for
// port 0, so that no other test's socket takes it before the program does.
quint16 freePort()
{
    for (;;) {
        const auto port = quint16(QRandomGenerator::global()->bounded(20000, 32000));
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port))
            return port;
    }
}

// A lecture on disk: roster, settings with a free port, assignment folder,
// and the user's data folder where the journals go.
struct LectureFiles
{
    QTemporaryDir dir;
    QString roster = dir.filePath(QStringLiteral("roster.cfg"));
    QString settings = dir.filePath(QStringLiteral("inivar.cfg"));
    QString kadai = dir.filePath(QStringLiteral("kadai"));

    LectureFiles()
    {
        QDir().mkpath(kadai);
        qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath(QStringLiteral("data"))));
        writeRoster(roster, QStringLiteral("情報処理演習Ⅰ"));
        newPort();
    }
    void writeRoster(const QString &path, const QString &lecture) const
    {
        writeBytes(path,
                   cp932Lines({"kougimei=" + lecture, "tantousya=山田 太郎", "kadaidir=" + kadai,
                               "<start data>", "hanako,花子", "taro,太郎", "<end data>"}));
    }
    void newPort() const
    {
        writeBytes(settings, cp932Lines({QStringLiteral("port=%1").arg(freePort())}));
    }
};

// Types `text` as keys that carry it, Japanese too (keyClicks takes only
// ASCII).
void typeText(QWidget &widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, &widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// taro attends and hands in a file, as his student program would.
void attendAndSubmit(quint16 port)
{
    TestClient taro(port);
    QVERIFY(taro.waitForLines(2));
    QCOMPARE(taro.ask(cp932::encode(wire::userLine(QStringLiteral("taro")) + wire::Eol)),
             wire::AttendanceTaken);
    QCOMPARE(taro.ask(cp932::encode(wire::putLine(QStringLiteral("taro.txt"), 5) + wire::Eol)),
             wire::ImageModeOk);
    QCOMPARE(taro.ask("hello"), wire::ReceiveComplete);
}

// The lecturer's program in a process of its own, for the test that kills
// it: "--lecture <roster> <settings>" loads the roster at start-up, as the
// lecturer would choose it, and prints the port it listens on.
int runLecture(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FakeDesktop desktop;
    desktop.dialogs.nextAnswers << QString::fromLocal8Bit(argv[2]);
    FrmMain window(desktop.services());
    if (!window.Form_Load(QString::fromLocal8Bit(argv[3]))) {
        std::fprintf(stderr, "%s\n", qPrintable(desktop.messages.shown.join(u'|')));
        return 1;
    }
    std::printf("%d\n", window.server().network().port());
    std::fflush(stdout);
    return QApplication::exec();
}

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
    // Starts the window with the files' settings, the lecturer choosing their roster.
    bool startLecture(const LectureFiles &files)
    {
        m_desktop->dialogs.nextAnswers << files.roster;
        return m_window->Form_Load(files.settings);
    }
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
    void cleanup()
    {
        m_window.reset();
        Clock::setSource({});
    }

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
        QCOMPARE(
            tree.join(u'|'),
            QStringLiteral("mnuFile ﾌｧｲﾙ(&F)|  mnuFileOpen 開く(&O) Ctrl+O|"
                           "  mnuFileClose 閉じる(&C)|  mnuFileImport 名簿の取り込み(&I)...|"
                           "  mnuFileBar1|"
                           "  mnuFileSave データ保存(&S) Ctrl+S|  mnuFileSaveAs Log保存(&L)...|"
                           "  mnuFileBar2|  mnuFileExit 終了(&X)|"
                           "mnuEdit 編集(&E)|  mnuEditCopy ｺﾋﾟｰ(&C) Ctrl+C|"
                           "  mnuExcelCopy Excelの起動(&E) Ctrl+E|"
                           "mnuView 表示(&V)|  mnuViewToolbar ﾂｰﾙ ﾊﾞｰ(&T) [x]|"
                           "  mnuViewStatusBar ｽﾃｰﾀｽ ﾊﾞｰ(&B) [x]|  mnuViewOptions ｵﾌﾟｼｮﾝ(&O)...|"
                           "  mnuViewBar1|  mnuViewLedger 出席簿(&L)...|"
                           "  mnuViewSubmissions 提出一覧(&K)...|  mnuViewSeats 座席表(&M)|"
                           "mnuHelp ﾍﾙﾌﾟ(&H)|  mnuHelpOpen 開く(&O)|  mnuHelpBar1|"
                           "  mnuHelpAbout ﾊﾞｰｼﾞｮﾝ情報(&A)..."));
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

    void tabGoesFromLogToGridToFolderButtons()
    {
        showActive();
        QCOMPARE(QApplication::focusWidget(), control("TxtOutput"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control("UserInfoGrid"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control("dirname"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control("haifudirBtn"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), control("TxtOutput"));
    }

    void shortcutsRunTheirCommandsWhereverTheFocusIs_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("expected");
        const QString copied = QStringLiteral("||1||");
        const QString opened = RosterFileFilter + QStringLiteral("||0||");
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

    void flaggedAddressCellIsPaintedHighlighted()
    {
        RosterGrid &grid = m_window->server().grid();
        for (int column = 0; column < RosterGrid::ColumnCount; ++column)
            grid.setColumnWidth(column, 900); // all in sight
        grid.setRows(3);
        grid.setRosterCount(2);
        for (int row = 1; row <= 2; ++row)
            grid.setText(row, RosterGrid::Address, QStringLiteral("127.0.0.2"));
        grid.flagAddress(1);
        m_window->show();
        auto *view = child<QTableView>(QStringLiteral("UserInfoGrid"));
        view->clearSelection();
        const QImage shown = view->viewport()->grab().toImage();
        const auto background = [&](int row, int column) {
            const QRect cell = view->visualRect(view->model()->index(row - 1, column));
            if (!view->viewport()->rect().contains(cell))
                qFatal("cell %d,%d is out of sight", row, column);
            return shown.pixelColor(cell.bottomRight() - QPoint(3, 3));
        };
        const QColor flagged = FlaggedCellDelegate::flaggedColour();
        QCOMPARE(background(1, RosterGrid::Address), flagged);
        QVERIFY(background(1, RosterGrid::UserId) != flagged);
        QVERIFY(background(2, RosterGrid::Address) != flagged);
    }

    void gridPaintsWholeTimesInTheLecturersFont()
    {
        RosterGrid &grid = m_window->server().grid();
        auto *view = child<QTableView>(QStringLiteral("UserInfoGrid"));
        QVERIFY2(QFontInfo(view->font()).family() == u"IPAPGothic",
                 "MS PGothic must resolve to IPAPGothic (scripts/install-deps.sh)");
        const int startWidths[RosterGrid::ColumnCount] = {800, 1200, 800, 800, 1300};
        for (int column = 0; column < RosterGrid::ColumnCount; ++column)
            grid.setColumnWidth(column, startWidths[column]);
        QCOMPARE(view->columnWidth(RosterGrid::UserId), twipsToPixels(800));
        QCOMPARE(view->columnWidth(RosterGrid::Address), twipsToPixels(1300));

        const QStringList times = {"01:24:37", "00:00:00", "08:48:58", "18:38:28",
                                   "20:59:59", "23:44:44", "11:11:11"};
        grid.setRows(1 + int(times.size()));
        for (int row = 1; row <= times.size(); ++row) {
            grid.setText(row, RosterGrid::UserId, QStringLiteral("s%1").arg(row));
            grid.setText(row, RosterGrid::Attendance, times[row - 1]);
            grid.setText(row, RosterGrid::Assignment, times[row - 1]);
        }
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

        const QString painted = TextRecorder(*view->viewport()).text();
        QVERIFY2(!painted.contains(u'…'), qPrintable(painted));
        for (int row = 1; row <= times.size(); ++row) {
            const QString cells = QStringLiteral("s%1%2%2").arg(row).arg(times[row - 1]);
            QVERIFY2(painted.contains(cells), qPrintable(painted));
        }
    }

    // The filters above the grid count the class live and narrow the rows;
    // the search takes an ID or a name and Ctrl+F reaches it from anywhere.
    // Saves and copies hold every row in roster order whatever is shown,
    // and a student picked on the seat map is shown even if filtered out.
    void filterBarNarrowsTheGridButNeverTheSaves()
    {
        LectureFiles files;
        writeBytes(files.roster,
                   cp932Lines({"kougimei=演習", "tantousya=山田 太郎", "kadaidir=" + files.kadai,
                               "kaisi=09:00", "tikoku=10", "<start data>", "hanako,花子",
                               "taro,太郎", "jiro,次郎", "<end data>"}));
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(10, 0)); });
        QVERIFY(startLecture(files));
        showActive();
        auto *view = child<QTableView>(QStringLiteral("UserInfoGrid"));
        const auto shown = [view] {
            QStringList ids;
            for (int row = 0; row < view->model()->rowCount(); ++row)
                ids << view->model()->index(row, RosterGrid::UserId).data().toString();
            return ids.join(u';');
        };
        const auto button = [this](const char *name) {
            return child<QToolButton>(QString::fromLatin1(name));
        };
        const auto captions = [&] {
            QStringList texts;
            for (const char *name :
                 {"filterAll", "filterAbsent", "filterNotHandedIn", "filterLate", "filterFlagged"})
                texts << button(name)->text();
            return texts.join(u' ');
        };
        QCOMPARE(captions(), "全員 (3) 未出席 (3) 未提出 (3) 遅刻 (0) 要確認 (0)");
        QVERIFY(button("filterAll")->isChecked());
        attendAndSubmit(m_window->server().network().port());
        QTRY_COMPARE(captions(), "全員 (3) 未出席 (2) 未提出 (2) 遅刻 (1) 要確認 (0)");
        button("filterAbsent")->click();
        QCOMPARE(shown(), "hanako;jiro;計");
        button("filterLate")->click();
        QCOMPARE(shown(), "taro;計");

        control("TxtOutput")->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
        auto *search = child<QLineEdit>(QStringLiteral("rosterSearch"));
        QCOMPARE(QApplication::focusWidget(), search);
        button("filterAll")->click();
        typeText(*search, QStringLiteral("次"));
        QCOMPARE(shown(), "jiro;計");

        const QString table = files.dir.filePath(QStringLiteral("table.txt"));
        m_desktop->dialogs.nextAnswers << table;
        item("mnuFileSave")->trigger();
        const QStringList saved = cp932::decode(readBytes(table)).split(QStringLiteral("\r\n"));
        QCOMPARE(saved.size(), 5); // heading, three students, the last line's end
        QVERIFY(saved[1].startsWith("hanako,") && saved[2].startsWith("taro,") &&
                saved[3].startsWith("jiro,"));
        item("mnuEditCopy")->trigger();
        const QStringList copied = m_desktop->clipboard.text.split(QStringLiteral("\r\n"));
        QCOMPARE(copied, saved);
        // Enter in the search goes to the rows found.
        QTest::keyClick(search, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), view);
        QCOMPARE(view->selectionModel()->selectedRows().value(0).data().toString(), "jiro");
        child<RosterPane>(QStringLiteral("RosterPane"))->selectStudent(QStringLiteral("hanako"));
        QVERIFY(button("filterAll")->isChecked());
        QVERIFY(search->text().isEmpty());
        QCOMPARE(view->selectionModel()->selectedRows().value(0).data().toString(), "hanako");
    }

    // The window opens at the layout's size, its least; it may grow, the grid
    // taking the room and its columns following, and this machine's size,
    // place and splitter come back with the next window.
    void windowGrowsAndKeepsItsPlaceOnThisMachine()
    {
        QTemporaryDir data;
        const QByteArray before = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
        const auto restore = qScopeGuard([&] { qputenv("XDG_DATA_HOME", before); });
        m_window = std::make_unique<FrmMain>(m_desktop->services());
        const QSize least = m_window->size();
        QCOMPARE(m_window->minimumSize(), least);
        QVERIFY(m_window->maximumSize().width() > 4 * least.width());
        RosterGrid &grid = m_window->server().grid();
        grid.setColumnWidth(RosterGrid::UserId, 800);
        grid.setColumnWidth(RosterGrid::UserName, 1200);
        auto *view = child<QTableView>(QStringLiteral("UserInfoGrid"));
        QWidget *log = control("TxtOutput");
        QWidget *status = control("sbStatusBar");
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        // The layout's grid, under the filters that the window grew for.
        QCOMPARE(view->size(), QSize(twipsToPixels(5772), twipsToPixels(1884)));
        QCOMPARE(view->mapTo(child<QSplitter>(QStringLiteral("GridLogSplitter")), QPoint()),
                 QPoint(0, child<RosterPane>(QStringLiteral("RosterPane"))->barHeight()));
        QCOMPARE(view->columnWidth(RosterGrid::UserId), twipsToPixels(800));
        const int logHeight = log->height();

        m_window->resize(least.width() * 2, least.height() * 3);
        QTRY_COMPARE(view->height(), twipsToPixels(1884) + 2 * least.height());
        QCOMPARE(log->height(), logHeight);
        QCOMPARE(view->width(), twipsToPixels(5772) + least.width());
        QCOMPARE(status->geometry().bottom(), status->parentWidget()->height() - 1);
        QCOMPARE(status->width(), status->parentWidget()->width());
        const int id = view->columnWidth(RosterGrid::UserId);
        const int name = view->columnWidth(RosterGrid::UserName);
        QVERIFY2(id > 2 * twipsToPixels(800) - 4, qPrintable(QString::number(id)));
        // The same share as in the layout, but for a pixel's rounding each.
        const int idBase = twipsToPixels(800), nameBase = twipsToPixels(1200);
        QVERIFY2(qAbs(id * nameBase - name * idBase) <= idBase + nameBase,
                 qPrintable(QStringLiteral("%1 %2").arg(id).arg(name)));
        // The room gained goes to the columns: the space beside them stays.
        int columns = 0;
        for (int column = RosterGrid::UserId; column <= RosterGrid::Address; ++column)
            columns += view->columnWidth(column);
        QVERIFY2(
            view->viewport()->width() - columns < twipsToPixels(5772) / 10,
            qPrintable(QStringLiteral("%1 of %2").arg(columns).arg(view->viewport()->width())));

        auto *splitter = child<QSplitter>(QStringLiteral("GridLogSplitter"));
        splitter->setSizes({300, 250});
        const QList<int> shares = splitter->sizes();
        m_window->move(37, 41);
        const QRect place = m_window->geometry();
        m_window->close();
        QVERIFY(WindowPlace::path().startsWith(data.path()));
        QSettings kept(WindowPlace::path(), QSettings::IniFormat);
        QCOMPARE(kept.childGroups(), QStringList{QSysInfo::machineHostName()});

        m_window = std::make_unique<FrmMain>(m_desktop->services());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QCOMPARE(m_window->geometry(), place);
        QCOMPARE(child<QSplitter>(QStringLiteral("GridLogSplitter"))->sizes(), shares);
        QCOMPARE(m_window->minimumSize(), least);
    }

    // 座席表 reads the day's journal when it opens and follows the marks
    // live; a click selects the student's row, the view flips, the map is
    // saved as PNG.
    void seatMapFollowsTheClassAndSelectsTheRow()
    {
        LectureFiles files;
        writeBytes(files.dir.filePath(QStringLiteral("zaseki.cfg")),
                   cp932Lines({"A1,1,1,127.0.0.1", "A2,1,2,127.0.0.2", "B1,2,1,127.0.0.3"}));
        QVERIFY(startLecture(files));
        const quint16 port = m_window->server().network().port();
        TestClient taro(port, QHostAddress(QStringLiteral("127.0.0.2")));
        QVERIFY(taro.waitForLines(2));
        QCOMPARE(taro.ask(cp932::encode(wire::userLine(QStringLiteral("taro")) + wire::Eol)),
                 wire::AttendanceTaken);
        showActive();
        m_window->findChild<QAction *>(QStringLiteral("mnuViewSeats"))->trigger();
        FrmSeats *seats = m_window->seatsWindow();
        QVERIFY(seats && seats->isVisible());
        const auto states = [seats] {
            QStringList text;
            for (const SeatMap::Line &line : seats->map().lines())
                text << line.userId + u'/' + SeatMap::stateText(line.state);
            return text.join(u';');
        };
        QCOMPARE(states(), QStringLiteral("/空席;taro/出席;/空席"));
        QVERIFY(
            seats->findChild<QLabel *>(QStringLiteral("absentList"))->text().contains("hanako"));

        // Live: hanako from taro's machine makes both 要確認, drawn so.
        TestClient hanako(port, QHostAddress(QStringLiteral("127.0.0.2")));
        QVERIFY(hanako.waitForLines(2));
        QCOMPARE(hanako.ask(cp932::encode(wire::userLine(QStringLiteral("hanako")) + wire::Eol)),
                 wire::AttendanceTaken);
        QCOMPARE(states(), QStringLiteral("/空席;taro/要確認;hanako/要確認;/空席"));
        SeatMapView &view = seats->view();
        const QPoint a2 = view.seatRect(1).center();
        QTRY_COMPARE(view.grab().toImage().pixelColor(a2 + QPoint(30, 12)),
                     SeatMapView::colourOf(SeatMap::State::Check));
        QVERIFY(view.toolTipOf(1).contains(QStringLiteral("127.0.0.2")));
        QVERIFY(view.toolTipOf(1).contains(QStringLiteral("hanako")));

        // A click on the seat selects its first student's row.
        QTest::mouseClick(&view, Qt::LeftButton, {}, a2);
        auto *grid = child<QTableView>(QStringLiteral("UserInfoGrid"));
        QCOMPARE(grid->selectionModel()->selectedRows().value(0).row(), 1); // taro

        // From the front row 1 is at the bottom and column 1 on the right.
        const QRect front = view.seatRect(0);
        seats->findChild<QPushButton *>(QStringLiteral("flipView"))->click();
        QVERIFY(view.seatRect(0).top() < front.top());
        QVERIFY(view.seatRect(0).left() < front.left());

        const QString png = files.dir.filePath(QStringLiteral("seats.png"));
        m_desktop->dialogs.nextAnswers << png;
        seats->saveImage();
        QImage saved(png);
        QCOMPARE(saved.size(), view.size());

        // An ID not yet on the roster is answered 501 and shows at its seat.
        TestClient guest(port, QHostAddress(QStringLiteral("127.0.0.3")));
        QVERIFY(guest.waitForLines(2));
        QCOMPARE(guest.ask(cp932::encode(wire::userLine(QStringLiteral("s26099")) + wire::Eol)),
                 wire::BadUserId);
        QCOMPARE(states(), QStringLiteral("/空席;taro/要確認;hanako/要確認;s26099/名簿外"));
        QTRY_COMPARE(view.grab().toImage().pixelColor(view.seatRect(2).center() + QPoint(30, 12)),
                     SeatMapView::colourOf(SeatMap::State::OffRoster));
    }

    // Opened, the window shows the whole room without scrolling when the
    // screen has room for it; a room wider than the screen stays within it.
    void seatWindowOpensShowingTheWholeRoom()
    {
        LectureFiles files;
        const QString zaseki = files.dir.filePath(QStringLiteral("zaseki.cfg"));
        QStringList seats;
        for (int row = 1; row <= 4; ++row) {
            for (int column = 1; column <= 5; ++column)
                seats << QStringLiteral("%1%2,%1,%2,127.0.%1.%2").arg(row).arg(column);
        }
        writeBytes(zaseki, cp932Lines(seats));
        QVERIFY(startLecture(files));
        showActive();
        item("mnuViewSeats")->trigger();
        FrmSeats *window = m_window->seatsWindow();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        auto *scroll = window->findChild<QScrollArea *>();
        QVERIFY(!scroll->horizontalScrollBar()->isVisible());
        QVERIFY(!scroll->verticalScrollBar()->isVisible());
        QVERIFY(scroll->viewport()->width() >= window->view().width());
        window->close();

        for (int column = 6; column <= 40; ++column)
            seats << QStringLiteral("W%1,5,%1,127.0.5.%1").arg(column);
        writeBytes(zaseki, cp932Lines(seats));
        auto wide =
            std::make_unique<FrmSeats>(m_window->server(), m_desktop->dialogs, m_desktop->messages);
        wide->open(files.dir.path());
        wide->show();
        QVERIFY(QTest::qWaitForWindowExposed(wide.get()));
        QVERIFY(wide->width() <= wide->screen()->availableGeometry().width());
        QVERIFY(wide->findChild<QScrollArea *>()->horizontalScrollBar()->isVisible());
    }

    // 配置の編集: a seat dragged to a free place, a seat renamed, 保存 writes
    // the layout file; a click selects a seat then, not a student's row.
    void seatLayoutIsEditedOnTheMapAndSaved()
    {
        LectureFiles files;
        const QString zaseki = files.dir.filePath(QStringLiteral("zaseki.cfg"));
        writeBytes(zaseki, cp932Lines({"A1,1,1,127.0.0.1", "A2,1,2,127.0.0.2"}));
        QVERIFY(startLecture(files));
        showActive();
        item("mnuViewSeats")->trigger();
        FrmSeats *seats = m_window->seatsWindow();
        QVERIFY(QTest::qWaitForWindowExposed(seats));
        SeatMapView &view = seats->view();
        const QSize viewing = view.size();
        seats->findChild<QPushButton *>(QStringLiteral("editLayout"))->click();
        QVERIFY(view.editing());
        // A free row and column to move to.
        QCOMPARE(view.size(), viewing + QSize(SeatMapView::SeatWidth + SeatMapView::Gap,
                                              SeatMapView::SeatHeight + SeatMapView::Gap));

        // Grabbed by a corner, let go with the seat over row 2, column 3.
        const QPoint grab = view.seatRect(0).topLeft() + QPoint(5, 5);
        const QPoint drop = view.placeRect(2, 3).topLeft() + QPoint(8, 8);
        QTest::mousePress(&view, Qt::LeftButton, {}, grab);
        QTest::mouseMove(&view, drop);
        QTest::mouseRelease(&view, Qt::LeftButton, {}, drop);
        const Seat moved = seats->map().layout().seats[0];
        QCOMPARE(QStringLiteral("%1 %2").arg(moved.row).arg(moved.column), "2 3");
        QVERIFY(seats->isWindowModified());
        // The room grew by the seat: again a free row and column beyond it.
        QCOMPARE(view.size(),
                 QSize(SeatMapView::Gap + 4 * (SeatMapView::SeatWidth + SeatMapView::Gap),
                       SeatMapView::Gap + 3 * (SeatMapView::SeatHeight + SeatMapView::Gap)));

        QTest::mouseClick(&view, Qt::LeftButton, {}, view.seatRect(1).center());
        QCOMPARE(view.selectedSeat(), 1);
        QVERIFY(child<QTableView>(QStringLiteral("UserInfoGrid"))
                    ->selectionModel()
                    ->selectedRows()
                    .isEmpty());
        auto *label = seats->findChild<QLineEdit *>(QStringLiteral("seatLabel"));
        QCOMPARE(label->text(), "A2");
        label->setFocus();
        label->selectAll();
        typeText(*label, QStringLiteral("#窓"));
        QTest::keyClick(label, Qt::Key_Return);
        QCOMPARE(seats->map().layout().seats[1].label, "A2");
        QVERIFY(m_desktop->messages.shown.value(0).contains(QStringLiteral("「#窓」は使えません")));
        label->selectAll();
        typeText(*label, QStringLiteral("窓側"));
        // Typed, not yet entered: 保存 takes it.
        seats->findChild<QPushButton *>(QStringLiteral("saveLayout"))->click();
        QCOMPARE(readBytes(zaseki),
                 cp932Lines({"# 座席,行,列,アドレス", "A1,2,3,127.0.0.1", "窓側,1,2,127.0.0.2"}));
        QVERIFY(!seats->isWindowModified());
        QCOMPARE(seats->map().layout().seats[1].label, "窓側");

        // Seen from the back, a drop lands on the place drawn there too.
        seats->findChild<QPushButton *>(QStringLiteral("flipView"))->click();
        QCOMPARE(view.placeAt(view.placeRect(1, 3).center()), (QPair<int, int>(1, 3)));
        QTest::mousePress(&view, Qt::LeftButton, {}, view.seatRect(0).center());
        QTest::mouseRelease(&view, Qt::LeftButton, {}, view.placeRect(1, 3).center());
        QCOMPARE(view.seatRect(0), view.placeRect(1, 3));
        QCOMPARE(seats->map().layout().seats[0].row, 1);
    }

    void lectureLabelsShowFileTextAsWritten()
    {
        Lecture &lecture = m_window->server().lecture();
        lecture.setKougimei(QStringLiteral("HTML入門 <h1>見出し"));
        lecture.setTantousya(QStringLiteral("佐藤 <br> 先生"));
        lecture.setKadaidir(QStringLiteral("/srv/<b>kadai</b>"));
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QCOMPARE(TextRecorder(*control("kougimei")).text(), lecture.kougimei());
        QCOMPARE(TextRecorder(*control("tantousya")).text(), lecture.tantousya());
        QCOMPARE(TextRecorder(*control("kadaidir")).text(), lecture.kadaidir());
    }

    void qtsOwnTextsAreJapanese()
    {
        QVERIFY(installJapaneseQtTexts(*qApp));
        QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                 QDialogButtonBox::Open | QDialogButtonBox::Save);
        QStringList captions;
        for (QAbstractButton *button : buttons.buttons())
            captions << button->text();
        const QString lookIn = QCoreApplication::translate("QFileDialog", "Look in:");
        for (QTranslator *translator : qApp->findChildren<QTranslator *>()) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        captions.sort();
        QCOMPARE(captions, (QStringList{"OK", "キャンセル", "保存", "開く"}));
        QCOMPARE(lookIn, QStringLiteral("アドレス:"));
    }

    // The file dialogs write dates and sizes as a Japanese desktop does,
    // whatever the system's language, in columns that hold them whole.
    void fileDialogsShowJapaneseDatesAndSizes()
    {
        useJapaneseLocale();
        QTemporaryDir dir;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const auto restore = qScopeGuard([&] {
            QDir::setCurrent(previous);
            QLocale::setDefault(QLocale::system());
        });
        QFile file(dir.filePath(QStringLiteral("meibo.csv")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(1536, 'x'));
        QVERIFY(file.flush());
        QVERIFY(file.setFileTime(QDateTime(QDate(2026, 12, 9), QTime(14, 37, 30)),
                                 QFileDevice::FileModificationTime));
        file.close();

        QStringList cells;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            const auto reject = qScopeGuard([dialog] { dialog->reject(); });
            auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
            QModelIndex row;
            QVERIFY(QTest::qWaitFor([&] {
                const QModelIndexList found = view->model()->match(
                    view->model()->index(0, 0, view->rootIndex()), Qt::DisplayRole,
                    QStringLiteral("meibo.csv"), 1, Qt::MatchExactly);
                row = found.value(0);
                return row.isValid();
            }));
            for (const int column : {1, 3}) {
                const QModelIndex cell = row.siblingAtColumn(column);
                QStyleOptionViewItem option;
                option.initFrom(view);
                option.font = view->font();
                option.fontMetrics = view->fontMetrics();
                // Wider than the delegate needs: painted whole, not elided.
                const int needed = view->itemDelegate()->sizeHint(option, cell).width();
                cells << cell.data().toString() + (needed <= view->columnWidth(column)
                                                       ? QString()
                                                       : QStringLiteral("…"));
            }
        });
        QtFileDialogs dialogs(nullptr);
        QCOMPARE(dialogs.openFileName(QStringLiteral("csvﾌｧｲﾙ (*.csv)|*.csv")), QString());
        QCOMPARE(cells, (QStringList{"1.5 KB", "2026/12/09 14:37"}));
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

    // The lecturer's program killed in the middle of a lecture and started
    // again with the same roster.
    void killedLecturesRecordsComeBack()
    {
        LectureFiles files;
        QProcess lecture;
        lecture.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        lecture.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--lecture"), files.roster, files.settings});
        QVERIFY(lecture.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(lecture.canReadLine() || lecture.state() != QProcess::Running,
                                 20000);
        const quint16 port = quint16(lecture.readLine().trimmed().toUInt());
        QVERIFY(port > 0);
        attendAndSubmit(port);
        lecture.kill(); // SIGKILL: nothing of the program's own runs
        QVERIFY(lecture.waitForFinished());
        QCOMPARE(lecture.exitStatus(), QProcess::CrashExit);

        files.newPort();
        QVERIFY(startLecture(files));
        QCOMPARE(m_desktop->messages.asked.size(), 1);
        QVERIFY(m_desktop->messages.asked[0].startsWith(QStringLiteral(
            "本日の「情報処理演習Ⅰ」の記録が残っています (出席 1 人、課題提出 1 人)｡")));
        const QString table = files.dir.filePath(QStringLiteral("table.txt"));
        m_desktop->dialogs.nextAnswers << table;
        m_window->mnuFileSave_Click();
        const QStringList lines = cp932::decode(readBytes(table)).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[1], QStringLiteral("hanako,花子,,,"));
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^taro,太郎,(\\d\\d:){2}\\d\\d,(\\d\\d:){2}\\d\\d,127.0.0.1$"))
                     .match(lines[2])
                     .hasMatch(),
                 qPrintable(lines[2]));
        QVERIFY(m_window->server().log().text().startsWith(
            QStringLiteral("本日の記録から出席 1 人と課題提出 1 人を復元しました｡\r\n")));
        // The killed program's activity is in the day's log journal too.
        const QString dayLog = cp932::decode(readBytes(JournaledLog::pathFor(Clock::today())));
        QVERIFY2(dayLog.contains(QStringLiteral("接続:1 受信完了\r\n")), qPrintable(dayLog));
    }

    void exitAndReopenRestoresAndAnotherLectureOffersNothing()
    {
        LectureFiles files;
        QVERIFY(startLecture(files));
        QVERIFY(m_desktop->messages.asked.isEmpty());
        attendAndSubmit(m_window->server().network().port());
        const RosterGrid::Row taro = m_window->server().grid().exportRows()[2];
        showActive();
        m_window->mnuFileExit_Click();
        QVERIFY(!m_window->isVisible());
        m_window.reset();

        resetEffects();
        m_window = std::make_unique<FrmMain>(m_desktop->services());
        files.newPort();
        QVERIFY(startLecture(files));
        QCOMPARE(m_desktop->messages.asked.size(), 1);
        QCOMPARE(m_window->server().grid().exportRows()[2], taro);

        const QString other = files.dir.filePath(QStringLiteral("other.cfg"));
        files.writeRoster(other, QStringLiteral("情報処理演習Ⅱ"));
        m_desktop->dialogs.nextAnswers << other;
        m_window->mnuFileOpen_Click();
        QCOMPARE(m_desktop->messages.asked.size(), 1);
        QCOMPARE(m_window->server().grid().text(2, RosterGrid::Attendance), QString());
        QVERIFY(m_desktop->messages.shown.isEmpty());
    }

    void settingsHoldForRestoredRecordsToo()
    {
        // Restore is offered only for a journal begun within the last hours.
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(10, 0)); });
        LectureFiles files;
        writeBytes(files.settings,
                   readBytes(files.settings) + cp932Lines({QStringLiteral("daihen=0")}));
        QDir().mkpath(LectureJournal::folder());
        writeBytes(LectureJournal::pathFor(QStringLiteral("情報処理演習Ⅰ"), Clock::today()),
                   cp932Lines({"講義,情報処理演習Ⅰ", "出席,09:15:02,1,hanako,192.168.0.12",
                               "出席,09:15:09,2,taro,192.168.0.12"}));
        QVERIFY(startLecture(files));
        QCOMPARE(m_desktop->messages.asked.size(), 1);
        QCOMPARE(m_window->server().grid().presentCount(), 2);
        QCOMPARE(m_window->server().grid().addressFlag(1), QString());
        QCOMPARE(m_window->server().grid().addressFlag(2), QString());
    }

    void aSignalDuringTheRestoreQuestionIsNoAnswer()
    {
        // Restore is offered only for a journal begun within the last hours.
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(10, 0)); });
        LectureFiles files;
        const QString journal =
            LectureJournal::pathFor(QStringLiteral("情報処理演習Ⅰ"), Clock::today());
        QDir().mkpath(LectureJournal::folder());
        const QByteArray records =
            cp932Lines({"講義,情報処理演習Ⅰ", "出席,09:15:02,2,taro,192.168.0.12"});
        writeBytes(journal, records);
        TerminationSignals termination;
        m_window->server().endOn(termination);
        // As the program does: the window closes; the box goes as if declined.
        m_desktop->messages.nextAnswers << false;
        m_desktop->messages.whileShown = [&](const QString &) {
            ::raise(SIGTERM);
            QTRY_VERIFY(termination.received());
        };
        QVERIFY(startLecture(files));
        QCOMPARE(m_desktop->messages.asked.size(), 1);
        QCOMPARE(readBytes(journal), records);
        QCOMPARE(QDir(LectureJournal::folder())
                     .entryList(QDir::Files)
                     .filter(QFileInfo(journal).completeBaseName()),
                 QStringList{QFileInfo(journal).fileName()});
        QCOMPARE(m_window->server().grid().presentCount(), 0);
    }

    void unwritableJournalIsReportedInTheLogAndABox()
    {
        LectureFiles files;
        QDir().mkpath(QFileInfo(LectureJournal::folder()).absolutePath());
        writeBytes(LectureJournal::folder(), "a file where the folder should be");
        QVERIFY(startLecture(files));
        attendAndSubmit(m_window->server().network().port());
        // Both journals fail: the day's log and the lecture's records.
        QTRY_COMPARE(m_desktop->messages.shown.size(), 2);
        QVERIFY2(m_desktop->messages.shown.filter(QStringLiteral("出欠と課題提出の記録")).size() ==
                     1,
                 qPrintable(m_desktop->messages.shown.join(u'|')));
        const QString log = m_window->server().log().text();
        QCOMPARE(log.count(QStringLiteral("に書き込めません")), 2);
        QVERIFY(RosterGrid::isTimeStamp(m_window->server().grid().text(2, RosterGrid::Assignment)));
    }

    void ledgerNeedsARoster()
    {
        item(QStringLiteral("mnuViewLedger"))->trigger();
        QCOMPARE(m_desktop->messages.shown,
                 QStringList{QStringLiteral("出席簿は受講ﾌｧｲﾙを開いてから表示できます｡")});
        QVERIFY(!m_window->ledgerWindow());
    }

    // A handout folder inside the assignment folder is told at once, naming
    // both; the students are handed nothing from it.
    void handoutFolderInsideTheAssignmentsIsTold()
    {
        LectureFiles files;
        FakeShell shell;
        m_window = std::make_unique<FrmMain>(m_desktop->services(), shell.services());
        QVERIFY(startLecture(files));
        const QString inside = files.kadai + QStringLiteral("/haifu");
        QDir().mkpath(inside);
        shell.folders.answer = {FolderChoice::Chosen, inside, 0, {}};
        m_window->findChild<QPushButton *>(QStringLiteral("haifudirBtn"))->click();
        QCOMPARE(m_desktop->messages.shown.size(), 1);
        QVERIFY(m_desktop->messages.shown[0].contains(inside));
        QVERIFY(m_desktop->messages.shown[0].contains(files.kadai + QStringLiteral(" と重なって")));
        QCOMPARE(m_window->server().lecture().haifudir(), inside);
        QCOMPARE(m_window->server().network().handouts().find(QStringLiteral("x")).error(),
                 QStringLiteral(
                     "配布物のフォルダが課題の提出先と重なっています｡先生に知らせてください｡"));
    }

    // Today's lecture in the ledger; the lecturer excuses hanako with a reason
    // and names a second room's journals.
    void ledgerShowsTodayAndKeepsTheLecturersCorrections()
    {
        // A day well inside a term, so that the day before is in it too.
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(9, 5)); });
        LectureFiles files;
        FakeShell shell;
        m_window = std::make_unique<FrmMain>(m_desktop->services(), shell.services());
        QVERIFY(startLecture(files));
        attendAndSubmit(m_window->server().network().port());
        item(QStringLiteral("mnuViewLedger"))->trigger();
        FrmLedger *window = m_window->ledgerWindow();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), QStringLiteral("出席簿 - 情報処理演習Ⅰ"));
        const Ledger &ledger = window->ledger().ledger();
        QCOMPARE(ledger.sessions, QList<QDate>{Clock::today()});
        QCOMPARE(ledger.rows.size(), size_t(2));
        QCOMPARE(statusLetter(ledger.rows[0].cells[0].status), QStringLiteral("欠"));
        QCOMPARE(statusLetter(ledger.rows[1].cells[0].status), QStringLiteral("出"));

        auto *table = window->findChild<QTableView *>(QStringLiteral("ledgerTable"));
        const QModelIndex hanako = table->model()->index(0, 2);
        QCOMPARE(hanako.data(Qt::BackgroundRole).value<QBrush>().color(), QColor(0xf4, 0xa6, 0xa6));
        table->selectionModel()->select(hanako, QItemSelectionModel::ClearAndSelect);
        window->findChild<QLineEdit *>(QStringLiteral("reason"))->setText(QStringLiteral("公欠届"));
        window->findChild<QPushButton *>(QStringLiteral("excuse"))->click();
        QCOMPARE(hanako.data().toString(), QStringLiteral("公"));
        QVERIFY(
            hanako.data(Qt::ToolTipRole).toString().contains(QStringLiteral("訂正: 公 公欠届")));
        QVERIFY(
            window->findChild<QLabel *>(QStringLiteral("summary"))
                ->text()
                .startsWith(QStringLiteral("授業 1 回   平均出席率 100.0%   受験資格なし 0 人")));

        // The cell stays chosen for the next step; 記録どおり takes it back.
        QVERIFY(table->selectionModel()->isSelected(hanako));
        window->findChild<QPushButton *>(QStringLiteral("asRecorded"))->click();
        QCOMPARE(hanako.data().toString(), QStringLiteral("欠"));
        window->findChild<QPushButton *>(QStringLiteral("excuse"))->click();

        // A session held without the server, then dropped again as a test run.
        const QDate held = Clock::today().addDays(-1);
        window->findChild<QDateEdit *>(QStringLiteral("newSession"))->setDate(held);
        window->findChild<QPushButton *>(QStringLiteral("addSession"))->click();
        QCOMPARE(ledger.sessions, (QList<QDate>{held, Clock::today()}));
        table->setCurrentIndex(table->model()->index(1, 2));
        window->findChild<QPushButton *>(QStringLiteral("dropSession"))->click();
        QCOMPARE(m_desktop->messages.asked.size(), 1);
        QVERIFY(m_desktop->messages.asked[0].contains(held.toString(QStringLiteral("yyyy/MM/dd"))));
        QCOMPARE(ledger.sessions, QList<QDate>{Clock::today()});

        const QString room2 = files.dir.filePath(QStringLiteral("room2"));
        QDir().mkpath(room2);
        shell.folders.answer = {FolderChoice::Chosen, room2, 0, {}};
        window->findChild<QPushButton *>(QStringLiteral("addFolder"))->click();
        QVERIFY(window->findChild<QPlainTextEdit *>(QStringLiteral("status"))
                    ->toPlainText()
                    .contains(room2));

        // The same after the program starts again.
        window->close();
        m_window.reset();
        m_window = std::make_unique<FrmMain>(m_desktop->services(), shell.services());
        files.newPort();
        QVERIFY(startLecture(files));
        item(QStringLiteral("mnuViewLedger"))->trigger();
        const Ledger &again = m_window->ledgerWindow()->ledger().ledger();
        QCOMPARE(statusLetter(again.rows[0].cells[0].status), QStringLiteral("公"));
        QVERIFY(QFileInfo::exists(LedgerCorrections::pathFor(QStringLiteral("情報処理演習Ⅰ"))));
    }

    void deadlineIsSetChangedAndClearedBesideTheFolder()
    {
        LectureFiles files;
        QVERIFY(startLecture(files));
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(10, 22, 30)); });
        const auto resetClock = qScopeGuard([] { Clock::setSource({}); });
        auto *control = child<QToolButton>("simekiri");
        QCOMPARE(control->text(), QStringLiteral("締切なし"));
        // The lecturer sets a due time and a cut-off before it: refused in
        // the dialog, then a later cut-off is taken.
        const auto inDialog = [&](const std::function<void(QDialog &)> &act) {
            QTimer::singleShot(0, this, [&] {
                auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                QVERIFY(dialog && dialog->objectName() == u"DeadlineDialog");
                act(*dialog);
            });
            QTest::mouseClick(control, Qt::LeftButton);
        };
        inDialog([](QDialog &dialog) {
            dialog.findChild<QCheckBox *>("dueOn")->setChecked(true);
            dialog.findChild<QDateTimeEdit *>("due")->setDateTime(
                QDateTime(QDate(2026, 12, 9), QTime(10, 30)));
            dialog.findChild<QCheckBox *>("cutoffOn")->setChecked(true);
            auto *cutoff = dialog.findChild<QDateTimeEdit *>("cutoff");
            cutoff->setDateTime(QDateTime(QDate(2026, 12, 9), QTime(10, 15)));
            dialog.accept();
            QVERIFY(dialog.isVisible());
            QCOMPARE(dialog.findChild<QLabel *>("problem")->text(),
                     QStringLiteral("受付締切は締切より後にしてください｡"));
            cutoff->setDateTime(QDateTime(QDate(2026, 12, 9), QTime(10, 45)));
            dialog.accept();
        });
        const Lecture &lecture = m_window->server().lecture();
        QCOMPARE(lecture.deadline(),
                 (AssignmentDeadline{QDateTime(QDate(2026, 12, 9), QTime(10, 30)),
                                     QDateTime(QDate(2026, 12, 9), QTime(10, 45))}));
        QCOMPARE(control->text(), QStringLiteral("締切 12/09 10:30\n受付 12/09 10:45"));
        // The last ten minutes count down in the status line.
        auto *status = child<MainStatusBar>("sbStatusBar");
        QTRY_COMPARE(status->panelText(MainStatusBar::Status), QStringLiteral("締切まで 7分30秒"));
        // Cleared: gone from the window, the status line as before.
        inDialog([](QDialog &dialog) {
            QTest::mouseClick(dialog.findChild<QPushButton *>("clear"), Qt::LeftButton);
            dialog.accept();
        });
        QVERIFY(lecture.deadline().isEmpty());
        QCOMPARE(control->text(), QStringLiteral("締切なし"));
        QTRY_COMPARE(status->panelText(MainStatusBar::Status), QStringLiteral("ｽﾃｰﾀｽ"));
        QVERIFY(m_window->server().log().text().contains(
            QStringLiteral("締切を設定しました: 締切なし")));
    }

    // 個別の締切: an ID from the roster, its own times and a reason; a
    // cut-off before the due time is refused in the dialog.
    void aStudentsOwnDeadlineIsGivenInTheDialog()
    {
        LectureFiles files;
        QVERIFY(startLecture(files));
        Clock::setSource([] { return QDateTime(QDate(2026, 12, 9), QTime(10, 0)); });
        const auto resetClock = qScopeGuard([] { Clock::setSource({}); });
        auto *control = child<QToolButton>("simekiri");
        const QDateTime due(QDate(2026, 12, 11), QTime(10, 30));
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            auto *id = dialog->findChild<QComboBox *>("ownId");
            QCOMPARE(id->count(), 2);
            id->setCurrentIndex(id->findData(QStringLiteral("taro")));
            dialog->findChild<QDateTimeEdit *>("ownDue")->setDateTime(due);
            dialog->findChild<QCheckBox *>("ownCutoffOn")->setChecked(true);
            auto *cutoff = dialog->findChild<QDateTimeEdit *>("ownCutoff");
            cutoff->setDateTime(due.addSecs(-60));
            dialog->findChild<QLineEdit *>("ownReason")->setText(QStringLiteral("診断書"));
            auto *add = dialog->findChild<QPushButton *>("ownAdd");
            QTest::mouseClick(add, Qt::LeftButton);
            QCOMPARE(dialog->findChild<QLabel *>("problem")->text(),
                     QStringLiteral("受付締切は締切より後にしてください｡"));
            QCOMPARE(dialog->findChild<QListWidget *>("ownList")->count(), 0);
            cutoff->setDateTime(due.addDays(1));
            QTest::mouseClick(add, Qt::LeftButton);
            QCOMPARE(dialog->findChild<QListWidget *>("ownList")->item(0)->text(),
                     QStringLiteral("taro: 締切 2026-12-11 10:30、受付締切 2026-12-12 10:30 "
                                    "(診断書)"));
            dialog->accept();
        });
        QTest::mouseClick(control, Qt::LeftButton);
        const Lecture &lecture = m_window->server().lecture();
        QCOMPARE(lecture.deadlineOf(QStringLiteral("taro")),
                 (AssignmentDeadline{due, due.addDays(1)}));
        QVERIFY(lecture.deadlineOf(QStringLiteral("hanako")).isEmpty());
        QCOMPARE(lecture.studentDeadlines().value(QStringLiteral("taro")).reason,
                 QStringLiteral("診断書"));
    }

    void submissionsWindowListsSavesAndCopies()
    {
        LectureFiles files;
        QVERIFY(startLecture(files));
        attendAndSubmit(m_window->server().network().port());
        TestClient again(m_window->server().network().port()); // a second version
        QVERIFY(again.waitForLines(2));
        QCOMPARE(again.ask("user taro\r\nput taro.txt,5\r\nworld", 3).value(2),
                 wire::ReceiveComplete);
        item("mnuViewSubmissions")->trigger();
        auto *window = m_window->findChild<FrmSubmissions *>("frmSubmissions");
        QVERIFY(window && window->isVisible());
        const QAbstractItemModel &model = *window->table().model();
        QCOMPARE(model.rowCount(), 2);
        const auto cell = [&](int row, int column) {
            return model.index(row, column).data().toString();
        };
        QCOMPARE(cell(0, 0), QStringLiteral("hanako"));
        QCOMPARE(cell(1, 2), QStringLiteral("taro.txt"));
        QCOMPARE(
            cell(1, 5),
            QString::fromLatin1(
                QCryptographicHash::hash("world", QCryptographicHash::Sha256).toHex().left(16)));
        QCOMPARE(cell(1, 7), QStringLiteral("2"));
        QCOMPARE(cell(1, 9), QStringLiteral("一致"));
        // Nothing returned yet; the window alone shows it, after the
        // columns the CSV has too.
        QCOMPARE(model.headerData(11, Qt::Horizontal).toString(), QStringLiteral("返却"));
        QCOMPARE(cell(1, 11), QStringLiteral("未"));
        // A file changed behind the server's back shows at the next check.
        writeBytes(files.kadai + "/taro.txt", "edited");
        QTest::mouseClick(window->findChild<QPushButton *>("verify"), Qt::LeftButton);
        QCOMPARE(cell(1, 9), QStringLiteral("変更あり"));
        QTest::mouseClick(window->findChild<QPushButton *>("copy"), Qt::LeftButton);
        QVERIFY(m_desktop->clipboard.text.startsWith(QStringLiteral("ユーザID\tユーザ名\t")));
        const QString csv = files.dir.filePath("list.csv");
        m_desktop->dialogs.nextAnswers << csv;
        QTest::mouseClick(window->findChild<QPushButton *>("saveCsv"), Qt::LeftButton);
        QCOMPARE(m_desktop->dialogs.filters.last(), QStringLiteral("CSVﾌｧｲﾙ (*.csv)|*.csv"));
        QCOMPARE(cp932::decode(readBytes(csv)).split("\r\n").value(2).section(u',', 0, 2),
                 QStringLiteral("taro,太郎,taro.txt"));
        QVERIFY(!cp932::decode(readBytes(csv)).contains(QStringLiteral("返却")));
    }

    // 表計算で開く: each list written to a folder of its own and the
    // ms-exceldir program started with its path.
    void ledgerAndSubmissionsOpenInTheSpreadsheet()
    {
        LectureFiles files;
        writeBytes(files.settings, cp932Lines({QStringLiteral("port=%1").arg(freePort()),
                                               "ms-exceldir=localc --nologo"}));
        FakeShell shell;
        m_window = std::make_unique<FrmMain>(m_desktop->services(), shell.services());
        QVERIFY(startLecture(files));
        attendAndSubmit(m_window->server().network().port());
        item("mnuViewLedger")->trigger();
        m_window->ledgerWindow()->findChild<QPushButton *>("openSpreadsheet")->click();
        item("mnuViewSubmissions")->trigger();
        auto *submissions = m_window->findChild<FrmSubmissions *>("frmSubmissions");
        submissions->findChild<QPushButton *>("openSpreadsheet")->click();

        QCOMPARE(m_desktop->messages.shown, QStringList());
        const QStringList started = m_desktop->processes.commandLines;
        QCOMPARE(started.size(), 2);
        const QRegularExpression line(QStringLiteral("^localc --nologo \"(.+)\"$"));
        const QString ledgerPath = line.match(started[0]).captured(1);
        const QString listPath = line.match(started[1]).captured(1);
        QCOMPARE(QFileInfo(ledgerPath).fileName(), QStringLiteral("出席簿.csv"));
        QCOMPARE(QFileInfo(listPath).fileName(), QStringLiteral("提出一覧.csv"));
        QVERIFY(QFileInfo(ledgerPath).absolutePath() != QFileInfo(listPath).absolutePath());
        // Only the lecturer can read the records, or put a file in their place.
        QCOMPARE(QFile::permissions(QFileInfo(ledgerPath).absolutePath()) & 0x0077, 0);
        const QStringList ledger = cp932::decode(readBytes(ledgerPath)).split("\r\n");
        QVERIFY(ledger.value(0).startsWith(QStringLiteral("ユーザID,ユーザ名,")));
        QVERIFY(ledger.value(2).startsWith(QStringLiteral("taro,太郎,出,1,")));
        const QStringList list = cp932::decode(readBytes(listPath)).split("\r\n");
        QCOMPARE(list.value(2).section(u',', 0, 2), QStringLiteral("taro,太郎,taro.txt"));
        for (const QString &path : {ledgerPath, listPath})
            QVERIFY(QDir(QFileInfo(path).absolutePath()).removeRecursively());

        // A program that does not start is named, as for Excelの起動.
        m_desktop->processes.succeeds = false;
        submissions->findChild<QPushButton *>("openSpreadsheet")->click();
        QCOMPARE(
            m_desktop->messages.shown,
            QStringList{"有効なパスを記述してください｡\r\nlocalc --nologo\r\nは間違ったパスです"});
        const QString left = line.match(m_desktop->processes.commandLines.last()).captured(1);
        QVERIFY(!QFileInfo::exists(QFileInfo(left).absolutePath()));
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

int main(int argc, char *argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "--lecture") == 0)
        return runLecture(argc, argv);
    QApplication app(argc, argv);
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    TestFrmMain test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_frmmain.moc"
