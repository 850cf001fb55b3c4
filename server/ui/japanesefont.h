#pragma once

#include <QFont>

// The windows' font: ＭＳ Ｐゴシック (IPAPGothic through the fontconfig alias the
// install adds), so that the layout measured in twips fits what is drawn.
QFont japaneseFont(int pointSize = 9, bool bold = false);
