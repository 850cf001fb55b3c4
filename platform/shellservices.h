#pragma once

class DocumentOpener;
class FolderChooser;
class Registry;

// The services of the lecturer's window beyond its commands on the records:
// the folder chooser of the assignment folder button, and what the Help menu
// needs to open the manual and find the system-information program.
struct ShellServices
{
    FolderChooser &folders;
    DocumentOpener &documents;
    Registry &registry;
};
