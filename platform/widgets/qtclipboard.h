#pragma once

#include "platform/clipboard.h"

class QtClipboard : public Clipboard
{
public:
    void setText(const QString &text) override;
};
