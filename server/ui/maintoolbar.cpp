#include "server/ui/maintoolbar.h"

#include <QAction>

MainToolBar::MainToolBar(QWidget *parent) : QToolBar(parent)
{
    setObjectName(QStringLiteral("tbToolBar"));
    setMovable(false);
    setFloatable(false);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    addButton(QStringLiteral("Open"), QStringLiteral("開く"), QStringLiteral("open"));
    addButton(QStringLiteral("Save"), QStringLiteral("保存"), QStringLiteral("save"));
    addButton(QStringLiteral("Copy"), QStringLiteral("ｺﾋﾟｰ"), QStringLiteral("copy"));
    addButton(QStringLiteral("Hopen"), QStringLiteral("ヘルプを見る"), QStringLiteral("help"));
    addButton(QStringLiteral("Excelcopy"), QString(), QStringLiteral("spreadsheet"));
    connect(this, &QToolBar::actionTriggered, this,
            [this](QAction *action) { Q_EMIT buttonClick(action->data().toString()); });
}

void MainToolBar::addButton(const QString &key, const QString &toolTip, const QString &image)
{
    // No caption: Qt would otherwise show the caption as the tooltip of the
    // one button that has none.
    QAction *action = addAction(QIcon(QStringLiteral(":/images/%1.png").arg(image)), QString());
    action->setObjectName(key);
    action->setData(key);
    action->setToolTip(toolTip);
}

QAction *MainToolBar::button(const QString &key) const
{
    for (QAction *action : actions()) {
        if (action->data().toString() == key)
            return action;
    }
    return nullptr;
}
