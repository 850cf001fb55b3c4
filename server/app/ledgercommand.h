#pragma once

// `tavrelle --ledger ROSTER.cfg [--from YYYY-MM-DD] [--to YYYY-MM-DD]
// [--journals DIR]... [--out FILE]`: the term's ledger as CSV, without a
// window or a display.

// True when the command line asks for the ledger (or for --help).
bool isLedgerCommand(int argc, char *argv[]);
// Runs it: 0 when the ledger was written, 2 on bad input (told on stderr).
int runLedgerCommand(int argc, char *argv[]);
