#pragma once

#include "common/readvar.h"

#include <QString>
#include <QStringView>

// The lecturer's program settings from inivar.cfg.
struct ServerSettings
{
    static constexpr qint64 DefaultPort = 10013;
    // Enough for a shared machine (a terminal server, a lab gateway).
    static constexpr qint64 DefaultPerAddressLimit = 16;

    QString delimiter = QStringLiteral(","); // between cells on the clipboard
    QString spreadsheetCommand;
    qint64 port = DefaultPort;
    bool proxyCheck = true; // flag claims that look like answering for someone else
    // Simultaneous connections from one address; 0: no limit.
    qint64 perAddressLimit = DefaultPerAddressLimit;
    // Earlier versions kept per submitted file name (hozon); 0 keeps none.
    qint64 keptVersions = 10;
    bool fileRead = false; // false: inivar.cfg could not be read, defaults apply
};

ServerSettings readServerSettings(const QString &fileName);
