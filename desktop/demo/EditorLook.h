#pragma once

#include "TextView.h"

#include "Styling/MarkdownTextStorage.h"
#include "Themes/Themeset.h"
#include "Themes/Typeset.h"

#include <QPalette>

// Fills a storage (and its view, when given) with a typeface, a size in points and a theme the way the
// editor pane does, then restyles the text already there. For the demo and the measurements.
inline void applyEditorLook(MarkdownTextStorage& storage, TypefaceID face, double size, ThemeID theme,
                            TextView* view = nullptr)
{
    const int64_t points = int64_t(size);
    storage.setLineHeight(Typeset::lineHeightForTypeface(face, points) * 0.9);
    storage.setMainFont(Typeset::regularFontForTypeface(face, points));
    storage.setSmallCapFont(Typeset::regularFontForTypeface(face, int64_t(size - 1)));
    storage.setBoldFont(Typeset::boldFontForTypeface(face, points));
    storage.setBoldItalicFont(Typeset::boldItalicFontForTypeface(face, points));
    storage.setItalicFont(Typeset::italicFontForTypeface(face, points));
    storage.setCodeFont(Typeset::codeFontForTypeface(face, points));
    storage.setSymbolFont(Typeset::symbolFontForTypeface(face, points));
    Themeset::textStorageSetTheme(storage, theme);
    storage.reloadAttributes();
    // An attribute edit over the whole text restyles every line in the new look.
    storage.setAttributes({}, {0, storage.length()});
    if (!view)
        return;
    view->setDefaultParagraphStyle(storage.defaultParagraphStyle());
    view->setDefaultFont(storage.mainFont());

    const auto qcolor = [](const Color& c) { return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha)); };
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, qcolor(Themeset::backgroundColorForTheme(theme)));
    palette.setColor(QPalette::Text, qcolor(Themeset::textColorForTheme(theme)));
    palette.setColor(QPalette::Highlight, qcolor(Themeset::selectionBackgroundColorForTheme(theme)));
    view->setPalette(palette);
}
