#pragma once

class QAction;
class QMenuBar;
class QWidget;

// Every command item of the lecturer's menus, for the window to connect.
struct MainMenuActions
{
    QAction *fileOpen = nullptr;
    QAction *fileClose = nullptr;
    QAction *fileImport = nullptr;
    QAction *fileSave = nullptr;
    QAction *fileSaveAs = nullptr;
    QAction *fileExit = nullptr;
    QAction *editCopy = nullptr;
    QAction *excelCopy = nullptr;
    QAction *viewToolbar = nullptr;
    QAction *viewStatusBar = nullptr;
    QAction *viewLedger = nullptr;
    QAction *viewOptions = nullptr;
    QAction *viewSubmissions = nullptr;
    QAction *viewSeats = nullptr;
    QAction *helpOpen = nullptr;
    QAction *helpAbout = nullptr;
};

// Fills `bar` with the lecturer's menus and returns their items.
MainMenuActions buildMainMenu(QMenuBar &bar);

// A View toggle: a checked item hides its bar and loses the mark, an
// unchecked one shows the bar and gets the mark.
void toggleBar(QAction &item, QWidget &bar);
