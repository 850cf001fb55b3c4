#pragma once

// A roster from the registrar's class list, without a window:
//   tavrelle --import-roster FILE --lecture NAME --lecturer NAME [--folder DIR]
//            [--id-column HEADING|N] [--name-column HEADING|N] [--out ROSTER.cfg]
// Runs before any window system is touched, so it needs no display.

#include <QStringList>

// True when the command line asks for it.
bool isImportCommand(int argc, char *argv[]);
// Writes the roster: 0; 2 with a Japanese message on standard error when
// the class list or an option is refused (nothing is written then); 1 when
// the roster cannot be written.
int runImportCommand(int argc, char *argv[]);
// The same inside a running application; `arguments` as
// QCoreApplication::arguments() gives them.
int importCommand(const QStringList &arguments);
// What --import-roster --help prints.
QString importRosterUsage();
