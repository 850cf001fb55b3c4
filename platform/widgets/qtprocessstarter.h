#pragma once

#include "platform/processstarter.h"

class QtProcessStarter : public ProcessStarter
{
public:
    bool startDetached(const QString &commandLine) override;
};
