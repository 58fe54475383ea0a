#pragma once

#include "text/Font.h"

#include <QString>

#include <cstdint>

using TypefaceID = int64_t;
using SizePreset = int64_t;

// The typefaces and type sizes the user can choose. Each typeface gives six
// fonts (regular, bold, italic, bold-italic, code, symbol) scaled by its
// factors, the PostScript names for the exported page and a line-height
// factor. An id that is not a typeface (3, 9, anything outside 0 to 10) gets
// the system fonts unscaled, typeface 0's names, no display name and a line
// height of 1.0; a preset outside 0 to 6 is 20 points.
class Typeset {
public:
    static int64_t numberOfTypefaces();
    // The typeface at a menu position; 0 outside the menu.
    static TypefaceID typefaceAtIndex(int64_t index);
    // The localised display name; null for an id that is not a typeface.
    static QString localizedNameForTypeface(TypefaceID typeface);

    static Font regularFontForTypeface(TypefaceID typeface, int64_t size);
    static Font boldFontForTypeface(TypefaceID typeface, int64_t size);
    static Font italicFontForTypeface(TypefaceID typeface, int64_t size);
    static Font boldItalicFontForTypeface(TypefaceID typeface, int64_t size);
    static Font codeFontForTypeface(TypefaceID typeface, int64_t size);
    static Font symbolFontForTypeface(TypefaceID typeface, int64_t size);

    static QString regularFontNameForTypeface(TypefaceID typeface);
    static QString boldFontNameForTypeface(TypefaceID typeface);
    static QString italicFontNameForTypeface(TypefaceID typeface);
    static QString boldItalicFontNameForTypeface(TypefaceID typeface);
    static QString codeFontNameForTypeface(TypefaceID typeface);
    static QString symbolFontNameForTypeface(TypefaceID typeface);

    // The line-height factor; the size does not matter.
    static double lineHeightForTypeface(TypefaceID typeface, int64_t size);

    static int64_t numberOfSizePresets();
    // The preset at a menu position (smallest size first); 0 outside the menu.
    static SizePreset sizePresetAtIndex(int64_t index);
    static int64_t fontSizeForSizePreset(SizePreset preset);
};
