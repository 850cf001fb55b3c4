#pragma once

#include "platform/registry.h"

// The registry of this machine. On Windows it is the registry itself. Other
// systems have none; there it answers the one question the programs ask of
// it, where the system-information program is: the key
// "SOFTWARE\Microsoft\Shared Tools\MSINFO" holds the value "PATH", the full
// path of the first of hardinfo, kinfocenter and gnome-system-monitor found
// on the PATH, and no value when none is installed. No other key exists.
class SystemRegistry : public Registry
{
public:
    bool openKey(Root root, const QString &path, quint32 access, Key *key) override;
    bool queryValue(Key key, const QString &name, qsizetype capacity, Value *value) override;
    void closeKey(Key key) override;
};
