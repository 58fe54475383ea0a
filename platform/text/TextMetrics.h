#pragma once

#include "text/Font.h"

#include <QSizeF>
#include <QString>

// Measures text as the styling needs it: the size of a string drawn in one
// font on one line. Abstract so model code can be measured without a display.
class TextMetrics {
public:
    virtual ~TextMetrics() = default;
    virtual QSizeF sizeOfString(const QString& text, const Font& font) const = 0;
};
