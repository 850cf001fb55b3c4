#pragma once

#include <QString>

class QMainWindow;
class QSplitter;

// Where the main window stood and how the grid and the log shared it, kept
// per machine in the data folder: a home folder shared by the room's
// machines gives each screen its own place.
class WindowPlace
{
public:
    // `<data folder>/window.ini`, one group per host name.
    static QString path();

    // False when this machine has nothing kept: the window keeps its place.
    static bool restore(QMainWindow &window, QSplitter &splitter);
    static void save(const QMainWindow &window, const QSplitter &splitter);
};
