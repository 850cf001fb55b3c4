#pragma once

#include <QString>

// File dialogs as the programs use them. Filters are written
// "description|pattern" pairs joined by "|" ("受講ﾌｧｲﾙ (*.cfg)|*.cfg").
class FileDialogs
{
public:
    virtual ~FileDialogs() = default;
    // The chosen path, or an empty text when cancelled.
    virtual QString openFileName(const QString &filter) = 0;
    // Asks before replacing an existing file.
    virtual QString saveFileName(const QString &proposedName, const QString &filter) = 0;
};

// An OK-only message box without icon, captioned with the program's title.
// Lines of the text are separated by CR LF.
class MessageBox
{
public:
    virtual ~MessageBox() = default;
    virtual void show(const QString &text) = 0;
    // A question with the buttons はい and いいえ, はい the default: true
    // when the answer is はい. A box that cannot ask shows the question and
    // takes the default.
    virtual bool ask(const QString &text)
    {
        show(text);
        return true;
    }
};
