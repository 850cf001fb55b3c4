#pragma once

class Clipboard;
class FileDialogs;
class MessageBox;
class ProcessStarter;

// The window-system services that the lecturer's commands call on. The
// window hands out its own; tests hand out doubles.
struct Desktop
{
    FileDialogs &dialogs;
    MessageBox &messages;
    Clipboard &clipboard;
    ProcessStarter &processes;
};
