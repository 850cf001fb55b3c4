#pragma once

#include <QString>

class QFileDialog;
class QWidget;

// Qt's own file dialogs (never the desktop's), with dates and sizes in the
// program's locale and columns wide enough to show them. Qt's file model
// writes both in the system's locale, whatever QLocale::setDefault says.
// The chosen path, or an empty text when cancelled.
QString chooseFileToOpen(QWidget *parent, const QString &folder, const QString &qtFilter);
QString chooseFileToSave(QWidget *parent, const QString &proposedName, const QString &qtFilter);
QString chooseExistingFolder(QWidget *parent, const QString &caption, const QString &folder);

// What the three do to a dialog before it is shown.
void showInProgramLocale(QFileDialog &dialog);
