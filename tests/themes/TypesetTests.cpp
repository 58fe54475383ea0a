#include "Themes/Typeset.h"

#include <gtest/gtest.h>

#include <QList>

TEST(Themes, TypefaceSizesAreScaledByTheirFactors)
{
    EXPECT_EQ(Typeset::regularFontForTypeface(10, 20), (Font{"Cochin", 20 * 1.15, 0}));
    EXPECT_EQ(Typeset::regularFontForTypeface(6, 20).postScriptName, QStringLiteral("TimesNewRomanPSMT"));
    EXPECT_DOUBLE_EQ(Typeset::regularFontForTypeface(6, 20).pointSize, 21);
    EXPECT_EQ(Typeset::regularFontForTypeface(1, 17).postScriptName, QStringLiteral("Menlo-Regular"));
    EXPECT_DOUBLE_EQ(Typeset::regularFontForTypeface(1, 17).pointSize, 16.15);
    EXPECT_EQ(Typeset::symbolFontForTypeface(10, 20), Typeset::regularFontForTypeface(10, 20));
    EXPECT_EQ(Typeset::codeFontForTypeface(5, 20), (Font{"Menlo-Regular", 20 * 0.9, 0}));
    EXPECT_EQ(Typeset::boldItalicFontForTypeface(7, 28), (Font{"IowanOldStyle-BoldItalic", 28, 0}));
}

TEST(Themes, TheOwnCodeFontIsJustBelowPointNinetyTwo)
{
    const Font code = Typeset::codeFontForTypeface(0, 20);
    EXPECT_EQ(code.postScriptName, QStringLiteral("KT9VR-Menlo-Avenir"));
    EXPECT_EQ(code.pointSize, 20 * std::nextafter(0.92, 0.0));
    EXPECT_EQ(Typeset::symbolFontForTypeface(7, 16).pointSize, 16 * std::nextafter(0.92, 0.0));
    EXPECT_EQ(Typeset::codeFontNameForTypeface(0), QStringLiteral("Menlo-Regular"));
    EXPECT_EQ(Typeset::symbolFontNameForTypeface(7), QStringLiteral("Menlo-Regular"));
    EXPECT_EQ(Typeset::symbolFontNameForTypeface(4), QStringLiteral("Georgia"));
    EXPECT_EQ(Typeset::codeFontNameForTypeface(10), QStringLiteral("Courier"));
}

TEST(Themes, IdsThatAreNotTypefacesFallBack)
{
    for (TypefaceID id : {TypefaceID(3), TypefaceID(9), TypefaceID(11), TypefaceID(-1), INT64_MIN}) {
        EXPECT_TRUE(Typeset::localizedNameForTypeface(id).isNull()) << id;
        EXPECT_EQ(Typeset::regularFontForTypeface(id, 20), Font::systemFont(20));
        EXPECT_EQ(Typeset::codeFontForTypeface(id, 20), Font::systemFont(20));
        EXPECT_EQ(Typeset::italicFontForTypeface(id, 20), Font::boldSystemFont(20));
        EXPECT_EQ(Typeset::boldFontForTypeface(id, 17), Font::boldSystemFont(17));
        EXPECT_EQ(Typeset::regularFontNameForTypeface(id), QStringLiteral("AvenirNext-Regular"));
        EXPECT_EQ(Typeset::boldItalicFontNameForTypeface(id), QStringLiteral("Avenir-HeavyOblique"));
        EXPECT_EQ(Typeset::codeFontNameForTypeface(id), QStringLiteral("Menlo-Regular"));
        EXPECT_EQ(Typeset::lineHeightForTypeface(id, 20), 1.0);
    }
    EXPECT_EQ(Typeset::lineHeightForTypeface(2, 0), 1.8);
    EXPECT_EQ(Typeset::lineHeightForTypeface(10, 99), 1.4);
}

TEST(Themes, TypefaceMenu)
{
    const TypefaceID order[] = {0, 10, 2, 4, 8, 7, 1, 5, 6};
    ASSERT_EQ(Typeset::numberOfTypefaces(), 9);
    for (int64_t i = 0; i < 9; ++i) {
        EXPECT_EQ(Typeset::typefaceAtIndex(i), order[i]);
        EXPECT_FALSE(Typeset::localizedNameForTypeface(order[i]).isEmpty());
    }
    EXPECT_EQ(Typeset::typefaceAtIndex(9), 0);
    EXPECT_EQ(Typeset::typefaceAtIndex(-1), 0);
    EXPECT_EQ(Typeset::localizedNameForTypeface(6), QStringLiteral("Times New Roman"));
}

TEST(Themes, SizeMenuRunsFromSmallestToLargest)
{
    ASSERT_EQ(Typeset::numberOfSizePresets(), 7);
    QList<int64_t> sizes;
    for (int64_t i = 0; i < Typeset::numberOfSizePresets(); ++i)
        sizes << Typeset::fontSizeForSizePreset(Typeset::sizePresetAtIndex(i));
    EXPECT_EQ(sizes, (QList<int64_t>{16, 17, 18, 20, 22, 24, 28}));
    EXPECT_EQ(Typeset::sizePresetAtIndex(0), 3);
    EXPECT_EQ(Typeset::sizePresetAtIndex(7), 0);
    EXPECT_EQ(Typeset::sizePresetAtIndex(-1), 0);
    EXPECT_EQ(Typeset::fontSizeForSizePreset(0), 20);
    EXPECT_EQ(Typeset::fontSizeForSizePreset(7), 20);
    EXPECT_EQ(Typeset::fontSizeForSizePreset(-1), 20);
}
