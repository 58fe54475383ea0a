#pragma once

#include "Themes/Themeset.h"
#include "Themes/Typeset.h"

class MarkdownTextStorage;
class TextView;

// The editor's look: the fonts, line height and colours of a typeface, a size in points and a theme.
namespace EditorStyle {

// Sets the storage up for the look and restyles the text it holds.
void applyToStorage(MarkdownTextStorage& storage, TypefaceID face, double size, ThemeID theme);
// The view's default paragraph style and font from the storage, its colours from the theme.
void applyToView(TextView& view, const MarkdownTextStorage& storage, ThemeID theme);

} // namespace EditorStyle
