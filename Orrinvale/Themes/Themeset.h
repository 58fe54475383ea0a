#pragma once

#include "text/Color.h"

#include <QString>

#include <cstdint>
#include <optional>

class TextStorageColors;

using ThemeID = int64_t;
using ThemeStyle = int16_t;
constexpr ThemeStyle ThemeStyleLight = 1;
constexpr ThemeStyle ThemeStyleDark = 2;
constexpr ThemeStyle ThemeStyleSepia = 3;

// The colour themes: names, picker order, style groups and every colour of the
// interface. An id that is not a theme takes theme 0's names and colours, no
// resource name, style 0 and no alpha-tinted colour.
class Themeset {
public:
    static int64_t numberOfThemes();
    // The theme at a picker position; 0 outside the picker.
    static ThemeID themeAtIndex(int64_t index);
    // The stem of the theme's image names; null for an id that is not a theme.
    static QString resourceNameForTheme(ThemeID theme);
    static QString themeNameForTheme(ThemeID theme);
    static QString themeDescriptionForTheme(ThemeID theme);
    static ThemeStyle themeStyleForTheme(ThemeID theme);

    // Pours the theme's editor colours into the storage; leaves them as they
    // are for an id that is not a theme. The text is not restyled.
    static void textStorageSetTheme(TextStorageColors& storage, ThemeID theme);

    // The tint at the given alpha; none for an id that is not a theme.
    static std::optional<Color> tintColorForTheme(ThemeID theme, double alpha);
    // Every other colour; theme 0's for an id that is not a theme.
    static Color tintColorForTheme(ThemeID theme);
    static Color archiveButtonColorForTheme(ThemeID theme);
    static Color toggleColorForTheme(ThemeID theme);
    static Color caretColorForTheme(ThemeID theme);
    static Color listColorForTheme(ThemeID theme);
    static Color textColorForTheme(ThemeID theme);
    static Color symbolColorForTheme(ThemeID theme);
    static Color codeColorForTheme(ThemeID theme);
    static Color backgroundColorForTheme(ThemeID theme);
    static Color selectionBackgroundColorForTheme(ThemeID theme);
    static Color titleColorForTheme(ThemeID theme);
    static Color titleBackgroundColorForTheme(ThemeID theme);
    static Color headerColorForTheme(ThemeID theme);
    static Color headerBackgroundColorForTheme(ThemeID theme);
    static Color snippetColorForTheme(ThemeID theme);
    static Color snippetTitleColorForTheme(ThemeID theme);
    static Color snippetSymbolColorForTheme(ThemeID theme);
    static Color menuBackgroundColorForTheme(ThemeID theme);
    static Color conflictBackdropColorForTheme(ThemeID theme);
    static Color fieldBackgroundColorForTheme(ThemeID theme);
    static Color fieldColorForTheme(ThemeID theme);
    static Color menuStrongColorForTheme(ThemeID theme);
    static Color menuColorForTheme(ThemeID theme);
    static Color trashTextColorForTheme(ThemeID theme);
    static Color trashButtonColorForTheme(ThemeID theme);
    static Color archiveTextColorForTheme(ThemeID theme);
    static Color inactiveTextColorForTheme(ThemeID theme);
    static Color inactiveButtonColorForTheme(ThemeID theme);
    static Color reviveTextColorForTheme(ThemeID theme);
    static Color reviveButtonColorForTheme(ThemeID theme);
    static Color restoreTextColorForTheme(ThemeID theme);
    static Color restoreButtonColorForTheme(ThemeID theme);
    static Color highlightBackgroundColorForTheme(ThemeID theme);
    static Color firstResponderHighlightBackgroundColorForTheme(ThemeID theme);
    static Color keyWindowHighlightBackgroundColorForTheme(ThemeID theme);
    static Color backWindowHighlightBackgroundColorForTheme(ThemeID theme);
    static Color criticAddColorForTheme(ThemeID theme);
    static Color criticDeleteColorForTheme(ThemeID theme);
    static Color criticSubColorForTheme(ThemeID theme);
    static Color criticCommentColorForTheme(ThemeID theme);
    static Color criticHighlightColorForTheme(ThemeID theme);
    static Color suggestBarBackgroundColorForTheme(ThemeID theme);
    static Color suggestBarCollapsedColorForTheme(ThemeID theme);
    static Color snippetSearchColorForTheme(ThemeID theme);
    static Color snippetSearchStrongColorForTheme(ThemeID theme);
    static Color keyboardBackgroundColorForTheme(ThemeID theme);
private:
    enum Role {
        Tint,
        ArchiveButton,
        Toggle,
        Caret,
        List,
        Text,
        Symbol,
        Code,
        Background,
        SelectionBackground,
        Title,
        TitleBackground,
        Header,
        HeaderBackground,
        Snippet,
        SnippetTitle,
        SnippetSymbol,
        MenuBackground,
        ConflictBackdrop,
        FieldBackground,
        Field,
        MenuStrong,
        Menu,
        TrashText,
        TrashButton,
        ArchiveText,
        InactiveText,
        InactiveButton,
        ReviveText,
        ReviveButton,
        RestoreText,
        RestoreButton,
        HighlightBackground,
        FirstResponderHighlightBackground,
        KeyWindowHighlightBackground,
        BackWindowHighlightBackground,
        CriticAdd,
        CriticDelete,
        CriticSub,
        CriticComment,
        CriticHighlight,
        SuggestBarBackground,
        SuggestBarCollapsed,
        SnippetSearch,
        SnippetSearchStrong,
        KeyboardBackground,
        RoleCount
    };
    static Color color(Role role, ThemeID theme);
};
