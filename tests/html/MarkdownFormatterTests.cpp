#include "Export/MarkdownFormatter.h"

#include "BundleInfo.h"
#include "Core.h"
#include "Themes/Themeset.h"
#include "text/FontFaces.h"

#include <QFile>
#include <QFontDatabase>
#include <QRegularExpression>

#include <gtest/gtest.h>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

struct Case {
    const char* name;
    QString input;
    QString expected;
};

// Sets the settings' typeface for one test and restores it.
class Typeface {
public:
    explicit Typeface(TypefaceID typeface) : saved_(Core::shared().typeFace()) { Core::shared().setTypeFace(typeface); }
    ~Typeface() { Core::shared().setTypeFace(saved_); }

private:
    TypefaceID saved_;
};

QString html(const QString& text)
{
    return MarkdownFormatter::htmlWithMarkdownText(text);
}

} // namespace

TEST(MarkdownFormatter, PrePassRewritesOnlyTheExtensions)
{
    const Case cases[] = {
        {"emphasis and strike", "**bold** and ~~gone~~",
         "<strong>bold</strong> and <span class=\"strike\"><span class=\"strike-text\">gone</span></span>"},
        {"italic and bold italic", "*a* _b_ ***c***", "<em>a</em> <em>b</em> <strong><em>c</em></strong>"},
        {"other bullet becomes *, the CommonMark ones stay", "\u2022 a\n* b\n+ c\n- d", "* a\n* b\n+ c\n- d"},
        {"typographic quotes in a tag", "<a href=\u201Chttp://x\u201D>x</a>", "<a href=\"http://x\">x</a>"},
        {"headings, code and links untouched", "# T\n\n`a*b*`\n\n[l](http://x)", "# T\n\n`a*b*`\n\n[l](http://x)"},
    };
    MarkdownFormatter formatter;
    for (const Case& c : cases)
        EXPECT_EQ(formatter.markdownForPrintingWithText(c.input), c.expected) << c.name;
}

TEST(MarkdownFormatter, FragmentGoldens)
{
    const Case cases[] = {
        {"strong hashtag", "#TODO", "<p><a href=\"brindlewick://hashtag/TODO\" class=\"hashtag tag strong\">#TODO</a></p>\n"},
        {"lower-case hashtag", "#todo", "<p><a href=\"brindlewick://hashtag/todo\" class=\"hashtag tag\">#todo</a></p>\n"},
        {"mixed-case hashtag", "#ToDo", "<p><a href=\"brindlewick://hashtag/ToDo\" class=\"hashtag tag\">#ToDo</a></p>\n"},
        {"digits are no tag", "#2015", "<p>#2015</p>\n"},
        {"mention", "@team", "<p><a href=\"brindlewick://mention/team\" class=\"mention tag\">@team</a></p>\n"},
        {"e-mail", "write to a_b@x.org", "<p>write to <a href=\"mailto:a_b@x.org\">a_b@x.org</a></p>\n"},
        {"underscores in an address", "a_b_c@x.org", "<p><a href=\"mailto:a_b_c@x.org\">a_b_c@x.org</a></p>\n"},
        {"URL", "see https://x.org/a?b=1", "<p>see <a href=\"https://x.org/a?b=1\">https://x.org/a?b=1</a></p>\n"},
        {"URL text is not emphasis", "http://x/__init__", "<p><a href=\"http://x/__init__\">http://x/__init__</a></p>\n"},
        {"text after NUL is dropped", QStringLiteral("a\n%1**b**").arg(QChar(0)), "<p>a</p>\n"},
        {"lone surrogate", QStringLiteral("x%1y").arg(QChar(0xD800)), "<p>x\uFFFDy</p>\n"},
        {"raw HTML passes", "<script>alert(1)</script>", "<script>alert(1)</script>\n"},
        {"empty note", "", ""},
        // Four blanks before the box become five, which is indented code: a known limit.
        {"deep check box is code", "-    [ ] x",
         "<ul>\n<li>\n<pre><code>&lt;span class=&quot;checkbox uncompleted&quot;&gt;&amp;#x2610;&lt;/span&gt;  x\n"
         "</code></pre>\n</li>\n</ul>\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(html(c.input), c.expected) << c.name;
}

TEST(MarkdownFormatter, TaskItemsOnlyInTightLists)
{
    const QString tight = html("- [ ] buy milk\n- [x] call\n");
    EXPECT_TRUE(tight.contains("<li class=\"task\"><span class=\"checkbox uncompleted\">\u2610</span>")) << tight.toStdString();
    EXPECT_TRUE(tight.contains("<li class=\"task\"><span class=\"checkbox completed\">\u2612</span>")) << tight.toStdString();

    const QString loose = html("- [ ] buy milk\n\n- [x] call\n");
    EXPECT_TRUE(loose.contains("<li>\n<p><span class=\"checkbox uncompleted\">")) << loose.toStdString();
    EXPECT_FALSE(loose.contains("task")) << loose.toStdString();
}

TEST(MarkdownFormatter, HugeAndDeepNotesFinish)
{
    const QString line = QStringLiteral("word **b** #tag http://x/y ").repeated(40 * 1024);
    EXPECT_GT(html(line).size(), line.size());

    const QString deep = QStringLiteral("> ").repeated(10000) + QStringLiteral("x");
    EXPECT_TRUE(html(deep).contains("<p>x</p>"));
}

TEST(MarkdownFormatter, FontSizeForSizePreset)
{
    const struct {
        SizePreset preset;
        int64_t offset;
        double size;
    } cases[] = {{0, 0, 16}, {3, 0, 12}, {3, -3, 9}, {3, -4, 8}, {0, -30, 8}, {6, 2, 26}, {42, 0, 16}};
    for (const auto& c : cases)
        EXPECT_EQ(MarkdownFormatter::fontSizeForSizePreset(c.preset, c.offset), c.size) << c.preset << " " << c.offset;
}

TEST(MarkdownFormatter, ColorToHex)
{
    EXPECT_EQ(MarkdownFormatter::colorToHex(Color{1, 0.6, 0}), "#ff9900");
    EXPECT_EQ(MarkdownFormatter::colorToHex(Color{0.5, 0.25, 1, 0.1}), "#8040ff");
    EXPECT_EQ(MarkdownFormatter::colorToHex(Color{1.5, -0.2, 0}), "#ff0000");
    EXPECT_TRUE(MarkdownFormatter::colorToHex(std::nullopt).isNull());
}

TEST(MarkdownFormatter, PrintingPageFollowsTheTypefaceWithInstalledFamilies)
{
    const struct {
        TypefaceID typeface;
        const char* body;
        const char* code;
    } cases[] = {{0, "1.5em", "1.5em"}, {1, "1.8em", "1.7em"}, {2, "2.0em", "1.9em"}};
    const QRegularExpression rules(
        R"re(body \{line-height: ([0-9.]+em);font-family: "([^"]+)";.*code \{font-family: "([^"]+)";line-height: ([0-9.]+em);)re");
    for (const auto& c : cases) {
        Typeface typeface(c.typeface);
        const QRegularExpressionMatch match = rules.match(MarkdownFormatter::htmlForPrintingWithMarkdownText("x"));
        ASSERT_TRUE(match.hasMatch()) << c.typeface;
        EXPECT_EQ(match.captured(1), c.body) << c.typeface;
        EXPECT_EQ(match.captured(4), c.code) << c.typeface;
        for (const int family : {2, 3})
            EXPECT_TRUE(QFontDatabase::hasFamily(match.captured(family))) << match.captured(family).toStdString();
    }
}

TEST(MarkdownFormatter, PrintingPageFrame)
{
    const QString page = MarkdownFormatter::htmlForPrintingWithMarkdownText("");
    EXPECT_TRUE(page.startsWith(QStringLiteral("<html><head><meta charset=\"UTF-8\"><meta name=\"generator\" "
                                               "content=\"Brindlewick %1 (%2)\">")
                                    .arg(BundleInfo::shortVersion(), BundleInfo::buildNumber())));
    EXPECT_FALSE(BundleInfo::shortVersion().isEmpty());
    EXPECT_TRUE(page.contains("li.task")) << "the print style sheet is missing";
    EXPECT_TRUE(page.endsWith("</style></head><body></body></html>"));

    // Built on the file queue by the export and print commands: the same page as on the main thread.
    QString onFileQueue;
    Core::shared().fileQueue()->sync([&] { onFileQueue = MarkdownFormatter::htmlForPrintingWithMarkdownText(""); });
    EXPECT_EQ(onFileQueue, page);
}

TEST(MarkdownFormatter, AttributedStringIsStyledByThePage)
{
    Typeface typeface(0);
    const AttributedString text = MarkdownFormatter::attributedStringWithMarkdownText("**b** c");
    ASSERT_EQ(text.string(), "b c");
    const TextAttributes& bold = text.attributesAtIndex(0);
    ASSERT_TRUE(bold.font && bold.paragraphStyle);
    EXPECT_EQ(*bold.font, (Font{Typeset::boldFontNameForTypeface(0), 16}));
    EXPECT_DOUBLE_EQ(bold.paragraphStyle->lineHeightMultiple, 1.5);
    EXPECT_EQ(text.attributesAtIndex(2).font->postScriptName, Typeset::regularFontNameForTypeface(0));
}

TEST(MarkdownFormatter, ViewingPageGolden)
{
    Typeface typeface(0);
    Core::shared().setColorTheme(0);
    Core::shared().setTypeSize(0);
    Core::shared().setTypeSizeOffset(0);
    QFile styleSheet(QStringLiteral(":/print.css"));
    ASSERT_TRUE(styleSheet.open(QIODevice::ReadOnly));
    const QString note = QStringLiteral("# Title\nSome **bold** text\n- [ ] task");
    const QString expected =
        QStringLiteral("<html><head><meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                       "<meta charset=\"UTF-8\"><meta name=\"generator\" content=\"Brindlewick %1 (%2)\">"
                       "<style type=\"text/css\">body {font-family: \"Lato\";}"
                       "code {font-family: \"DejaVu Sans Mono\";line-height: 1.5em;}%3"
                       "html,body {background: #fbfbfb;color: #464646;}"
                       "ul > li .checkbox {background: #fbfbfb; margin-top: -.15em;}"
                       "hr { border-color: #95a5a6 }"
                       "blockquote cite,blockquote p,h1,h2,h3,h4,h5,h6 {color: #464646;}"
                       "body {font-size: 16px;}"
                       ".tag, a {color: #12b0cc}.strike, .strike-text { color: #95a5a6 }"
                       "</style></head><body>"
                       "<h1>Titl<b id=\"kt9vrstart\"></b>e</h1>\n<p>Some <strong>bold</strong> text</p>\n"
                       "<ul>\n<li class=\"task\"><span class=\"checkbox uncompleted\">\u2610</span>  task</li>\n</ul>\n"
                       "<script>window.scrollTo(0, document.getElementById('kt9vrstart').getBoundingClientRect().top);</script>"
                       "</body></html>")
            .arg(BundleInfo::shortVersion(), BundleInfo::buildNumber(), QString::fromUtf8(styleSheet.readAll()));
    EXPECT_EQ(MarkdownFormatter::htmlForViewingWithMarkdownText(note, 12).toStdString(), expected.toStdString());
}

TEST(MarkdownFormatter, ViewingPageCaretMarker)
{
    const QString marker = QStringLiteral("<b id=\"kt9vrstart\"></b>");
    const QString note = QStringLiteral("first line\nsecond line here\nthird");
    const struct {
        const char* name;
        QString text;
        int64_t caret;
        QString body; // the fragment with the marker, or empty for none
    } cases[] = {
        {"no caret", note, -1, {}},
        {"caret at the start", note, 0, {}},
        {"not found", note, InlineNotFound, {}},
        {"line feed within 5 before: one before it", note, 14, "<p>first lin" + marker + "e\nsecond line here\nthird</p>\n"},
        {"line feed within 5 after", note, 7, "<p>first lin" + marker + "e\nsecond line here\nthird</p>\n"},
        {"no line feed near: at the caret", note, 20, "<p>first line\nsecond li" + marker + "ne here\nthird</p>\n"},
        {"line feed first: at the start", QStringLiteral("\nabcdefgh"), 3, "<p>" + marker + "\nabcdefgh</p>\n"},
        {"past the end: at the end", note, 999, "<p>first line\nsecond line here\nthird" + marker + "</p>\n"},
        {"earlier zero-width spaces are dropped", QStringLiteral("ab\u200Bcdefghij"), 4, "<p>abcd" + marker + "efghij</p>\n"},
    };
    const QString script = QStringLiteral("<script>window.scrollTo(0, document.getElementById('kt9vrstart')"
                                          ".getBoundingClientRect().top);</script>");
    for (const auto& c : cases) {
        const QString page = MarkdownFormatter::htmlForViewingWithMarkdownText(c.text, c.caret);
        const QString body = page.section(QStringLiteral("<body>"), 1).chopped(int(QStringLiteral("</body></html>").size()));
        if (c.body.isEmpty())
            EXPECT_EQ(body.toStdString(), html(c.text).toStdString()) << c.name;
        else
            EXPECT_EQ(body.toStdString(), (c.body + script).toStdString()) << c.name;
    }
}

TEST(MarkdownFormatter, ViewingPageFollowsThemeAndTypeface)
{
    const struct {
        TypefaceID typeface;
        const char* theme;
        const char* checkboxMargin;
    } cases[] = {{0, "night", "margin-top: -.15em;"}, {1, "sepia", "margin-top: -.4em;"}, {2, "whiterose", "margin-top: -.15em;"}};
    for (const auto& c : cases) {
        Typeface typeface(c.typeface);
        ThemeID theme = 0;
        for (int64_t i = 0; i < Themeset::numberOfThemes(); ++i) {
            if (Themeset::resourceNameForTheme(Themeset::themeAtIndex(i)) == QLatin1String(c.theme))
                theme = Themeset::themeAtIndex(i);
        }
        Core::shared().setColorTheme(theme);
        const QString page = MarkdownFormatter::htmlForViewingWithMarkdownText("x", 1);
        const QString background = MarkdownFormatter::colorToHex(Themeset::backgroundColorForTheme(theme));
        EXPECT_TRUE(page.contains("html,body {background: " + background + ";color: " +
                                  MarkdownFormatter::colorToHex(Themeset::textColorForTheme(theme)) + ";}"))
            << c.theme;
        EXPECT_TRUE(page.contains("ul > li .checkbox {background: " + background + "; " + c.checkboxMargin + "}")) << c.theme;
        EXPECT_TRUE(page.contains(".tag, a {color: " + MarkdownFormatter::colorToHex(Themeset::listColorForTheme(theme)) + "}"))
            << c.theme;
    }
    Core::shared().setColorTheme(0);
}

TEST(MarkdownFormatter, PlainTextDropsMarkup)
{
    const Case cases[] = {
        {"headings and rules", "# Title #\n\n---\nafter", "Title \n\n\nafter"},
        {"emphasis and strike", "**bold** _it_ ~~gone~~", "bold it gone"},
        {"quotes and nested lists lose markers and indent", "> quoted\n  - item\n    1. first", "quoted\nitem\nfirst"},
        {"check boxes", "- [ ] open\n- [x] done", "open\ndone"},
        {"links and images go whole", "see [here](http://x) and ![pic](a.png) <b>b</b>", "see  and  b"},
        {"autolink keeps its address", "<http://x.org/a>", "http://x.org/a"},
        {"tags, mentions, code and bare addresses stay", "#tag @you `a*b*` me@x.org", "#tag @you `a*b*` me@x.org"},
        {"tabs and blanks before a line", "\t  indented\nkeeps  inner  blanks", "indented\nkeeps  inner  blanks"},
        {"empty", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MarkdownFormatter::plainTextWithMarkdownText(c.input).toStdString(), c.expected.toStdString()) << c.name;
}
