#pragma once

#include "text/Color.h"

#include <QColor>

inline QColor toQColor(const Color& color)
{
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue), float(color.alpha));
}

// A field's placeholder: its text colour, fainter.
inline QColor placeholderColor(QColor text)
{
    text.setAlphaF(text.alphaF() * 0.6f);
    return text;
}
