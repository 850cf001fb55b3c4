#pragma once

#include <QStringList>

class DocumentOpener;
class MessageBox;

// The folders searched for manual.html, in order: the current folder, where
// a lecturer may keep a copy of their own, then the folder the manual is
// installed to, so that a program started from the desktop menu finds it.
QStringList manualFolders();

// The manual.html of the first folder that has one; empty when none has.
QString findManual(const QStringList &folders);

// Opens the manual with the system's viewer. When there is no manual, or no
// viewer will open it, the lecturer is told where to look instead.
void openManual(const QStringList &folders, DocumentOpener &opener, MessageBox &messages);
