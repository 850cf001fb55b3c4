#pragma once

#include "platform/desktop.h"
#include "platform/widgets/qtclipboard.h"
#include "platform/widgets/qtdialogs.h"
#include "platform/widgets/qtprocessstarter.h"

// The Qt services of one window: its dialogs and message boxes open over it.
class QtDesktop
{
public:
    QtDesktop(QWidget *window, const QString &title) : m_dialogs(window), m_messages(window, title)
    {}
    Desktop services() { return {m_dialogs, m_messages, m_clipboard, m_processes}; }

private:
    QtFileDialogs m_dialogs;
    QtMessageBox m_messages;
    QtClipboard m_clipboard;
    QtProcessStarter m_processes;
};
