#pragma once

#include "platform/qtdialogs.h"

#include <QMainWindow>
#include <memory>

class LectureServer;
class QLabel;
class QTableView;
class QtTextLog;

// The lecturer's main window: the lecture labels, the roster grid, the
// activity log and the menus. Commands are carried out by LectureServer.
class FrmMain : public QMainWindow
{
    Q_OBJECT
public:
    explicit FrmMain(QWidget *parent = nullptr);
    ~FrmMain() override;

    LectureServer &server() { return *m_server; }

    // The start-up steps that run before the window is first shown. False
    // when the program has to end.
    bool Form_Load(const QString &settingsPath);

public Q_SLOTS:
    void mnuFileOpen_Click();
    void mnuFileClose_Click();

private:
    void buildControls();
    void buildMenus();
    void bindLecture();
    QLabel *addLabel(const char *name, const QString &text, const QRect &twips, bool bold);

    QWidget *m_client = nullptr;
    QLabel *m_kougimei = nullptr;
    QLabel *m_tantousya = nullptr;
    QLabel *m_kadaidir = nullptr;
    QTableView *m_userInfoGrid = nullptr;
    QtTextLog *m_txtOutput = nullptr;
    QtFileDialogs m_dialogs;
    QtMessageBox m_messages;
    std::unique_ptr<LectureServer> m_server;
};
