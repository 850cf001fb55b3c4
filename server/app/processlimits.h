#pragma once

// Desktops start programs with a soft limit of 1024 open files; every
// connection and every upload in progress takes one. Raises this process's
// soft limit to its hard limit and returns the limit now in force.
long raiseOpenFileLimit();

// Writes beyond the file-size limit fail like those to a full disk, instead
// of ending the program with SIGXFSZ.
void ignoreFileSizeSignal();

// What the lecturer's program sets up before its application object exists:
// the heap kept for uploads, the open-file limit, and Qt's own event
// dispatcher.
void prepareServerProcess();
