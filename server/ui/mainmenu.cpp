#include "server/ui/mainmenu.h"

#include "server/ui/frmmain.h"

#include <QMenu>
#include <QMenuBar>

namespace {

using Handler = void (FrmMain::*)();

QMenu *addMenu(QMenuBar &bar, const char *name, const QString &caption)
{
    QMenu *menu = bar.addMenu(caption);
    menu->setObjectName(QLatin1String(name));
    return menu;
}

QAction *addItem(QMenu &menu, const char *name, const QString &caption, FrmMain &window,
                 Handler handler, const QKeySequence &shortcut = {})
{
    QAction *item = menu.addAction(caption);
    item->setObjectName(QLatin1String(name));
    item->setShortcut(shortcut);
    QObject::connect(item, &QAction::triggered, &window, handler);
    return item;
}

QAction *addCheckedItem(QMenu &menu, const char *name, const QString &caption, FrmMain &window,
                        Handler handler)
{
    QAction *item = menu.addAction(caption);
    item->setObjectName(QLatin1String(name));
    item->setCheckable(true);
    item->setChecked(true);
    // Qt flips the mark before it reports the click; the handler reads the
    // mark as the lecturer saw it and sets it itself.
    QObject::connect(item, &QAction::triggered, &window, [item, &window, handler](bool checked) {
        item->setChecked(!checked);
        (window.*handler)();
    });
    return item;
}

void addSeparator(QMenu &menu, const char *name)
{
    menu.addSeparator()->setObjectName(QLatin1String(name));
}

void buildFileMenu(QMenuBar &bar, FrmMain &window)
{
    QMenu &menu = *addMenu(bar, "mnuFile", QStringLiteral("ﾌｧｲﾙ(&F)"));
    addItem(menu, "mnuFileOpen", QStringLiteral("開く(&O)"), window, &FrmMain::mnuFileOpen_Click,
            QKeySequence(Qt::CTRL | Qt::Key_O));
    addItem(menu, "mnuFileClose", QStringLiteral("閉じる(&C)"), window,
            &FrmMain::mnuFileClose_Click);
    addSeparator(menu, "mnuFileBar1");
    addItem(menu, "mnuFileSave", QStringLiteral("データ保存(&S)"), window,
            &FrmMain::mnuFileSave_Click, QKeySequence(Qt::CTRL | Qt::Key_S));
    addItem(menu, "mnuFileSaveAs", QStringLiteral("Log保存(&L)..."), window,
            &FrmMain::mnuFileSaveAs_Click);
    addSeparator(menu, "mnuFileBar2");
    addItem(menu, "mnuFileExit", QStringLiteral("終了(&X)"), window, &FrmMain::mnuFileExit_Click);
}

void buildEditMenu(QMenuBar &bar, FrmMain &window)
{
    QMenu &menu = *addMenu(bar, "mnuEdit", QStringLiteral("編集(&E)"));
    addItem(menu, "mnuEditCopy", QStringLiteral("ｺﾋﾟｰ(&C)"), window, &FrmMain::mnuEditCopy_Click,
            QKeySequence(Qt::CTRL | Qt::Key_C));
    addItem(menu, "mnuExcelCopy", QStringLiteral("Excelの起動(&E)"), window,
            &FrmMain::mnuExcelCopy_Click, QKeySequence(Qt::CTRL | Qt::Key_E));
}

ViewItems buildViewMenu(QMenuBar &bar, FrmMain &window)
{
    QMenu &menu = *addMenu(bar, "mnuView", QStringLiteral("表示(&V)"));
    ViewItems items;
    items.toolbar = addCheckedItem(menu, "mnuViewToolbar", QStringLiteral("ﾂｰﾙ ﾊﾞｰ(&T)"), window,
                                   &FrmMain::mnuViewToolbar_Click);
    items.statusBar = addCheckedItem(menu, "mnuViewStatusBar", QStringLiteral("ｽﾃｰﾀｽ ﾊﾞｰ(&B)"),
                                     window, &FrmMain::mnuViewStatusBar_Click);
    addItem(menu, "mnuViewOptions", QStringLiteral("ｵﾌﾟｼｮﾝ(&O)..."), window,
            &FrmMain::mnuViewOptions_Click);
    return items;
}

void buildHelpMenu(QMenuBar &bar, FrmMain &window)
{
    QMenu &menu = *addMenu(bar, "mnuHelp", QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    addItem(menu, "mnuHelpOpen", QStringLiteral("開く(&O)"), window, &FrmMain::mnuHelpOpen_Click);
    addSeparator(menu, "mnuHelpBar1");
    addItem(menu, "mnuHelpAbout", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)..."), window,
            &FrmMain::mnuHelpAbout_Click);
}

} // namespace

ViewItems buildMainMenu(QMenuBar &bar, FrmMain &window)
{
    buildFileMenu(bar, window);
    buildEditMenu(bar, window);
    const ViewItems items = buildViewMenu(bar, window);
    buildHelpMenu(bar, window);
    return items;
}

void toggleBar(QAction &item, QWidget &bar)
{
    if (item.isChecked()) {
        bar.hide();
        item.setChecked(false);
    } else {
        bar.show();
        item.setChecked(true);
    }
}
