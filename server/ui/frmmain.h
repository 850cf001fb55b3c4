#pragma once

#include <QMainWindow>
#include <QPointer>
#include <memory>

class Clipboard;
class DocumentOpener;
class FileDialogs;
class FrmSeats;
class FrmSubmissions;
class SubmissionsList;
class FolderChooser;
class FrmLedger;
class LectureServer;
class MainStatusBar;
class MainToolBar;
class MessageBox;
class ProcessStarter;
class QAbstractButton;
class QAction;
class QLabel;
class QSplitter;
class QTableView;
class Registry;
class RosterPane;
class QtDesktop;
class QtShell;
class QtTextLog;
struct Desktop;
struct MainMenuActions;
struct ShellServices;

// The lecturer's main window: toolbar, lecture labels, roster grid, activity
// log, status bar and the menus. It lays out the controls and routes every
// command to LectureServer, which carries it out.
class FrmMain : public QMainWindow
{
    Q_OBJECT
public:
    // With the window system's own dialogs, clipboard and process start.
    explicit FrmMain(QWidget *parent = nullptr);
    // With the given services, as tests use it.
    explicit FrmMain(const Desktop &desktop, QWidget *parent = nullptr);
    FrmMain(const Desktop &desktop, const ShellServices &shell, QWidget *parent = nullptr);
    ~FrmMain() override;

    LectureServer &server() { return *m_server; }
    // The ledger window once 表示 > 出席簿 has opened it.
    FrmLedger *ledgerWindow() const;
    // The seat map once 表示 > 座席表 has opened it.
    FrmSeats *seatsWindow() const { return m_frmSeats; }

    // The start-up steps that run before the window is first shown. False
    // when the program has to end.
    bool Form_Load(const QString &settingsPath);

public Q_SLOTS:
    void mnuFileOpen_Click();
    void mnuFileClose_Click();
    void mnuFileImport_Click();
    void mnuFileSave_Click();
    void mnuFileSaveAs_Click();
    void mnuFileExit_Click();
    void mnuEditCopy_Click();
    void mnuExcelCopy_Click();
    void mnuViewToolbar_Click();
    void mnuViewStatusBar_Click();
    void mnuViewLedger_Click();
    void mnuViewOptions_Click();
    void mnuViewSubmissions_Click();
    void mnuViewSeats_Click();
    void mnuHelpOpen_Click();
    void mnuHelpAbout_Click();
    void tbToolBar_ButtonClick(const QString &key);
    void dirname_Click();
    void haifudirBtn_Click();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build(const Desktop &desktop, const ShellServices &shell);
    void buildControls();
    void buildGrid();
    void bindLecture();
    void connectMenu(const MainMenuActions &items);
    void giveShortcutsPriority();
    void placeWindow();
    void selectStudent(const QString &userId);
    void layoutClient();
    QLabel *addLabel(const char *name, const QString &text, const QRect &twips, bool bold);

    std::unique_ptr<QtDesktop> m_qtDesktop;
    std::unique_ptr<QtShell> m_qtShell;
    std::unique_ptr<Desktop> m_desktop;
    QPointer<FrmLedger> m_ledger;
    MessageBox *m_messages = nullptr;
    ProcessStarter *m_processes = nullptr;
    FolderChooser *m_folders = nullptr;
    DocumentOpener *m_documents = nullptr;
    Registry *m_registry = nullptr;
    QWidget *m_client = nullptr;
    MainToolBar *m_tbToolBar = nullptr;
    QLabel *m_kougimei = nullptr;
    QLabel *m_tantousya = nullptr;
    QLabel *m_kadaidir = nullptr;
    QAbstractButton *m_dirname = nullptr;
    QLabel *m_haifudir = nullptr;
    QAbstractButton *m_haifudirBtn = nullptr;
    QSplitter *m_splitter = nullptr;
    RosterPane *m_pane = nullptr;
    QTableView *m_userInfoGrid = nullptr;
    QtTextLog *m_txtOutput = nullptr;
    MainStatusBar *m_sbStatusBar = nullptr;
    QAction *m_mnuViewToolbar = nullptr;
    QAction *m_mnuViewStatusBar = nullptr;
    std::unique_ptr<LectureServer> m_server;
    FileDialogs *m_dialogs = nullptr;
    Clipboard *m_clipboard = nullptr;
    FrmSubmissions *m_frmSubmissions = nullptr;
    FrmSeats *m_frmSeats = nullptr;
    QString m_startFolder;
};
