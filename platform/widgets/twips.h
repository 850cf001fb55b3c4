#pragma once

#include <QRect>
#include <QString>

// Layouts are given in twips; 15 twips make one pixel at 96 dpi.
constexpr int twipsToPixels(int twips)
{
    return (twips + 7) / 15;
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height)};
}

// Gives a control its name and its place in the window.
template <typename Control> Control *placed(Control *control, const char *name, const QRect &rect)
{
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(rect);
    return control;
}
