#pragma once

#include "TextView.h"
#include "panes/EditorStyle.h"

#include "Styling/MarkdownTextStorage.h"

// Fills a storage (and its view, when given) with a typeface, a size in points and a theme the way the
// editor pane does, then restyles the text already there. For the demo and the measurements.
inline void applyEditorLook(MarkdownTextStorage& storage, TypefaceID face, double size, ThemeID theme,
                            TextView* view = nullptr)
{
    EditorStyle::applyToStorage(storage, face, size, theme);
    if (view)
        EditorStyle::applyToView(*view, storage, theme);
}
