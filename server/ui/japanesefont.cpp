#include "server/ui/japanesefont.h"

QFont japaneseFont(int pointSize, bool bold)
{
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"), pointSize);
    font.setStyleHint(QFont::SansSerif);
    font.setBold(bold);
    return font;
}
