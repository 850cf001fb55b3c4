#pragma once

// The submissions of an assignment folder as CSV, without a window:
//   tavrelle --submissions ROSTER.cfg [--folder DIR] [--journals DIR]... [--out FILE]
// Runs before any window system is touched, so it needs no display.

#include <QStringList>

// True when the command line asks for it.
bool isSubmissionsCommand(int argc, char *argv[]);
// Writes the CSV to FILE or standard output: 0, or 2 with a Japanese message
// on standard error.
int runSubmissionsCommand(int argc, char *argv[]);
// The same inside a running application; `arguments` as
// QCoreApplication::arguments() gives them.
int submissionsCommand(const QStringList &arguments);
// What --submissions --help prints.
QString submissionsUsage();
