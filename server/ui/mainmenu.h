#pragma once

class FrmMain;
class QAction;
class QMenuBar;
class QWidget;

// The View items whose check marks follow the bars' visibility.
struct ViewItems
{
    QAction *toolbar = nullptr;
    QAction *statusBar = nullptr;
};

// Fills `bar` with the lecturer's menus and connects every item to its
// handler on `window`.
ViewItems buildMainMenu(QMenuBar &bar, FrmMain &window);

// A View toggle: a checked item hides its bar and loses the mark, an
// unchecked one shows the bar and gets the mark.
void toggleBar(QAction &item, QWidget &bar);
