#pragma once

#include "platform/clipboard.h"
#include "platform/desktop.h"
#include "platform/processstarter.h"
#include "support/fakedialogs.h"

#include <QStringList>

class FakeClipboard : public Clipboard
{
public:
    QString text;
    int setCount = 0;
    void setText(const QString &newText) override
    {
        text = newText;
        ++setCount;
    }
};

// Records the command lines it is asked to start; `succeeds` is the answer.
class FakeProcessStarter : public ProcessStarter
{
public:
    QStringList commandLines;
    bool succeeds = true;
    bool startDetached(const QString &commandLine) override
    {
        commandLines << commandLine;
        return succeeds;
    }
};

// All the window-system doubles in one place.
struct FakeDesktop
{
    FakeFileDialogs dialogs;
    FakeMessageBox messages;
    FakeClipboard clipboard;
    FakeProcessStarter processes;
    Desktop services() { return {dialogs, messages, clipboard, processes}; }
};
