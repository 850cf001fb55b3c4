#pragma once

#include <QString>

// Starts other programs without waiting for them or watching them.
class ProcessStarter
{
public:
    virtual ~ProcessStarter() = default;
    // `commandLine` is a program followed by its arguments, blank separated;
    // double quotes group an argument that holds blanks. False when the line
    // names no program or the program cannot be started.
    virtual bool startDetached(const QString &commandLine) = 0;
};
