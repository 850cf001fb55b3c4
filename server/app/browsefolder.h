#pragma once

#include <QString>

class FolderChooser;
class MessageBox;

// The window a folder chooser opens over, as far as the chooser and its
// failure report need it.
struct FolderOwner
{
    FolderChooser &chooser;
    MessageBox &messages;
};

// Shows the modal folder chooser with `prompt`. True when a folder was
// confirmed: its full path is then in `path`. False on cancel and on failure;
// a failure has been shown as its number, a blank and its description.
// `path` is written only on success.
bool browseFolder(const FolderOwner &owner, QString *path, const QString &prompt);
