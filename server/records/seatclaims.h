#pragma once

#include "common/result.h"
#include "server/lecture/seatmap.h"

#include <QString>

// Gives a seat map what one lecture journal says about who attended from
// where (出席, 再申告 and 名簿外 lines) and who handed in (提出 lines). A journal
// whose first line names another lecture gives nothing; damaged lines are
// passed over, as the ledger passes them.
Result<> readSeatClaims(const QString &path, const QString &lectureName, SeatMap &map);
