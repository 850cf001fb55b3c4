#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class FileDialogs;
class Lecture;
class MessageBox;
class RosterGrid;
class SettingsText;
struct StudentBlock;

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
    // Where what is wrong with a roster's assignment keys is told.
    void setLog(std::function<void(const QString &)> log) { m_log = std::move(log); }

private:
    void cutGrid();
    void reject();
    void readAssignmentRules(const SettingsText &roster, const StudentBlock &block);
    void tell(const QStringList &warnings);

    RosterGrid &m_grid;
    Lecture &m_lecture;
    FileDialogs &m_dialogs;
    MessageBox &m_messages;
    std::function<void()> m_afterLoad;
    std::function<void(const QString &)> m_log;
};
