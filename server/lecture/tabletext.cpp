#include "server/lecture/tabletext.h"

#include "common/csvtext.h"
#include "server/lecture/rostergrid.h"

#include <QStringList>

QString tableText(const RosterGrid &grid, const QString &delimiter, TableCells cells)
{
    QString text;
    for (RosterGrid::Row row : grid.exportRows()) {
        if (cells == TableCells::AsText) {
            row[RosterGrid::UserId] = textCell(row[RosterGrid::UserId]);
            row[RosterGrid::UserName] = textCell(row[RosterGrid::UserName]);
        }
        text += QStringList(row.begin(), row.end()).join(delimiter);
        text += QStringLiteral("\r\n");
    }
    return text;
}
