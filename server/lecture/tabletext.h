#pragma once

#include <QString>

class RosterGrid;

// How the ID and name cells are written: as they are (the saved table, in
// the format other programs read), or kept as text for a spreadsheet (the
// copied table, see textCell).
enum class TableCells { AsTheyAre, AsText };

// The header row and the student rows of the grid as text: the five cells of
// a row joined by `delimiter`, every line ended with CR LF. Cells are neither
// quoted nor escaped; the total line is left out.
QString tableText(const RosterGrid &grid, const QString &delimiter,
                  TableCells cells = TableCells::AsTheyAre);
