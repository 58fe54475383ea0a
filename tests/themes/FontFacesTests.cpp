#include "Themes/Typeset.h"
#include "text/FontFaces.h"

#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QSet>

namespace {

struct Expected {
    const char* name;
    const char* family;
    int weight;
    bool italic;
};

// The installed face each name must land on.
const Expected Faces[] = {
    {"AvenirNext-Regular", "Lato", QFont::Normal, false},
    {"Avenir-Heavy", "Lato", QFont::ExtraBold, false},
    {"Avenir-Oblique", "Lato", QFont::Normal, true},
    {"Avenir-HeavyOblique", "Lato", QFont::ExtraBold, true},
    {"KT9VR-Menlo-Avenir", "DejaVu Sans Mono", QFont::Normal, false},
    {"KT9VR-Menlo-Iowan", "DejaVu Sans Mono", QFont::Normal, false},
    {"Menlo-Regular", "DejaVu Sans Mono", QFont::Normal, false},
    {"Menlo-Bold", "DejaVu Sans Mono", QFont::Bold, false},
    {"Menlo-Italic", "DejaVu Sans Mono", QFont::Normal, true},
    {"Menlo-BoldItalic", "DejaVu Sans Mono", QFont::Bold, true},
    {"Courier", "Nimbus Mono PS", QFont::Normal, false},
    {"Courier-Bold", "Nimbus Mono PS", QFont::Bold, false},
    {"Courier-Oblique", "Nimbus Mono PS", QFont::Normal, true},
    {"Courier-BoldOblique", "Nimbus Mono PS", QFont::Bold, true},
    {"Georgia", "Charis SIL", QFont::Normal, false},
    {"Georgia-Bold", "Charis SIL", QFont::Bold, false},
    {"Georgia-Italic", "Charis SIL", QFont::Normal, true},
    {"Georgia-BoldItalic", "Charis SIL", QFont::Bold, true},
    {"Palatino-Roman", "P052", QFont::Normal, false},
    {"Palatino-Bold", "P052", QFont::Bold, false},
    {"Palatino-Italic", "P052", QFont::Normal, true},
    {"Palatino-BoldItalic", "P052", QFont::Bold, true},
    {"TimesNewRomanPSMT", "Liberation Serif", QFont::Normal, false},
    {"TimesNewRomanPS-BoldMT", "Liberation Serif", QFont::Bold, false},
    {"TimesNewRomanPS-ItalicMT", "Liberation Serif", QFont::Normal, true},
    {"TimesNewRomanPS-BoldItalicMT", "Liberation Serif", QFont::Bold, true},
    {"IowanOldStyle-Roman", "Vollkorn", QFont::Normal, false},
    {"IowanOldStyle-Bold", "Vollkorn", QFont::Bold, false},
    {"IowanOldStyle-Italic", "Vollkorn", QFont::Normal, true},
    {"IowanOldStyle-BoldItalic", "Vollkorn", QFont::Bold, true},
    {"HelveticaNeue", "Nimbus Sans", QFont::Normal, false},
    {"HelveticaNeue-Bold", "Nimbus Sans", QFont::Bold, false},
    {"HelveticaNeue-Italic", "Nimbus Sans", QFont::Normal, true},
    {"HelveticaNeue-BoldItalic", "Nimbus Sans", QFont::Bold, true},
    {"Cochin", "Linux Libertine O", QFont::Normal, false},
    {"Cochin-Bold", "Linux Libertine O", QFont::Bold, false},
    {"Cochin-Italic", "Linux Libertine O", QFont::Normal, true},
    {"Cochin-BoldItalic", "Linux Libertine O", QFont::Bold, true},
};

// Every name the typeface tables hand out, fonts and export names alike.
QSet<QString> namesInTables()
{
    QSet<QString> names;
    for (TypefaceID id = 0; id <= 10; ++id) {
        if (Typeset::localizedNameForTypeface(id).isNull())
            continue;
        for (auto font : {Typeset::regularFontForTypeface, Typeset::boldFontForTypeface, Typeset::italicFontForTypeface,
                          Typeset::boldItalicFontForTypeface, Typeset::codeFontForTypeface,
                          Typeset::symbolFontForTypeface})
            names.insert(font(id, 20).postScriptName);
        for (auto name : {Typeset::regularFontNameForTypeface, Typeset::boldFontNameForTypeface,
                          Typeset::italicFontNameForTypeface, Typeset::boldItalicFontNameForTypeface,
                          Typeset::codeFontNameForTypeface, Typeset::symbolFontNameForTypeface})
            names.insert(name(id));
    }
    return names;
}

// Qt names a family that two foundries supply "Family [foundry]".
std::string withoutFoundry(const QString& family)
{
    const qsizetype bracket = family.indexOf(QLatin1String(" ["));
    return (bracket < 0 ? family : family.left(bracket)).toStdString();
}

} // namespace

TEST(Themes, EveryPostScriptNameResolvesToAnInstalledFace)
{
    QSet<QString> checked;
    for (const Expected& expected : Faces) {
        const QFont font = FontFaces::qfont({expected.name, 20, 0});
        const QFontInfo info(font);
        EXPECT_EQ(withoutFoundry(info.family()), expected.family) << expected.name;
        EXPECT_EQ(info.weight(), expected.weight) << expected.name;
        EXPECT_EQ(info.italic(), expected.italic) << expected.name;
        EXPECT_EQ(info.pixelSize(), 20) << expected.name << ": a point is a logical pixel";
        checked.insert(QLatin1String(expected.name));
    }
    EXPECT_EQ(namesInTables() - checked, QSet<QString>()) << "names without an expected face";
}

TEST(Themes, MissingFacesFallBackToRealFonts)
{
    const QString system = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    ASSERT_FALSE(system.isEmpty());
    for (const Font& font : {Font{"NoSuchFace-Regular", 14, 0}, Font::systemFont(14), Font{QString(), 14, 0}}) {
        const QFontInfo info(FontFaces::qfont(font));
        EXPECT_EQ(withoutFoundry(info.family()), withoutFoundry(QFontInfo(QFont(system)).family()))
            << font.postScriptName.toStdString();
        EXPECT_EQ(info.pixelSize(), 14);
    }
    EXPECT_EQ(QFontInfo(FontFaces::qfont(Font::boldSystemFont(14))).weight(), QFont::Bold);
}

TEST(Themes, LineHeightsAreTheSameMultipleInEveryFace)
{
    const Font lato{"AvenirNext-Regular", 20, 0};
    const Font charis{"Georgia", 20, 0};
    const double latoHeight = FontFaces::metrics().sizeOfString("L", lato).height();
    EXPECT_GT(latoHeight, 20);
    EXPECT_EQ(FontFaces::metrics().sizeOfString("L", charis).height(), latoHeight);
    EXPECT_EQ(FontFaces::metrics().sizeOfString("L", lato.withPointSize(40)).height(), 2 * latoHeight);
    // The faces' own line boxes differ by far more.
    const double latoBox = QFontMetricsF(FontFaces::qfont(lato)).height();
    const double charisBox = QFontMetricsF(FontFaces::qfont(charis)).height();
    EXPECT_GT(std::abs(latoBox - charisBox), 2.0);
}

TEST(Themes, WidthsComeFromTheFaceOrTheFixedAdvance)
{
    const Font mono{"Menlo-Regular", 20, 0};
    const double x = FontFaces::metrics().sizeOfString("x", mono).width();
    EXPECT_GT(x, 8);
    EXPECT_DOUBLE_EQ(FontFaces::metrics().sizeOfString("xxxx", mono).width(), 4 * x);
    const Font lato{"AvenirNext-Regular", 20, 0};
    EXPECT_LT(FontFaces::metrics().sizeOfString("i", lato).width(), FontFaces::metrics().sizeOfString("M", lato).width());
    const Font fixed = lato.withFixedAdvance(x);
    EXPECT_DOUBLE_EQ(FontFaces::metrics().sizeOfString("iM\U0001F600", fixed).width(), 3 * x);
}
