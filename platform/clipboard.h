#pragma once

#include <QString>

// The system clipboard, as far as the programs use it: plain text only.
class Clipboard
{
public:
    virtual ~Clipboard() = default;
    // Replaces whatever the clipboard held with `text`.
    virtual void setText(const QString &text) = 0;
};
