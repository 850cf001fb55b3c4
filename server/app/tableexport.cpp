#include "server/app/tableexport.h"

#include "platform/clipboard.h"
#include "platform/dialogs.h"
#include "platform/processstarter.h"
#include "server/app/spreadsheetlaunch.h"
#include "server/lecture/tabletext.h"

TableExport::TableExport(const RosterGrid &grid, Clipboard &clipboard, ProcessStarter &processes,
                         MessageBox &messages)
    : m_grid(grid), m_clipboard(clipboard), m_processes(processes), m_messages(messages)
{}

void TableExport::configure(const QString &delimiter, const QString &spreadsheetCommand)
{
    m_delimiter = delimiter;
    m_spreadsheetCommand = spreadsheetCommand;
}

void TableExport::copy()
{
    m_clipboard.setText(tableText(m_grid, m_delimiter, TableCells::AsText));
}

void TableExport::copyAndLaunch()
{
    copy();
    if (!m_processes.startDetached(m_spreadsheetCommand))
        m_messages.show(spreadsheetCommandFailure(m_spreadsheetCommand));
}
