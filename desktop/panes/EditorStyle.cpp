#include "panes/EditorStyle.h"

#include "TextView.h"
#include "kit/QtColor.h"

#include "Styling/MarkdownTextStorage.h"

#include <QPalette>

namespace EditorStyle {

void applyToStorage(MarkdownTextStorage& storage, TypefaceID face, double size, ThemeID theme)
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
}

void applyToView(TextView& view, const MarkdownTextStorage& storage, ThemeID theme)
{
    view.setDefaultParagraphStyle(storage.defaultParagraphStyle());
    view.setDefaultFont(storage.mainFont());
    QPalette palette = view.palette();
    palette.setColor(QPalette::Base, toQColor(Themeset::backgroundColorForTheme(theme)));
    palette.setColor(QPalette::Window, toQColor(Themeset::backgroundColorForTheme(theme)));
    palette.setColor(QPalette::Text, toQColor(Themeset::textColorForTheme(theme)));
    palette.setColor(QPalette::Highlight, toQColor(Themeset::selectionBackgroundColorForTheme(theme)));
    // A selection changes the background only; the text keeps its colour.
    palette.setColor(QPalette::HighlightedText, toQColor(Themeset::textColorForTheme(theme)));
    view.setPalette(palette);
}

} // namespace EditorStyle
