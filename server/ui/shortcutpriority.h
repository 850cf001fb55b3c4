#pragma once

#include <QList>
#include <QObject>

class QAction;
class QWidget;

// Gives the window's menu shortcuts priority over a child widget that would
// take the same keys for itself: a text box keeps Ctrl+C as its own copy
// unless told otherwise.
class ShortcutPriority : public QObject
{
    Q_OBJECT
public:
    ShortcutPriority(QList<QAction *> actions, QObject *parent);

    void protect(QWidget &child);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<QAction *> m_actions;
};
