#pragma once

// `tavrelle --help`: every command the program runs without a window, each
// with its options, as the commands' own --help word them.

#include <QString>

// True when the command line asks for help and for no command.
bool isProgramHelp(int argc, char *argv[]);
// Prints the program's usage on standard output: 0.
int runProgramHelp();
QString programUsage();
