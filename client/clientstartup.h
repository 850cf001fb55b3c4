#pragma once

#include "common/result.h"

#include <QString>
#include <optional>

// Who the student is and where the lecturer's program listens.
struct ClientSettings
{
    QString userName;
    QString serverAddress;
    QString serverPort;
    QString handoutFolder; // "haifusaki": where handouts land; empty: the default
};

// The start-up before the window appears: the user name, the fixed client
// folder made current, and var.cfg read there. A failure's message is what
// the student is shown before the program ends.
Result<ClientSettings> prepareClient(const std::optional<QString> &userName,
                                     const QString &clientFolder);

// Account names longer than this (in code page 932 bytes) are refused.
constexpr qsizetype MaxUserNameBytes = 255;

// The message that ends a failed start-up.
QString startupFailure(int number, const QString &description);

// The folder that holds var.cfg: fixed by the build for packaged installs,
// otherwise the folder of the program itself.
QString clientFolder();
