#include "text/FontFaces.h"
#include "text/HtmlImport.h"

#include <QTemporaryDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

// The attributes of the first character of `needle` in the imported page.
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
        {"body {line-height: 1.5em;}", "body {line-height: 150%;}"},
        {"p{line-height:2em}", "p{line-height: 200%}"},
        {"a {line-height: .95em;} b {line-height: 1.07em;}", "a {line-height: 95%;} b {line-height: 107%;}"},
        {"p {font-size: 1.5em; line-height: 120%}", "p {font-size: 1.5em; line-height: 120%}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HtmlImport::withPercentLineHeights(c.in).toStdString(), c.out);
}

TEST(HtmlImport, KeepsFontsColoursStrikesLinksAndLineHeights)
{
    const AttributedString text = HtmlImport::attributedStringWithHTML(
        "<html><head><style>body { font-family: \"Lato\"; font-size: 20px; line-height: 1.8em; }"
        "strong { font-family: \"Lato\"; }</style></head><body>"
        "<p>plain <strong>heavy</strong> <em>slant</em> <s>gone</s> <span style=\"color: #ff9900\">warm</span> "
        "<a href=\"brindlewick://hashtag/x\">link</a></p></body></html>");
    EXPECT_EQ(text.string(), "plain heavy slant gone warm link");

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
    EXPECT_EQ(attributesOf(text, "gone").strikethroughStyle, 1);
    EXPECT_EQ(attributesOf(text, "warm").foregroundColor, Color::fromRGBA8(0xff, 0x99, 0x00));
    EXPECT_EQ(attributesOf(text, "link").link, "brindlewick://hashtag/x");
}

TEST(HtmlImport, ParagraphsAndListItems)
{
    const AttributedString text = HtmlImport::attributedStringWithHTML(
        "<html><head><style>body { font-size: 20px; }</style></head><body><h1>Title</h1><p>a</p><ul><li>one</li><li>two</li></ul><ol><li>first</li></ol><p>end</p></body></html>");
    EXPECT_EQ(text.string(), "Title\na\n\u2022\tone\n\u2022\ttwo\n1.\tfirst\nend");
    EXPECT_GT(attributesOf(text, "Title").font->pointSize, attributesOf(text, "a").font->pointSize);
}

// A note's raw HTML reaches the rich-text layout: it must not read files or follow links.
TEST(HtmlImport, ClosedDocumentLoadsNothingThePageNames)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("red.css");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("p { color: #ff0000; }");
    file.close();

    HtmlImport::ClosedDocument document;
    document.setHtml(QStringLiteral("<p>safe<img src=\"%1\"></p>").arg(path));
    for (const int type : {QTextDocument::ImageResource, QTextDocument::StyleSheetResource})
        EXPECT_FALSE(document.resource(type, QUrl::fromLocalFile(path)).isValid()) << type;
    EXPECT_FALSE(document.resource(QTextDocument::ImageResource, QUrl("https://example.invalid/x.png")).isValid());
    EXPECT_EQ(document.pageCount(), 1);
}

TEST(FontFaces, QtFontsMapBackToTheirNames)
{
    const char* names[] = {"AvenirNext-Regular", "Avenir-Heavy",     "Avenir-HeavyOblique", "Menlo-Bold",
                           "Georgia-Italic",     "Courier-BoldOblique", "Cochin"};
    for (const char* name : names) {
        const Font font{name, 13};
        EXPECT_EQ(FontFaces::font(FontFaces::qfont(font)), font) << name;
        EXPECT_EQ(FontFaces::familyForPostScriptName(name), FontFaces::qfont(font).family()) << name;
    }
    QFont unknown(QStringLiteral("No Such Family Anywhere"));
    unknown.setPixelSize(11);
    unknown.setBold(true);
    EXPECT_EQ(FontFaces::font(unknown), Font::boldSystemFont(11));
}
