#include "server/ui/frmmain.h"

#include "common/clock.h"
#include "platform/widgets/qtdesktop.h"
#include "platform/widgets/qtshell.h"
#include "platform/widgets/twips.h"
#include "server/app/browsefolder.h"
#include "server/app/lectureserver.h"
#include "server/app/manual.h"
#include "server/app/seatscommand.h"
#include "server/app/submissionslist.h"
#include "server/folders/foldernesting.h"
#include "server/ui/deadlinecontrol.h"
#include "server/ui/frmabout.h"
#include "server/ui/frmimport.h"
#include "server/ui/frmledger.h"
#include "server/ui/frmseats.h"
#include "server/ui/frmsubmissions.h"
#include "server/ui/japanesefont.h"
#include "server/ui/mainmenu.h"
#include "server/ui/mainstatusbar.h"
#include "server/ui/maintoolbar.h"
#include "server/ui/qttextlog.h"
#include "server/ui/rosterpane.h"
#include "server/ui/shortcutpriority.h"
#include "server/ui/windowplace.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTableView>

// The pictures live in a static library: they are registered by hand.
static void registerImages()
{
    Q_INIT_RESOURCE(images);
}

namespace {

const QString AppTitle = QStringLiteral("Tavrelle");
const QString OptionsPlaceholder = QStringLiteral("ｵﾌﾟｼｮﾝ ﾀﾞｲｱﾛｸﾞのｺｰﾄﾞをここに記述します !");
const QString FolderPrompt = QStringLiteral("課題保存先を指定してください");
const QString HandoutFolderPrompt = QStringLiteral("配布物のフォルダを指定してください");

} // namespace

FrmMain::FrmMain(QWidget *parent)
    : QMainWindow(parent), m_qtDesktop(std::make_unique<QtDesktop>(this, AppTitle)),
      m_qtShell(std::make_unique<QtShell>(this))
{
    build(m_qtDesktop->services(), m_qtShell->services());
}

FrmMain::FrmMain(const Desktop &desktop, QWidget *parent)
    : QMainWindow(parent), m_qtShell(std::make_unique<QtShell>(this))
{
    build(desktop, m_qtShell->services());
}

FrmMain::FrmMain(const Desktop &desktop, const ShellServices &shell, QWidget *parent)
    : QMainWindow(parent)
{
    build(desktop, shell);
}

FrmMain::~FrmMain()
{
    // The grid's models go before the server's grid they show.
    delete m_pane;
}

void FrmMain::build(const Desktop &desktop, const ShellServices &shell)
{
    registerImages();
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(AppTitle);
    QIcon icon(QStringLiteral(":/images/tavrelle.png"));
    icon.addFile(QStringLiteral(":/images/tavrelle32.png"));
    setWindowIcon(icon);
    setFont(japaneseFont());
    m_desktop = std::make_unique<Desktop>(desktop);
    m_messages = &desktop.messages;
    m_dialogs = &desktop.dialogs;
    m_clipboard = &desktop.clipboard;
    m_processes = &desktop.processes;
    m_folders = &shell.folders;
    m_documents = &shell.documents;
    m_registry = &shell.registry;
    buildControls();
    m_server = std::make_unique<LectureServer>(desktop, *m_txtOutput);
    buildGrid();
    bindLecture();
    connectMenu(buildMainMenu(*menuBar()));
    giveShortcutsPriority();
    placeWindow();
}

QLabel *FrmMain::addLabel(const char *name, const QString &text, const QRect &rect, bool bold)
{
    auto *label = new QLabel(text, m_client);
    label->setObjectName(QString::fromLatin1(name));
    // The values come from the roster file and the folder chooser: shown as
    // written, never interpreted as markup (an <img> would be loaded).
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(rect);
    if (bold)
        label->setFont(japaneseFont(9, true));
    return label;
}

void FrmMain::buildControls()
{
    // Every control sits at a fixed place in the client area, the bars
    // included, so hiding a bar moves nothing. The client area may grow
    // beyond that layout; the grid and the log take the room (layoutClient).
    m_client = new QWidget(this);
    m_client->setMinimumSize(twipsToPixels(6000), twipsToPixels(5172));
    m_client->installEventFilter(this);
    setCentralWidget(m_client);

    m_tbToolBar = new MainToolBar(m_client);
    m_tbToolBar->setGeometry(twipsRect(0, 0, 6000, 336));
    connect(m_tbToolBar, &MainToolBar::buttonClick, this, &FrmMain::tbToolBar_ButtonClick);

    addLabel("Label1", QStringLiteral("(講義名）"), twipsRect(120, 480, 2412, 252), false);
    m_kougimei = addLabel("kougimei", QString(), twipsRect(120, 720, 2412, 252), true);
    addLabel("Label2", QStringLiteral("(講義担当者)"), twipsRect(2760, 480, 2292, 252), false);
    m_tantousya = addLabel("tantousya", QString(), twipsRect(2760, 720, 2412, 252), true);
    addLabel("Label3", QStringLiteral("（課題提出先）"), twipsRect(120, 1080, 1092, 252), false);
    // Narrower than the folder row allows: the deadline sits beside it.
    m_kadaidir = addLabel("kadaidir", QString(), twipsRect(1320, 1080, 2292, 252), true);

    m_dirname = new QPushButton(QIcon(QStringLiteral(":/images/folder.png")), QString(), m_client);
    m_dirname->setObjectName(QStringLiteral("dirname"));
    m_dirname->setGeometry(twipsRect(5280, 960, 492, 372));
    connect(m_dirname, &QAbstractButton::clicked, this, &FrmMain::dirname_Click);

    // The handout folder, in a row of its own under the assignment folder.
    addLabel("Label4", QStringLiteral("（配布物）"), twipsRect(120, 1440, 1092, 252), false);
    m_haifudir = addLabel("haifudir", QString(), twipsRect(1320, 1440, 3852, 252), true);
    m_haifudirBtn =
        new QPushButton(QIcon(QStringLiteral(":/images/folder.png")), QString(), m_client);
    m_haifudirBtn->setObjectName(QStringLiteral("haifudirBtn"));
    m_haifudirBtn->setGeometry(twipsRect(5280, 1380, 492, 372));
    connect(m_haifudirBtn, &QAbstractButton::clicked, this, &FrmMain::haifudirBtn_Click);

    // The grid above the log, the lecturer choosing how they share the room.
    m_splitter = new QSplitter(Qt::Vertical, m_client);
    m_splitter->setObjectName(QStringLiteral("GridLogSplitter"));
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setHandleWidth(twipsToPixels(36));
    m_splitter->setGeometry(twipsRect(120, 1800, 5772, 3012));
    // The grid goes above the log once the server that fills it is there.
    m_txtOutput = new QtTextLog(m_splitter);
    m_txtOutput->setObjectName(QStringLiteral("TxtOutput"));
    // Tab leaves the log for the next control instead of typing a tab.
    m_txtOutput->setTabChangesFocus(true);

    m_sbStatusBar = new MainStatusBar(m_client);
    m_sbStatusBar->setGeometry(twipsRect(0, 4908, 6000, 264));
    m_txtOutput->setFocus();
}

void FrmMain::buildGrid()
{
    m_pane = new RosterPane(m_server->grid(), twipsToPixels(5772));
    m_userInfoGrid = &m_pane->view();
    m_splitter->insertWidget(0, m_pane);
    m_splitter->setStretchFactor(0, 1);
    m_splitter->setStretchFactor(1, 0);
    // The filters take a row of their own: the window grows by it, so that
    // the grid keeps the rows the layout gives it.
    const int bar = m_pane->barHeight();
    m_client->setMinimumHeight(m_client->minimumHeight() + bar);
    m_splitter->resize(m_splitter->width(), m_splitter->height() + bar);
    m_splitter->setSizes({twipsToPixels(1884) + bar, twipsToPixels(1092)});
    const Lecture &lecture = m_server->lecture();
    connect(&lecture, &Lecture::rosterPathChanged, m_pane,
            [this](const QString &path) { m_pane->setLateAfter(rosterLateAfter(path)); });

    setTabOrder(m_txtOutput, m_userInfoGrid);
    setTabOrder(m_userInfoGrid, m_dirname);
    setTabOrder(m_dirname, m_haifudirBtn);
}

bool FrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_client && event->type() == QEvent::Resize)
        layoutClient();
    return QMainWindow::eventFilter(watched, event);
}

void FrmMain::layoutClient()
{
    // The bars span the width; the status bar keeps to the bottom edge and
    // the grid and log fill what lies between, at the layout's margins.
    const int width = m_client->width();
    const int height = m_client->height();
    m_tbToolBar->setGeometry(0, 0, width, twipsToPixels(336));
    const int statusHeight = twipsToPixels(264);
    m_sbStatusBar->setGeometry(0, height - statusHeight, width, statusHeight);
    const QRect splitter = twipsRect(120, 1800, 5772, 3012);
    m_splitter->setGeometry(splitter.left(), splitter.top(), width - 2 * splitter.left() + 1,
                            height - splitter.top() - statusHeight - twipsToPixels(96));
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    WindowPlace::save(*this, *m_splitter);
    // The program's other windows go with the main window, newest first.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it) {
        if (*it != this && (*it)->isVisible())
            (*it)->close();
    }
    event->accept();
}

void FrmMain::bindLecture()
{
    Lecture &lecture = m_server->lecture();
    connect(&lecture, &Lecture::kougimeiChanged, m_kougimei, &QLabel::setText);
    connect(&lecture, &Lecture::tantousyaChanged, m_tantousya, &QLabel::setText);
    connect(&lecture, &Lecture::kadaidirChanged, m_kadaidir, &QLabel::setText);
    connect(&lecture, &Lecture::haifudirChanged, m_haifudir, &QLabel::setText);
    connect(&lecture, &Lecture::haifudirChanged, m_haifudir, &QLabel::setToolTip);
    connect(&lecture, &Lecture::kadaidirChanged, m_kadaidir, &QLabel::setToolTip);
    auto *simekiri = new DeadlineControl(*m_server, m_client);
    simekiri->setGeometry(twipsRect(3660, 960, 1572, 372));
    m_sbStatusBar->setStatusSource(
        [&lecture] { return lecture.deadline().countdown(Clock::now()); });
}

void FrmMain::connectMenu(const MainMenuActions &items)
{
    const std::pair<QAction *, void (FrmMain::*)()> handlers[] = {
        {items.fileOpen, &FrmMain::mnuFileOpen_Click},
        {items.fileClose, &FrmMain::mnuFileClose_Click},
        {items.fileImport, &FrmMain::mnuFileImport_Click},
        {items.fileSave, &FrmMain::mnuFileSave_Click},
        {items.fileSaveAs, &FrmMain::mnuFileSaveAs_Click},
        {items.fileExit, &FrmMain::mnuFileExit_Click},
        {items.editCopy, &FrmMain::mnuEditCopy_Click},
        {items.excelCopy, &FrmMain::mnuExcelCopy_Click},
        {items.viewToolbar, &FrmMain::mnuViewToolbar_Click},
        {items.viewStatusBar, &FrmMain::mnuViewStatusBar_Click},
        {items.viewLedger, &FrmMain::mnuViewLedger_Click},
        {items.viewOptions, &FrmMain::mnuViewOptions_Click},
        {items.viewSubmissions, &FrmMain::mnuViewSubmissions_Click},
        {items.viewSeats, &FrmMain::mnuViewSeats_Click},
        {items.helpOpen, &FrmMain::mnuHelpOpen_Click},
        {items.helpAbout, &FrmMain::mnuHelpAbout_Click},
    };
    for (const auto &[item, handler] : handlers)
        connect(item, &QAction::triggered, this, handler);
    m_mnuViewToolbar = items.viewToolbar;
    m_mnuViewStatusBar = items.viewStatusBar;
}

void FrmMain::giveShortcutsPriority()
{
    auto *priority = new ShortcutPriority(menuBar()->findChildren<QAction *>(), this);
    priority->protect(*m_txtOutput);
}

void FrmMain::placeWindow()
{
    // The layout's size is the least the window may have; it opens there,
    // centred, unless this machine kept another place.
    setMinimumSize(minimumSizeHint());
    resize(minimumSize());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen));
    WindowPlace::restore(*this, *m_splitter);
}

bool FrmMain::Form_Load(const QString &settingsPath)
{
    m_server->readSettings(settingsPath);
    // The room belongs to the machine: its layout sits beside the settings.
    m_startFolder = QFileInfo(settingsPath).absolutePath();
    m_server->roster().open();
    QCoreApplication::processEvents();
    const Result<> started = m_server->start();
    if (!started)
        m_messages->show(started.error());
    return started.ok();
}

void FrmMain::mnuFileOpen_Click()
{
    m_server->roster().open();
}

void FrmMain::mnuFileClose_Click()
{
    m_server->roster().close();
}

void FrmMain::mnuFileImport_Click()
{
    const Lecture &lecture = m_server->lecture();
    const QString roster = importClassList(
        *m_desktop, {lecture.kougimei(), lecture.tantousya(), lecture.kadaidir()}, this);
    if (!roster.isEmpty())
        m_server->roster().load(roster);
}

void FrmMain::mnuFileSave_Click()
{
    m_server->records().saveTable();
}

void FrmMain::mnuFileSaveAs_Click()
{
    m_server->records().saveLog();
}

void FrmMain::mnuFileExit_Click()
{
    close();
}

void FrmMain::mnuEditCopy_Click()
{
    m_server->tableExport().copy();
}

void FrmMain::mnuExcelCopy_Click()
{
    m_server->tableExport().copyAndLaunch();
}

void FrmMain::mnuViewToolbar_Click()
{
    toggleBar(*m_mnuViewToolbar, *m_tbToolBar);
}

void FrmMain::mnuViewStatusBar_Click()
{
    toggleBar(*m_mnuViewStatusBar, *m_sbStatusBar);
}

FrmLedger *FrmMain::ledgerWindow() const
{
    return m_ledger;
}

void FrmMain::mnuViewLedger_Click()
{
    const QString roster = m_server->lecture().rosterPath();
    if (roster.isEmpty()) {
        m_messages->show(QStringLiteral("出席簿は受講ﾌｧｲﾙを開いてから表示できます｡"));
        return;
    }
    if (!m_ledger)
        m_ledger = new FrmLedger(*m_desktop, *m_folders, this);
    m_ledger->setSpreadsheetCommand(m_server->settings().spreadsheetCommand);
    // Built afresh at every showing: today's marks are in it.
    if (const Result<> opened = m_ledger->open(roster, m_server->settings().delimiter); !opened) {
        m_messages->show(opened.error());
        return;
    }
    m_ledger->show();
    m_ledger->raise();
    m_ledger->activateWindow();
}

void FrmMain::mnuViewOptions_Click()
{
    m_messages->show(OptionsPlaceholder);
}

void FrmMain::mnuViewSubmissions_Click()
{
    if (!m_frmSubmissions) {
        m_frmSubmissions =
            new FrmSubmissions(m_server->submissions(), *m_documents, *m_messages, *m_processes,
                               m_server->settings().spreadsheetCommand, this);
    }
    m_frmSubmissions->refresh();
    m_frmSubmissions->show();
    m_frmSubmissions->raise();
}

void FrmMain::mnuViewSeats_Click()
{
    if (!m_frmSeats) {
        m_frmSeats = new FrmSeats(*m_server, *m_dialogs, *m_messages, this);
        connect(m_frmSeats, &FrmSeats::studentClicked, this, &FrmMain::selectStudent);
    }
    m_frmSeats->open(m_startFolder.isEmpty() ? QDir::currentPath() : m_startFolder);
    m_frmSeats->show();
    m_frmSeats->raise();
}

void FrmMain::selectStudent(const QString &userId)
{
    m_pane->selectStudent(userId);
}

void FrmMain::mnuHelpOpen_Click()
{
    openManual(manualFolders(), *m_documents, *m_messages);
}

void FrmMain::mnuHelpAbout_Click()
{
    // A new box for every showing, so its texts are set afresh each time.
    frmAbout box(*m_registry, *m_processes, *m_messages, this);
    box.exec();
}

void FrmMain::tbToolBar_ButtonClick(const QString &key)
{
    if (key == u"Open")
        mnuFileOpen_Click();
    else if (key == u"Save")
        mnuFileSave_Click();
    else if (key == u"Copy")
        mnuEditCopy_Click();
    else if (key == u"Hopen")
        mnuHelpOpen_Click();
    else if (key == u"Excelcopy")
        mnuExcelCopy_Click();
}

void FrmMain::dirname_Click()
{
    QString path;
    if (browseFolder({*m_folders, *m_messages}, &path, FolderPrompt))
        m_server->lecture().setKadaidir(path);
}

void FrmMain::haifudirBtn_Click()
{
    QString path;
    if (!browseFolder({*m_folders, *m_messages}, &path, HandoutFolderPrompt))
        return;
    // Taken all the same, so that the lecturer sees it; it hands out
    // nothing until another is chosen.
    const QString &kadaidir = m_server->lecture().kadaidir();
    if (foldersNest(path, kadaidir))
        m_messages->show(
            QStringLiteral("配布物のフォルダ %1 は課題の提出先 %2 と重なっています｡"
                           "提出された課題が配布されてしまうため、別のフォルダを"
                           "選ぶまで何も配布しません｡")
                .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(kadaidir)));
    m_server->lecture().setHaifudir(path);
}
