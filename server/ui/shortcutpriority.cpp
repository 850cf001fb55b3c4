#include "server/ui/shortcutpriority.h"

#include <QAction>
#include <QKeyEvent>
#include <QWidget>

ShortcutPriority::ShortcutPriority(QList<QAction *> actions, QObject *parent)
    : QObject(parent), m_actions(std::move(actions))
{}

void ShortcutPriority::protect(QWidget &child)
{
    child.installEventFilter(this);
}

bool ShortcutPriority::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ShortcutOverride)
        return QObject::eventFilter(watched, event);
    // A widget that accepts the override gets the key as a key press and the
    // shortcut never fires; kept from the widget and left ignored, the key
    // goes on to the window's shortcut.
    const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
    for (const QAction *action : std::as_const(m_actions)) {
        if (action->isEnabled() && !action->shortcut().isEmpty() && action->shortcut() == pressed) {
            event->ignore();
            return true;
        }
    }
    return false;
}
