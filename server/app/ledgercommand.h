#pragma once

// `tavrelle --ledger ROSTER.cfg [--from YYYY-MM-DD] [--to YYYY-MM-DD]
// [--journals DIR]... [--out FILE]`: the term's ledger as CSV, without a
// window or a display.

#include <QString>

// True when the command line asks for the ledger.
bool isLedgerCommand(int argc, char *argv[]);
// Runs it: 0 when the ledger was written, 2 on bad input (told on stderr).
int runLedgerCommand(int argc, char *argv[]);
// What --ledger --help prints.
QString ledgerUsage();
