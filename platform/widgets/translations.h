#pragma once

class QCoreApplication;

// Gives Qt's own texts (dialog buttons, file dialogs, overwrite questions)
// in Japanese, whatever the system locale says, from Qt's installed
// translations (qtbase_ja.qm). False, with a warning, when they are not
// installed: Qt's texts then stay English.
bool installJapaneseQtTexts(QCoreApplication &app);

// Dates, times and numbers as a Japanese desktop shows them (2026/12/09
// 14:37), in Qt's widgets and the program's own texts, whatever the
// system's language.
void useJapaneseLocale();
