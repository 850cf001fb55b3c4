#include "server/roster/tabletext.h"

#include "server/roster/rostergrid.h"

#include <QStringList>

QString tableText(const RosterGrid &grid, const QString &delimiter)
{
    QString text;
    for (const RosterGrid::Row &row : grid.exportRows()) {
        text += QStringList(row.begin(), row.end()).join(delimiter);
        text += QStringLiteral("\r\n");
    }
    return text;
}
