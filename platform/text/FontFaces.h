#pragma once

#include "text/TextMetrics.h"

#include <QFont>

// The font layer: turns the PostScript names the typeface tables use into
// installed faces of the same character, and measures text in them. The only
// user of the font database; it needs a QGuiApplication.
//
// One point of a Font is one logical pixel. Line heights are normalised: the
// installed faces have line boxes from 1.14 to 1.64 em, so the measured height
// of a line is the same multiple of the size in every face.
class FontFaces : public TextMetrics {
public:
    // Never a null font: an unknown or missing face falls back to the generic
    // family of its kind, then to the desktop's interface font.
    static QFont qfont(const Font& font);
    // The line height of a font, normalised across faces.
    static double lineHeight(const Font& font);
    // The installed family that stands in for the name, as a style sheet names it.
    static QString familyForPostScriptName(const QString& postScriptName);
    // The inverse of qfont(): the first name whose stand-in has the family, the
    // boldness and the slant, sized in logical pixels; the interface font when
    // no name stands in for the family.
    static Font font(const QFont& qfont);

    static const FontFaces& metrics();
    QSizeF sizeOfString(const QString& text, const Font& font) const override;
};
