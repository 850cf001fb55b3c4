#pragma once

#include <QString>

class RosterGrid;

// The header row and the student rows of the grid as text: the five cells of
// a row joined by `delimiter`, every line ended with CR LF. Cells are taken
// as they are, neither quoted nor escaped; the total line is left out.
QString tableText(const RosterGrid &grid, const QString &delimiter);
