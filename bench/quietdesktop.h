#pragma once

#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "platform/processstarter.h"

#include <QString>
#include <cstdio>

// The desktop services a benchmark's windows ask for, doing nothing: no one
// reads a clipboard or a spreadsheet there, and messages go to stderr.
class NoClipboard : public Clipboard
{
public:
    void setText(const QString &) override {}
};
class NoProcesses : public ProcessStarter
{
public:
    bool startDetached(const QString &) override { return true; }
};
class SilentBox : public MessageBox
{
public:
    void show(const QString &text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
};
