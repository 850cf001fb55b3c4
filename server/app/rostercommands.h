#pragma once

#include <QString>
#include <functional>

class FileDialogs;
class Lecture;
class MessageBox;
class RosterGrid;

// The File menu's roster commands: open a roster file into the grid and the
// lecture labels, and close it again.
class RosterCommands
{
public:
    RosterCommands(RosterGrid &grid, Lecture &lecture, FileDialogs &dialogs, MessageBox &messages);

    void open();
    void close();

    // The part of open() after the dialog: loads `path`.
    void load(const QString &path);
    // Runs after every load that filled the grid with a roster.
    void setAfterLoad(std::function<void()> afterLoad) { m_afterLoad = std::move(afterLoad); }

private:
    void cutGrid();
    void reject();

    RosterGrid &m_grid;
    Lecture &m_lecture;
    FileDialogs &m_dialogs;
    MessageBox &m_messages;
    std::function<void()> m_afterLoad;
};
