#pragma once

#include <QString>

class Clipboard;
class MessageBox;
class ProcessStarter;
class RosterGrid;

// The Edit menu's hand-over of the roster table to a spreadsheet: the table
// as delimited text on the clipboard, and the spreadsheet program started to
// paste it into.
class TableExport
{
public:
    TableExport(const RosterGrid &grid, Clipboard &clipboard, ProcessStarter &processes,
                MessageBox &messages);

    // From the settings: TAB or "," between cells, and the command line that
    // starts the spreadsheet program.
    void configure(const QString &delimiter, const QString &spreadsheetCommand);

    void copy();
    void copyAndLaunch();

private:
    const RosterGrid &m_grid;
    Clipboard &m_clipboard;
    ProcessStarter &m_processes;
    MessageBox &m_messages;
    QString m_delimiter = QStringLiteral(",");
    QString m_spreadsheetCommand;
};
