#include "Themes/Themeset.h"

#include "Themes/TextStorageColors.h"

#include <algorithm>
#include <array>

namespace {

// Theme ids in table column order.
constexpr std::array<ThemeID, 8> Themes = {0, 1, 2, 3, 4, 9, 16, 18};
constexpr std::array<ThemeID, 8> PickerOrder = {0, 1, 4, 9, 18, 16, 2, 3};

struct ThemeNames {
    const char* resource;
    const char* display;
    const char* description;
    ThemeStyle style;
};

constexpr std::array<ThemeNames, 8> Names = {{
    {"white", "White", "Dark text on near-white paper.", ThemeStyleLight},
    {"sepia", "Sepia Green", "Brown ink on warm paper,\nwith green accents.", ThemeStyleSepia},
    {"charcoal", "Charcoal Gray", "Light text on charcoal,\nsoft on the eyes.", ThemeStyleDark},
    {"night", "Dark Side", "Light text on black,\nwith red accents.", ThemeStyleDark},
    {"whitebanana", "Yellow", "Dark text on white,\nwith yellow accents.", ThemeStyleLight},
    {"whiterose", "Maroon", "Dark text on white,\nwith maroon accents.", ThemeStyleLight},
    {"nightmatcha", "Matcha Green", "Pale text on deep olive,\nwith matcha accents.", ThemeStyleDark},
    {"nightcobalt", "Cobalt Blue", "Pale text on deep blue,\nwith cobalt accents.", ThemeStyleDark},
}};

// The table column of a theme; -1 for an id that is not a theme.
int column(ThemeID theme)
{
    for (size_t i = 0; i < Themes.size(); ++i) {
        if (Themes[i] == theme)
            return int(i);
    }
    return -1;
}

// 0xRRGGBBAA per theme, in the column order above.
constexpr uint32_t Colors[][8] = {
    {0x12b0ccff, 0x16a185ff, 0x808c8cff, 0xd4444dff, 0xe6bc25ff, 0xa12d57ff, 0x6e8227ff, 0x6ca9ccff}, // Tint
    {0x5fc2d9ff, 0x16a185ff, 0x4a5259ff, 0xd4444dff, 0xf2da7cff, 0xa12d57ff, 0x6e8227ff, 0x165e82ff}, // ArchiveButton
    {0x12b0ccff, 0x16a185ff, 0x808c8cff, 0xd4444dff, 0xf7a869ff, 0xa12d57ff, 0x6e8227ff, 0x165e82ff}, // Toggle
    {0x4bb3d1ff, 0x16a185ff, 0x808c8cff, 0xd4444dff, 0xf7a869ff, 0x991f3fff, 0xcee67cff, 0x87d3ffff}, // Caret
    {0x12b0ccff, 0x16a185ff, 0xbbbbbbff, 0xd4444dff, 0xe6bc25ff, 0xa12d57ff, 0xcee67cff, 0x87d3ffff}, // List
    {0x464646ff, 0x473719ff, 0xddddddff, 0xddddddff, 0x464646ff, 0x464646ff, 0xfdfff5ff, 0xf2faffff}, // Text
    {0x95a5a6ff, 0x948a78ff, 0xbbbbbbff, 0x999999ff, 0x8c8b88ff, 0x6e5163ff, 0xb0c46aff, 0x6ca9ccff}, // Symbol
    {0x95a5a6ff, 0x948a78ff, 0xbbbbbbff, 0x999999ff, 0x8c8b88ff, 0x6e5163ff, 0xb0c46aff, 0x6ca9ccff}, // Code
    {0xfbfbfbff, 0xfcf3e1ff, 0x4a5259ff, 0x1f1f1fff, 0xfbfbfbff, 0xfbfbfbff, 0x323b13ff, 0x203745ff}, // Background
    {0xd1ebf1ff, 0xbeddc8ff, 0x758081ff, 0xaf3c43ff, 0xf6e9b7ff, 0xe3c4cfff, 0x627323ff, 0x185675ff}, // SelectionBackground
    {0x000000ff, 0x473719ff, 0xddddddff, 0xffffffff, 0x000000ff, 0x000000ff, 0xfdfff5ff, 0xf2faffff}, // Title
    {0xfbfbfbcc, 0xfcf3e1cc, 0x31363bcc, 0x292929cc, 0xfbfbfbcc, 0xfbfbfbcc, 0x20260ccc, 0x121e26cc}, // TitleBackground
    {0x464646cc, 0x473719cc, 0xdddddd7f, 0xdddddd7f, 0x464646cc, 0x464646cc, 0xfdfff57f, 0xf2faff7f}, // Header
    {0xfbfbfbcc, 0xfcf3e1cc, 0x31363bcc, 0x292929cc, 0xfbfbfbcc, 0xfbfbfbcc, 0x20260ccc, 0x121e26cc}, // HeaderBackground
    {0x464646db, 0x473719db, 0xddddddff, 0xddddddff, 0x464646db, 0x464646db, 0xfdfff5ff, 0xf2faffff}, // Snippet
    {0x464646cc, 0x473719cc, 0xddddddff, 0xddddddff, 0x464646cc, 0x464646cc, 0xfdfff5ff, 0xf2faffff}, // SnippetTitle
    {0x4646467f, 0x4737197f, 0xdddddd7f, 0xdddddd7f, 0x4646467f, 0x4646467f, 0xfdfff57f, 0xf2faff7f}, // SnippetSymbol
    {0xfbfbfbff, 0xfcf3e1ff, 0x31363bff, 0x292929ff, 0xfbfbfbff, 0xfbfbfbff, 0x20260cff, 0x121e26ff}, // MenuBackground
    {0xe6e6e6ff, 0xe6dbc8ff, 0x31363bff, 0xd4464bff, 0xe6e6e6ff, 0xe6e6e6ff, 0x000000ff, 0x000000ff}, // ConflictBackdrop
    {0xe6e6e6ff, 0xe6dbc8ff, 0x1a1a1aff, 0x1a1a1aff, 0xe6e6e6ff, 0xe6e6e6ff, 0x000000ff, 0x041117ff}, // FieldBackground
    {0x000000ff, 0x473719ff, 0xddddddff, 0xddddddff, 0x000000ff, 0x000000ff, 0xfdfff5ff, 0xf2faffff}, // Field
    {0x464646cc, 0x473719bb, 0xddddddff, 0xffffffff, 0x464646cc, 0x464646cc, 0xfdfff5ff, 0xf2faffff}, // MenuStrong
    {0x464646db, 0x473719bb, 0xddddddbb, 0xddddddbb, 0x464646db, 0x464646db, 0xfdfff5bb, 0xf2faffbb}, // Menu
    {0xffffffff, 0xffffffff, 0xddddddff, 0xffffffff, 0xffffffff, 0xffffffff, 0xfdfff5ff, 0xf2faffff}, // TrashText
    {0xff6f69ff, 0xc0392bff, 0xa22041ff, 0xbf392cff, 0xff6f69ff, 0xff6f69ff, 0xa22041ff, 0xa22041ff}, // TrashButton
    {0xffffffff, 0xffffffff, 0xddddddff, 0xffffffff, 0x111111ff, 0xffffffff, 0xfdfff5ff, 0xf2faffff}, // ArchiveText
    {0xffffffff, 0xffffffff, 0xbbbbbbff, 0xffffffff, 0xffffffff, 0xffffffff, 0xfdfff5ff, 0xf2faffff}, // InactiveText
    {0xbbbbbbff, 0xa0d2bcff, 0x5f696dff, 0x000000ff, 0xbbbbbbff, 0xbbbbbbff, 0x4a571bff, 0x1c465dff}, // InactiveButton
    {0xffffffff, 0xffffffff, 0xddddddff, 0xffffffff, 0xffffffff, 0xffffffff, 0xfdfff5ff, 0xf2faffff}, // ReviveText
    {0xc05de1ff, 0x880088ff, 0x880088ff, 0x880088ff, 0xc05de1ff, 0xc05de1ff, 0x880088ff, 0x880088ff}, // ReviveButton
    {0xffffffff, 0xffffffff, 0xddddddff, 0xffffffff, 0xffffffff, 0xffffffff, 0xfdfff5ff, 0xf2faffff}, // RestoreText
    {0xffb43aff, 0x16a185ff, 0x4a5259ff, 0xd4444dff, 0xffb43aff, 0xffb43aff, 0x6e8227ff, 0x165e82ff}, // RestoreButton
    {0xe6e6e6ff, 0xf5e6cbff, 0x4a5259ff, 0xd4444dff, 0xe6e6e6ff, 0xe6e6e6ff, 0x2b330fff, 0x092533ff}, // HighlightBackground
    {0xdaeff2ff, 0xbeddc8ff, 0x758081ff, 0xd24750ff, 0xf6e9b7ff, 0xe9d1daff, 0x849c2fff, 0x1f739eff}, // FirstResponderHighlightBackground
    {0xe6e6e6ff, 0xeddfc5ff, 0x4a5259ff, 0x525252ff, 0xe6e6e6ff, 0xe6e6e6ff, 0x627323ff, 0x185675ff}, // KeyWindowHighlightBackground
    {0xe6e6e6ff, 0xeddfc5ff, 0x4a5259ff, 0x525252ff, 0xe6e6e6ff, 0xe6e6e6ff, 0x627323ff, 0x185675ff}, // BackWindowHighlightBackground
    {0x00bb00ff, 0x00bb00ff, 0x83e164ff, 0x00bb00ff, 0x00bb00ff, 0x00bb00ff, 0x83e164ff, 0x83e164ff}, // CriticAdd
    {0xdd0000ff, 0xdd0000ff, 0xee6979ff, 0xff1111ff, 0xdd0000ff, 0xdd0000ff, 0xee6979ff, 0xee6979ff}, // CriticDelete
    {0xff8600ff, 0xff8600ff, 0xff8600ff, 0xff8600ff, 0xff8600ff, 0xff8600ff, 0xff8600ff, 0xff8600ff}, // CriticSub
    {0x95a5a6ff, 0x847e6dff, 0x847e6dff, 0x847e6dff, 0x95a5a6ff, 0x95a5a6ff, 0x847e6dff, 0x847e6dff}, // CriticComment
    {0xaa53a9ff, 0xaa53a9ff, 0xbb75bbff, 0xbb75bbff, 0xaa53a9ff, 0xaa53a9ff, 0xbb75bbff, 0xbb75bbff}, // CriticHighlight
    {0x535353ff, 0x53514cff, 0x252729ff, 0x1a1a1aff, 0x535353ff, 0x535353ff, 0x1f2117ff, 0x1a2024ff}, // SuggestBarBackground
    {0x676767ff, 0x676561ff, 0x434546ff, 0x3b3b3bff, 0x676767ff, 0x676767ff, 0x3e4038ff, 0x3b3f42ff}, // SuggestBarCollapsed
    {0x464646db, 0x473719db, 0xddddddff, 0xddddddff, 0x464646db, 0x464646db, 0xfdfff5ff, 0xf2faffff}, // SnippetSearch
    {0x12b0ccff, 0x16a185ff, 0xbbbbbbff, 0xfe868aff, 0xe6bc25ff, 0xa12d57ff, 0xcee67cff, 0x87d3ffff}, // SnippetSearchStrong
    {0x5fc2d9ff, 0x16a185ff, 0x808c8cff, 0xd4444dff, 0xf2da7cff, 0xa12d57ff, 0x6e8227ff, 0x165e82ff}, // KeyboardBackground
};

} // namespace

int64_t Themeset::numberOfThemes()
{
    return int64_t(Themes.size());
}

ThemeID Themeset::themeAtIndex(int64_t index)
{
    return index >= 0 && index < int64_t(PickerOrder.size()) ? PickerOrder[size_t(index)] : 0;
}

QString Themeset::resourceNameForTheme(ThemeID theme)
{
    const int i = column(theme);
    return i < 0 ? QString() : QString::fromLatin1(Names[size_t(i)].resource);
}

QString Themeset::themeNameForTheme(ThemeID theme)
{
    return QString::fromLatin1(Names[size_t(std::max(column(theme), 0))].display);
}

QString Themeset::themeDescriptionForTheme(ThemeID theme)
{
    return QString::fromLatin1(Names[size_t(std::max(column(theme), 0))].description);
}

ThemeStyle Themeset::themeStyleForTheme(ThemeID theme)
{
    const int i = column(theme);
    return i < 0 ? ThemeStyle(0) : Names[size_t(i)].style;
}

Color Themeset::color(Role role, ThemeID theme)
{
    static_assert(std::size(Colors) == RoleCount);
    return Color::fromHex(Colors[role][std::max(column(theme), 0)]);
}

std::optional<Color> Themeset::tintColorForTheme(ThemeID theme, double alpha)
{
    if (column(theme) < 0)
        return std::nullopt;
    return color(Tint, theme).withAlpha(alpha);
}

void Themeset::textStorageSetTheme(TextStorageColors& storage, ThemeID theme)
{
    if (column(theme) < 0)
        return;
    storage.setMainColor(textColorForTheme(theme));
    storage.setSymbolColor(symbolColorForTheme(theme));
    storage.setListColor(listColorForTheme(theme));
    storage.setCodeColor(codeColorForTheme(theme));
    storage.setCriticAddColor(criticAddColorForTheme(theme));
    storage.setCriticDeleteColor(criticDeleteColorForTheme(theme));
    storage.setCriticSubColor(criticSubColorForTheme(theme));
    storage.setCriticCommentColor(criticCommentColorForTheme(theme));
    storage.setCriticHighlightColor(criticHighlightColorForTheme(theme));
}

Color Themeset::tintColorForTheme(ThemeID theme)
{
    return color(Tint, theme);
}

Color Themeset::archiveButtonColorForTheme(ThemeID theme)
{
    return color(ArchiveButton, theme);
}

Color Themeset::toggleColorForTheme(ThemeID theme)
{
    return color(Toggle, theme);
}

Color Themeset::caretColorForTheme(ThemeID theme)
{
    return color(Caret, theme);
}

Color Themeset::listColorForTheme(ThemeID theme)
{
    return color(List, theme);
}

Color Themeset::textColorForTheme(ThemeID theme)
{
    return color(Text, theme);
}

Color Themeset::symbolColorForTheme(ThemeID theme)
{
    return color(Symbol, theme);
}

Color Themeset::codeColorForTheme(ThemeID theme)
{
    return color(Code, theme);
}

Color Themeset::backgroundColorForTheme(ThemeID theme)
{
    return color(Background, theme);
}

Color Themeset::selectionBackgroundColorForTheme(ThemeID theme)
{
    return color(SelectionBackground, theme);
}

Color Themeset::titleColorForTheme(ThemeID theme)
{
    return color(Title, theme);
}

Color Themeset::titleBackgroundColorForTheme(ThemeID theme)
{
    return color(TitleBackground, theme);
}

Color Themeset::headerColorForTheme(ThemeID theme)
{
    return color(Header, theme);
}

Color Themeset::headerBackgroundColorForTheme(ThemeID theme)
{
    return color(HeaderBackground, theme);
}

Color Themeset::snippetColorForTheme(ThemeID theme)
{
    return color(Snippet, theme);
}

Color Themeset::snippetTitleColorForTheme(ThemeID theme)
{
    return color(SnippetTitle, theme);
}

Color Themeset::snippetSymbolColorForTheme(ThemeID theme)
{
    return color(SnippetSymbol, theme);
}

Color Themeset::menuBackgroundColorForTheme(ThemeID theme)
{
    return color(MenuBackground, theme);
}

Color Themeset::conflictBackdropColorForTheme(ThemeID theme)
{
    return color(ConflictBackdrop, theme);
}

Color Themeset::fieldBackgroundColorForTheme(ThemeID theme)
{
    return color(FieldBackground, theme);
}

Color Themeset::fieldColorForTheme(ThemeID theme)
{
    return color(Field, theme);
}

Color Themeset::menuStrongColorForTheme(ThemeID theme)
{
    return color(MenuStrong, theme);
}

Color Themeset::menuColorForTheme(ThemeID theme)
{
    return color(Menu, theme);
}

Color Themeset::trashTextColorForTheme(ThemeID theme)
{
    return color(TrashText, theme);
}

Color Themeset::trashButtonColorForTheme(ThemeID theme)
{
    return color(TrashButton, theme);
}

Color Themeset::archiveTextColorForTheme(ThemeID theme)
{
    return color(ArchiveText, theme);
}

Color Themeset::inactiveTextColorForTheme(ThemeID theme)
{
    return color(InactiveText, theme);
}

Color Themeset::inactiveButtonColorForTheme(ThemeID theme)
{
    return color(InactiveButton, theme);
}

Color Themeset::reviveTextColorForTheme(ThemeID theme)
{
    return color(ReviveText, theme);
}

Color Themeset::reviveButtonColorForTheme(ThemeID theme)
{
    return color(ReviveButton, theme);
}

Color Themeset::restoreTextColorForTheme(ThemeID theme)
{
    return color(RestoreText, theme);
}

Color Themeset::restoreButtonColorForTheme(ThemeID theme)
{
    return color(RestoreButton, theme);
}

Color Themeset::highlightBackgroundColorForTheme(ThemeID theme)
{
    return color(HighlightBackground, theme);
}

Color Themeset::firstResponderHighlightBackgroundColorForTheme(ThemeID theme)
{
    return color(FirstResponderHighlightBackground, theme);
}

Color Themeset::keyWindowHighlightBackgroundColorForTheme(ThemeID theme)
{
    return color(KeyWindowHighlightBackground, theme);
}

Color Themeset::backWindowHighlightBackgroundColorForTheme(ThemeID theme)
{
    return color(BackWindowHighlightBackground, theme);
}

Color Themeset::criticAddColorForTheme(ThemeID theme)
{
    return color(CriticAdd, theme);
}

Color Themeset::criticDeleteColorForTheme(ThemeID theme)
{
    return color(CriticDelete, theme);
}

Color Themeset::criticSubColorForTheme(ThemeID theme)
{
    return color(CriticSub, theme);
}

Color Themeset::criticCommentColorForTheme(ThemeID theme)
{
    return color(CriticComment, theme);
}

Color Themeset::criticHighlightColorForTheme(ThemeID theme)
{
    return color(CriticHighlight, theme);
}

Color Themeset::suggestBarBackgroundColorForTheme(ThemeID theme)
{
    return color(SuggestBarBackground, theme);
}

Color Themeset::suggestBarCollapsedColorForTheme(ThemeID theme)
{
    return color(SuggestBarCollapsed, theme);
}

Color Themeset::snippetSearchColorForTheme(ThemeID theme)
{
    return color(SnippetSearch, theme);
}

Color Themeset::snippetSearchStrongColorForTheme(ThemeID theme)
{
    return color(SnippetSearchStrong, theme);
}

Color Themeset::keyboardBackgroundColorForTheme(ThemeID theme)
{
    return color(KeyboardBackground, theme);
}
