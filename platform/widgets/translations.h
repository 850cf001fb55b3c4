#pragma once

class QCoreApplication;

// Gives Qt's own texts (dialog buttons, file dialogs, overwrite questions)
// in Japanese, whatever the system locale says, from Qt's installed
// translations (qtbase_ja.qm). False, with a warning, when they are not
// installed: Qt's texts then stay English.
bool installJapaneseQtTexts(QCoreApplication &app);
