#include "Themes/TextStorageColors.h"
#include "Themes/Themeset.h"

#include <gtest/gtest.h>

#include <QSet>
#include <QStringList>

namespace {

struct ColorRecorder : TextStorageColors {
    QStringList set; // "role=#colour" in the order received
    void setMainColor(const Color& c) override { set << "main=" + c.name(); }
    void setSymbolColor(const Color& c) override { set << "symbol=" + c.name(); }
    void setListColor(const Color& c) override { set << "list=" + c.name(); }
    void setCodeColor(const Color& c) override { set << "code=" + c.name(); }
    void setCriticAddColor(const Color& c) override { set << "add=" + c.name(); }
    void setCriticDeleteColor(const Color& c) override { set << "delete=" + c.name(); }
    void setCriticSubColor(const Color& c) override { set << "sub=" + c.name(); }
    void setCriticCommentColor(const Color& c) override { set << "comment=" + c.name(); }
    void setCriticHighlightColor(const Color& c) override { set << "highlight=" + c.name(); }
};

} // namespace

TEST(Themes, PickerOrderAndNames)
{
    const ThemeID expected[] = {0, 1, 4, 9, 18, 16, 2, 3};
    ASSERT_EQ(Themeset::numberOfThemes(), 8);
    for (int64_t i = 0; i < 8; ++i)
        EXPECT_EQ(Themeset::themeAtIndex(i), expected[i]) << i;
    EXPECT_EQ(Themeset::themeAtIndex(8), 0);
    EXPECT_EQ(Themeset::themeAtIndex(-1), 0);

    EXPECT_EQ(Themeset::resourceNameForTheme(18), QStringLiteral("nightcobalt"));
    EXPECT_EQ(Themeset::themeNameForTheme(9), QStringLiteral("Maroon"));
    for (ThemeID notATheme : {5, 17, 19, -1}) {
        EXPECT_TRUE(Themeset::resourceNameForTheme(notATheme).isNull()) << notATheme;
        EXPECT_EQ(Themeset::themeNameForTheme(notATheme), QStringLiteral("White"));
        EXPECT_EQ(Themeset::themeDescriptionForTheme(notATheme), Themeset::themeDescriptionForTheme(0));
        EXPECT_EQ(Themeset::themeStyleForTheme(notATheme), 0);
    }
    EXPECT_EQ(Themeset::themeStyleForTheme(9), ThemeStyleLight);
    EXPECT_EQ(Themeset::themeStyleForTheme(1), ThemeStyleSepia);
    EXPECT_EQ(Themeset::themeStyleForTheme(16), ThemeStyleDark);
    // Every theme has a description of its own.
    QSet<QString> descriptions;
    for (int64_t i = 0; i < 8; ++i)
        descriptions.insert(Themeset::themeDescriptionForTheme(Themeset::themeAtIndex(i)));
    EXPECT_EQ(descriptions.size(), 8);
}

TEST(Themes, UnknownIdsTakeThemeZerosColours)
{
    for (ThemeID id : {ThemeID(5), ThemeID(19), ThemeID(-1), INT64_MIN})
        EXPECT_EQ(Themeset::backgroundColorForTheme(id).name(), QStringLiteral("#fbfbfb")) << id;
    EXPECT_EQ(Themeset::menuColorForTheme(-7), Color::fromRGBA8(70, 70, 70, 219));
}

TEST(Themes, TintWithAlpha)
{
    const std::optional<Color> tint = Themeset::tintColorForTheme(18, 0.5);
    ASSERT_TRUE(tint.has_value());
    EXPECT_EQ(*tint, (Color{0x6c / 255.0, 0xa9 / 255.0, 0xcc / 255.0, 0.5}));
    EXPECT_FALSE(Themeset::tintColorForTheme(5, 0.5).has_value());
    EXPECT_FALSE(Themeset::tintColorForTheme(-1, 1).has_value());
    EXPECT_EQ(Themeset::tintColorForTheme(0).alpha, 1.0);
}

TEST(Themes, TextStorageTakesTheEditorColours)
{
    ColorRecorder storage;
    Themeset::textStorageSetTheme(storage, 16);
    EXPECT_EQ(storage.set, (QStringList{"main=#fdfff5", "symbol=#b0c46a", "list=#cee67c", "code=#b0c46a",
                                        "add=#83e164", "delete=#ee6979", "sub=#ff8600", "comment=#847e6d",
                                        "highlight=#bb75bb"}));
    Themeset::textStorageSetTheme(storage, 7);
    EXPECT_EQ(storage.set.size(), 9) << "an id that is not a theme changes nothing";
}

TEST(Themes, EveryColourMethod)
{
    struct Row {
        Color (*method)(ThemeID);
        ThemeID theme;
        const char* expected;
    };
    // One theme per method, spread over all eight; alphas included.
    const Row rows[] = {
        {Themeset::archiveButtonColorForTheme, 4, "#f2da7c"},
        {Themeset::toggleColorForTheme, 4, "#f7a869"},
        {Themeset::tintColorForTheme, 18, "#6ca9cc"},
        {Themeset::caretColorForTheme, 9, "#991f3f"},
        {Themeset::listColorForTheme, 2, "#bbbbbb"},
        {Themeset::textColorForTheme, 1, "#473719"},
        {Themeset::symbolColorForTheme, 3, "#999999"},
        {Themeset::codeColorForTheme, 9, "#6e5163"},
        {Themeset::backgroundColorForTheme, 16, "#323b13"},
        {Themeset::selectionBackgroundColorForTheme, 3, "#af3c43"},
        {Themeset::titleColorForTheme, 3, "#ffffff"},
        {Themeset::titleBackgroundColorForTheme, 16, "#20260ccc"},
        {Themeset::headerColorForTheme, 2, "#dddddd7f"},
        {Themeset::headerBackgroundColorForTheme, 18, "#121e26cc"},
        {Themeset::snippetColorForTheme, 0, "#464646db"},
        {Themeset::snippetTitleColorForTheme, 1, "#473719cc"},
        {Themeset::snippetSymbolColorForTheme, 18, "#f2faff7f"},
        {Themeset::menuBackgroundColorForTheme, 2, "#31363b"},
        {Themeset::conflictBackdropColorForTheme, 3, "#d4464b"},
        {Themeset::fieldBackgroundColorForTheme, 18, "#041117"},
        {Themeset::fieldColorForTheme, 9, "#000000"},
        {Themeset::menuStrongColorForTheme, 1, "#473719bb"},
        {Themeset::menuColorForTheme, 16, "#fdfff5bb"},
        {Themeset::trashTextColorForTheme, 2, "#dddddd"},
        {Themeset::trashButtonColorForTheme, 3, "#bf392c"},
        {Themeset::archiveTextColorForTheme, 4, "#111111"},
        {Themeset::inactiveTextColorForTheme, 2, "#bbbbbb"},
        {Themeset::inactiveButtonColorForTheme, 1, "#a0d2bc"},
        {Themeset::reviveTextColorForTheme, 16, "#fdfff5"},
        {Themeset::reviveButtonColorForTheme, 0, "#c05de1"},
        {Themeset::restoreTextColorForTheme, 2, "#dddddd"},
        {Themeset::restoreButtonColorForTheme, 16, "#6e8227"},
        {Themeset::highlightBackgroundColorForTheme, 18, "#092533"},
        {Themeset::firstResponderHighlightBackgroundColorForTheme, 9, "#e9d1da"},
        {Themeset::keyWindowHighlightBackgroundColorForTheme, 3, "#525252"},
        {Themeset::backWindowHighlightBackgroundColorForTheme, 1, "#eddfc5"},
        {Themeset::criticAddColorForTheme, 2, "#83e164"},
        {Themeset::criticDeleteColorForTheme, 3, "#ff1111"},
        {Themeset::criticSubColorForTheme, 18, "#ff8600"},
        {Themeset::criticCommentColorForTheme, 1, "#847e6d"},
        {Themeset::criticHighlightColorForTheme, 0, "#aa53a9"},
        {Themeset::suggestBarBackgroundColorForTheme, 16, "#1f2117"},
        {Themeset::suggestBarCollapsedColorForTheme, 18, "#3b3f42"},
        {Themeset::snippetSearchColorForTheme, 1, "#473719db"},
        {Themeset::snippetSearchStrongColorForTheme, 3, "#fe868a"},
        {Themeset::keyboardBackgroundColorForTheme, 9, "#a12d57"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.method(row.theme).name(), QLatin1String(row.expected)) << row.expected;
    EXPECT_EQ(Themeset::headerColorForTheme(0).alpha, 0xcc / 255.0);
}
