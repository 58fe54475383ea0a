#include "Themes/Typeset.h"

#include <QCoreApplication>

#include <array>

namespace {

// Written as 0.92 in the tables, the factor is the double just below it.
constexpr double AlmostPoint92 = 0.9199999999999999;
static_assert(AlmostPoint92 < 0.92);

struct Face {
    const char* name;
    double factor;
};

struct Typeface {
    const char* displayName; // a localisation key; null: not a typeface
    Face regular, bold, italic, boldItalic, code, symbol;
    const char* codeName;   // for the exported page
    const char* symbolName; // for the exported page
};

constexpr double LineHeights[] = {1.4, 1.6, 1.8, 1.0, 1.6, 1.6, 1.6, 1.4, 1.6, 1.0, 1.4};

// Indexed by TypefaceID.
constexpr Typeface Typefaces[] = {
    {"Avenir Next", {"AvenirNext-Regular", 1}, {"Avenir-Heavy", 1}, {"Avenir-Oblique", 1},
     {"Avenir-HeavyOblique", 1}, {"KT9VR-Menlo-Avenir", AlmostPoint92}, {"KT9VR-Menlo-Avenir", AlmostPoint92},
     "Menlo-Regular", "Menlo-Regular"},
    {"Menlo", {"Menlo-Regular", 0.95}, {"Menlo-Bold", 0.95}, {"Menlo-Italic", 0.95}, {"Menlo-BoldItalic", 0.95},
     {"Menlo-Regular", 0.95}, {"Menlo-Regular", 0.95}, "Menlo-Regular", "Menlo-Regular"},
    {"Courier", {"Courier", 1}, {"Courier-Bold", 1}, {"Courier-Oblique", 1}, {"Courier-BoldOblique", 1},
     {"Courier", 1}, {"Courier", 1}, "Courier", "Courier"},
    {},
    {"Georgia", {"Georgia", 1}, {"Georgia-Bold", 1}, {"Georgia-Italic", 1}, {"Georgia-BoldItalic", 1},
     {"Courier", 1}, {"Georgia", 1}, "Courier", "Georgia"},
    {"Palatino", {"Palatino-Roman", 1}, {"Palatino-Bold", 1}, {"Palatino-Italic", 1}, {"Palatino-BoldItalic", 1},
     {"Menlo-Regular", 0.9}, {"Courier", 1}, "Menlo-Regular", "Courier"},
    {"Times New Roman", {"TimesNewRomanPSMT", 1.05}, {"TimesNewRomanPS-BoldMT", 1.05},
     {"TimesNewRomanPS-ItalicMT", 1.05}, {"TimesNewRomanPS-BoldItalicMT", 1.05}, {"Courier", 1}, {"Courier", 1},
     "Courier", "Courier"},
    {"Iowan Old Style", {"IowanOldStyle-Roman", 1}, {"IowanOldStyle-Bold", 1}, {"IowanOldStyle-Italic", 1},
     {"IowanOldStyle-BoldItalic", 1}, {"KT9VR-Menlo-Iowan", AlmostPoint92}, {"KT9VR-Menlo-Iowan", AlmostPoint92},
     "Menlo-Regular", "Menlo-Regular"},
    {"Helvetica Neue", {"HelveticaNeue", 1}, {"HelveticaNeue-Bold", 1}, {"HelveticaNeue-Italic", 1},
     {"HelveticaNeue-BoldItalic", 1}, {"Menlo-Regular", 1}, {"HelveticaNeue", 1}, "Menlo-Regular",
     "HelveticaNeue"},
    {},
    {"Cochin", {"Cochin", 1.15}, {"Cochin-Bold", 1.15}, {"Cochin-Italic", 1.15}, {"Cochin-BoldItalic", 1.15},
     {"Courier", 0.95}, {"Cochin", 1.15}, "Courier", "Cochin"},
};

constexpr std::array<TypefaceID, 9> MenuOrder = {0, 10, 2, 4, 8, 7, 1, 5, 6};
constexpr std::array<int64_t, 7> PresetSizes = {20, 18, 17, 16, 22, 24, 28};
constexpr std::array<SizePreset, 7> PresetOrder = {3, 2, 1, 0, 4, 5, 6};

// The typeface's row; null for an id that is not a typeface. Negative ids
// never index the table.
const Typeface* find(TypefaceID typeface)
{
    if (typeface < 0 || typeface >= TypefaceID(std::size(Typefaces)) || !Typefaces[typeface].displayName)
        return nullptr;
    return &Typefaces[typeface];
}

const Typeface& findOrFirst(TypefaceID typeface)
{
    const Typeface* found = find(typeface);
    return found ? *found : Typefaces[0];
}

Font font(TypefaceID typeface, int64_t size, Face Typeface::*role, bool boldFallback)
{
    const Typeface* found = find(typeface);
    if (!found)
        return boldFallback ? Font::boldSystemFont(double(size)) : Font::systemFont(double(size));
    const Face& face = found->*role;
    return {QString::fromLatin1(face.name), double(size) * face.factor, 0};
}

} // namespace

int64_t Typeset::numberOfTypefaces()
{
    return int64_t(MenuOrder.size());
}

TypefaceID Typeset::typefaceAtIndex(int64_t index)
{
    return index >= 0 && index < int64_t(MenuOrder.size()) ? MenuOrder[size_t(index)] : 0;
}

QString Typeset::localizedNameForTypeface(TypefaceID typeface)
{
    const Typeface* found = find(typeface);
    return found ? QCoreApplication::translate("Localizable", found->displayName) : QString();
}

Font Typeset::regularFontForTypeface(TypefaceID typeface, int64_t size)
{
    return font(typeface, size, &Typeface::regular, false);
}

Font Typeset::boldFontForTypeface(TypefaceID typeface, int64_t size)
{
    return font(typeface, size, &Typeface::bold, true);
}

Font Typeset::italicFontForTypeface(TypefaceID typeface, int64_t size)
{
    return font(typeface, size, &Typeface::italic, true);
}

Font Typeset::boldItalicFontForTypeface(TypefaceID typeface, int64_t size)
{
    return font(typeface, size, &Typeface::boldItalic, true);
}

Font Typeset::codeFontForTypeface(TypefaceID typeface, int64_t size)
{
    return font(typeface, size, &Typeface::code, false);
}

Font Typeset::symbolFontForTypeface(TypefaceID typeface, int64_t size)
{
    return font(typeface, size, &Typeface::symbol, false);
}

QString Typeset::regularFontNameForTypeface(TypefaceID typeface)
{
    return QString::fromLatin1(findOrFirst(typeface).regular.name);
}

QString Typeset::boldFontNameForTypeface(TypefaceID typeface)
{
    return QString::fromLatin1(findOrFirst(typeface).bold.name);
}

QString Typeset::italicFontNameForTypeface(TypefaceID typeface)
{
    return QString::fromLatin1(findOrFirst(typeface).italic.name);
}

QString Typeset::boldItalicFontNameForTypeface(TypefaceID typeface)
{
    return QString::fromLatin1(findOrFirst(typeface).boldItalic.name);
}

QString Typeset::codeFontNameForTypeface(TypefaceID typeface)
{
    return QString::fromLatin1(findOrFirst(typeface).codeName);
}

QString Typeset::symbolFontNameForTypeface(TypefaceID typeface)
{
    return QString::fromLatin1(findOrFirst(typeface).symbolName);
}

double Typeset::lineHeightForTypeface(TypefaceID typeface, int64_t)
{
    return typeface >= 0 && typeface < TypefaceID(std::size(LineHeights)) ? LineHeights[typeface] : 1.0;
}

int64_t Typeset::numberOfSizePresets()
{
    return int64_t(PresetSizes.size());
}

SizePreset Typeset::sizePresetAtIndex(int64_t index)
{
    return index >= 0 && index < int64_t(PresetOrder.size()) ? PresetOrder[size_t(index)] : 0;
}

int64_t Typeset::fontSizeForSizePreset(SizePreset preset)
{
    return preset >= 0 && preset < int64_t(PresetSizes.size()) ? PresetSizes[size_t(preset)] : 20;
}
