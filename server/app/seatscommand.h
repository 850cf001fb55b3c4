#pragma once

// The room's seats and who sat where, as CSV, without a window:
//   tavrelle --seats ROSTER.cfg [--layout FILE] [--date YYYY-MM-DD]
//            [--journals DIR]... [--out FILE]
// Runs before any window system is touched, so it needs no display.

#include "common/result.h"
#include "server/lecture/seatlayout.h"

#include <QByteArray>
#include <QStringList>
#include <optional>

class SeatMap;

// True when the command line asks for it.
bool isSeatsCommand(int argc, char *argv[]);
// Writes the CSV to FILE or standard output: 0; 2 with a Japanese message on
// standard error for a roster or layout that cannot be read or a wrong
// option; 1 when the output cannot be written.
int runSeatsCommand(int argc, char *argv[]);
// The same inside a running application; `arguments` as
// QCoreApplication::arguments() gives them.
int seatsCommand(const QStringList &arguments);

// The map as CSV: heading, one line per seat and student in layout order,
// then the students outside the layout; CP932, CR LF, text cells kept text.
QByteArray seatsCsv(const SeatMap &map);

// kaisi + tikoku of the roster file at `path`, in seconds of the day: a
// mark after it is late. None without kaisi or when the file is unreadable.
std::optional<int> rosterLateAfter(const QString &path);

// The room's layout file: `named` when given, else the zaseki key of
// inivar.cfg in `startFolder`, else zaseki.cfg there when it exists; empty
// when there is none (seats in the order of arrival).
QString seatLayoutPath(const QString &startFolder, const QString &named = QString());
// Where 配置の編集 saves the room's layout: the zaseki key of inivar.cfg in
// `startFolder`, else zaseki.cfg there.
QString seatLayoutSavePath(const QString &startFolder);
// Replaces the layout file at `path` (through a temporary file: a failure
// leaves the old one).
Result<> writeSeatLayoutFile(const QString &path, const SeatLayout &layout);
// The layout in `path` (bad lines named in its problems), the order of
// arrival for an empty path, or nothing with the reason in `error`.
Result<SeatLayout> readSeatLayoutFile(const QString &path);
// What --seats --help prints.
QString seatsUsage();
