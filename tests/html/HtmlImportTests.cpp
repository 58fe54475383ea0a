#include "TestSupport.h"
#include "text/FontFaces.h"
#include "text/HtmlImport.h"

#include <gtest/gtest.h>

namespace {

// The attributes of the first character of `needle` in the imported text.
TextAttributes attributesOf(const AttributedString& text, const QString& needle)
{
    const qsizetype at = text.string().indexOf(needle);
    EXPECT_GE(at, 0) << needle.toStdString() << " not in " << text.string().toStdString();
    return at < 0 ? TextAttributes() : text.attributesAtIndex(at);
}

} // namespace

TEST(HtmlImport, EmLineHeightsBecomePercentages)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"p{line-height:2em}", "p{line-height: 200%}"},
        {"a {line-height: .95em;} b {line-height: 1.07em;}", "a {line-height: 95%;} b {line-height: 107%;}"},
        {"p {font-size: 1.5em; line-height: 120%}", "p {font-size: 1.5em; line-height: 120%}"},
        {"<style>p{line-height:2em}</style><BODY>line-height: 2em", "<style>p{line-height: 200%}</style><BODY>line-height: 2em"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HtmlImport::withPercentLineHeights(c.in).toStdString(), c.out);
}

TEST(HtmlImport, KeepsFontsColoursStrikesLinksLineHeightsAndParagraphs)
{
    const AttributedString text = HtmlImport::attributedStringWithHTML(
        "<html><head><style>body { font-family: \"Lato\"; font-size: 20px; line-height: 1.8em; }"
        "strong { font-family: \"Lato\"; }</style></head><body><h1>Title</h1>"
        "<p>plain <strong>heavy</strong> <em>slant</em> <s>gone</s> <span style=\"color: #ff9900\">warm</span> "
        "<a href=\"brindlewick://hashtag/x\">link</a></p><ul><li>one</li></ul><ol><li>first</li></ol></body></html>");
    EXPECT_EQ(text.string(), "Title\nplain heavy slant gone warm link\n\u2022\tone\n1.\tfirst");

    const struct {
        const char* word;
        const char* font;
    } fonts[] = {{"plain", "AvenirNext-Regular"}, {"heavy", "Avenir-Heavy"}, {"slant", "Avenir-Oblique"}};
    for (const auto& f : fonts) {
        const TextAttributes a = attributesOf(text, f.word);
        ASSERT_TRUE(a.font && a.paragraphStyle) << f.word;
        EXPECT_EQ(a.font->postScriptName, f.font) << f.word;
        EXPECT_EQ(a.font->pointSize, 20) << f.word;
        EXPECT_DOUBLE_EQ(a.paragraphStyle->lineHeightMultiple, 1.8) << f.word;
        EXPECT_FALSE(a.link || a.strikethroughStyle) << f.word;
    }
    EXPECT_GT(attributesOf(text, "Title").font->pointSize, 20);
    EXPECT_EQ(attributesOf(text, "gone").strikethroughStyle, 1);
    EXPECT_EQ(attributesOf(text, "warm").foregroundColor, Color::fromRGBA8(0xff, 0x99, 0x00));
    EXPECT_EQ(attributesOf(text, "link").link, "brindlewick://hashtag/x");
}

// A note's raw HTML reaches the rich-text layout: it must not read files or follow links.
TEST(HtmlImport, ClosedDocumentLoadsNothingThePageNames)
{
    const QString path = TestSupport::home() + "/red.css";
    TestSupport::writeFile(path, "p { color: #ff0000; }");
    HtmlImport::ClosedDocument document;
    document.setHtml(QStringLiteral("<p>safe<img src=\"%1\"></p>").arg(path));
    for (const int type : {QTextDocument::ImageResource, QTextDocument::StyleSheetResource})
        EXPECT_FALSE(document.resource(type, QUrl::fromLocalFile(path)).isValid()) << type;
    EXPECT_FALSE(document.resource(QTextDocument::ImageResource, QUrl("https://example.invalid/x.png")).isValid());
}

TEST(FontFaces, QtFontsMapBackToTheirNames)
{
    for (const char* name : {"AvenirNext-Regular", "Avenir-HeavyOblique", "Menlo-Bold", "Georgia-Italic", "Cochin"}) {
        const Font font{name, 13};
        EXPECT_EQ(FontFaces::font(FontFaces::qfont(font)), font) << name;
        EXPECT_EQ(FontFaces::familyForPostScriptName(name), FontFaces::qfont(font).family()) << name;
    }
    QFont unknown(QStringLiteral("No Such Family Anywhere"));
    unknown.setPixelSize(11);
    unknown.setBold(true);
    EXPECT_EQ(FontFaces::font(unknown), Font::boldSystemFont(11));
}
