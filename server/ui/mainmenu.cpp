#include "server/ui/mainmenu.h"

#include <QMenu>
#include <QMenuBar>

namespace {

QMenu *addMenu(QMenuBar &bar, const char *name, const QString &caption)
{
    QMenu *menu = bar.addMenu(caption);
    menu->setObjectName(QLatin1String(name));
    return menu;
}

QAction *addItem(QMenu &menu, const char *name, const QString &caption,
                 const QKeySequence &shortcut = {})
{
    QAction *item = menu.addAction(caption);
    item->setObjectName(QLatin1String(name));
    item->setShortcut(shortcut);
    return item;
}

QAction *addCheckedItem(QMenu &menu, const char *name, const QString &caption)
{
    QAction *item = addItem(menu, name, caption);
    item->setCheckable(true);
    item->setChecked(true);
    // Qt flips the mark before it reports the click. Connected first, this
    // puts it back, so the window's handler reads the mark as the lecturer
    // saw it and sets it itself.
    QObject::connect(item, &QAction::triggered, item,
                     [item](bool checked) { item->setChecked(!checked); });
    return item;
}

void addSeparator(QMenu &menu, const char *name)
{
    menu.addSeparator()->setObjectName(QLatin1String(name));
}

void buildFileMenu(QMenuBar &bar, MainMenuActions &items)
{
    QMenu &menu = *addMenu(bar, "mnuFile", QStringLiteral("ﾌｧｲﾙ(&F)"));
    items.fileOpen = addItem(menu, "mnuFileOpen", QStringLiteral("開く(&O)"),
                             QKeySequence(Qt::CTRL | Qt::Key_O));
    items.fileClose = addItem(menu, "mnuFileClose", QStringLiteral("閉じる(&C)"));
    items.fileImport = addItem(menu, "mnuFileImport", QStringLiteral("名簿の取り込み(&I)..."));
    addSeparator(menu, "mnuFileBar1");
    items.fileSave = addItem(menu, "mnuFileSave", QStringLiteral("データ保存(&S)"),
                             QKeySequence(Qt::CTRL | Qt::Key_S));
    items.fileSaveAs = addItem(menu, "mnuFileSaveAs", QStringLiteral("Log保存(&L)..."));
    addSeparator(menu, "mnuFileBar2");
    items.fileExit = addItem(menu, "mnuFileExit", QStringLiteral("終了(&X)"));
}

void buildEditMenu(QMenuBar &bar, MainMenuActions &items)
{
    QMenu &menu = *addMenu(bar, "mnuEdit", QStringLiteral("編集(&E)"));
    items.editCopy = addItem(menu, "mnuEditCopy", QStringLiteral("ｺﾋﾟｰ(&C)"),
                             QKeySequence(Qt::CTRL | Qt::Key_C));
    items.excelCopy = addItem(menu, "mnuExcelCopy", QStringLiteral("Excelの起動(&E)"),
                              QKeySequence(Qt::CTRL | Qt::Key_E));
}

void buildViewMenu(QMenuBar &bar, MainMenuActions &items)
{
    QMenu &menu = *addMenu(bar, "mnuView", QStringLiteral("表示(&V)"));
    items.viewToolbar = addCheckedItem(menu, "mnuViewToolbar", QStringLiteral("ﾂｰﾙ ﾊﾞｰ(&T)"));
    items.viewStatusBar = addCheckedItem(menu, "mnuViewStatusBar", QStringLiteral("ｽﾃｰﾀｽ ﾊﾞｰ(&B)"));
    items.viewOptions = addItem(menu, "mnuViewOptions", QStringLiteral("ｵﾌﾟｼｮﾝ(&O)..."));
    addSeparator(menu, "mnuViewBar1");
    items.viewLedger = addItem(menu, "mnuViewLedger", QStringLiteral("出席簿(&L)..."));
    items.viewSubmissions = addItem(menu, "mnuViewSubmissions", QStringLiteral("提出一覧(&K)..."));
    items.viewSeats = addItem(menu, "mnuViewSeats", QStringLiteral("座席表(&M)"));
}

void buildHelpMenu(QMenuBar &bar, MainMenuActions &items)
{
    QMenu &menu = *addMenu(bar, "mnuHelp", QStringLiteral("ﾍﾙﾌﾟ(&H)"));
    items.helpOpen = addItem(menu, "mnuHelpOpen", QStringLiteral("開く(&O)"));
    addSeparator(menu, "mnuHelpBar1");
    items.helpAbout = addItem(menu, "mnuHelpAbout", QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)..."));
}

} // namespace

MainMenuActions buildMainMenu(QMenuBar &bar)
{
    MainMenuActions items;
    buildFileMenu(bar, items);
    buildEditMenu(bar, items);
    buildViewMenu(bar, items);
    buildHelpMenu(bar, items);
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
