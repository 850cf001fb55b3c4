#pragma once

#include <QString>

// What a folder chooser came back with.
struct FolderChoice
{
    enum Outcome { Chosen, Cancelled, Failed };
    Outcome outcome = Cancelled;
    QString path;        // Chosen: the folder's full file-system path
    int errorNumber = 0; // Failed: the error number and its description
    QString description;
};

// The system's modal folder chooser, opened over the window it belongs to.
class FolderChooser
{
public:
    virtual ~FolderChooser() = default;
    // Shows the chooser with `prompt` as its title and waits until it closes.
    virtual FolderChoice chooseFolder(const QString &prompt) = 0;
};
