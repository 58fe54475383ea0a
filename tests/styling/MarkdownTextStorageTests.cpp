#include "Styling/MarkdownTextStorage.h"
#include "Themes/Themeset.h"

#include "LongNote.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTest>

#include <functional>
#include <memory>
#include <ostream>

void PrintTo(const TextRange& range, std::ostream* out)
{
    *out << "{" << range.location << ", " << range.length << "}";
}

void PrintTo(const Font& font, std::ostream* out)
{
    *out << qPrintable(font.postScriptName) << " " << font.pointSize << "/" << font.fixedAdvance;
}

namespace {

// Measures without a display: every character is half an em wide (a tab two em, a space a quarter),
// and a line is as high as a per-face factor of the size, so the tallest face can be told apart.
struct FakeMetrics : TextMetrics {
    QSizeF sizeOfString(const QString& text, const Font& font) const override
    {
        double width = 0;
        for (QChar c : text)
            width += font.pointSize * (c == u'\t' ? 2.0 : c == u' ' ? 0.25 : 0.5);
        const double factor = font.postScriptName == "Bold" ? 1.5 : 1.2;
        return {width, font.pointSize * factor};
    }
};

const Color Main = Color::fromHex(0x111111ff);
const Color Symbol = Color::fromHex(0x999999ff);
const Color List = Color::fromHex(0x0000ccff);
const Color Code = Color::fromHex(0xcc0000ff);

// Records the range each editing pass reports: the edit and every line the restyle touched.
struct PassRecorder : TextStorageObserver {
    TextRange last{-1, -1};
    void textStorageDidProcessEditing(TextStorage&, int, TextRange range, qsizetype) override { last = range; }
};

// Gives a storage the tests' faces, line height and colours, and measures them.
void configure(MarkdownTextStorage& storage)
{
    storage.setMainFont(Font{"Main", 20});
    storage.setBoldFont(Font{"Bold", 20});
    storage.setItalicFont(Font{"Italic", 20});
    storage.setBoldItalicFont(Font{"BoldItalic", 20});
    storage.setCodeFont(Font{"Code", 18});
    storage.setSmallCapFont(Font{"Main", 19});
    storage.setSymbolFont(Font{"Symbol", 16});
    storage.setLineHeight(1.26);
    storage.setMainColor(Main);
    storage.setSymbolColor(Symbol);
    storage.setListColor(List);
    storage.setCodeColor(Code);
    storage.reloadAttributes();
}

class Styling : public ::testing::Test {
protected:
    void SetUp() override
    {
        configure(storage);
        storage.addObserver(&recorder);
    }

    void setText(const QString& text) { storage.replaceCharacters({0, storage.length()}, text); }
    const TextAttributes& at(qsizetype index) const { return storage.attributesAtIndex(index); }
    qsizetype indexOf(const QString& what, qsizetype from = 0) const { return storage.string().indexOf(what, from); }
    // The range over which the attributes of the keys stay as they are at the index.
    TextRange runAt(qsizetype index, TextAttributes::Keys keys) const
    {
        return storage.attributedString().longestEffectiveRange(keys, index, {0, storage.length()});
    }
    Font fixedSymbol() const { return *storage.fixedSymbolFont(); }
    FakeMetrics metrics;
    MarkdownTextStorage storage{metrics};
    PassRecorder recorder;
};

} // namespace

TEST_F(Styling, ReloadAttributesMeasuresTheFonts)
{
    // The symbol font's "x" is 8 points wide; every symbol advances by that much.
    EXPECT_EQ(fixedSymbol(), (Font{"Symbol", 16, 8}));
    // The tallest face is the bold one: 30 points, times max(1.26 × 0.8, 1) = 30.24, rounded up.
    const ParagraphStyle& style = *storage.defaultParagraphStyle();
    EXPECT_EQ(style.minimumLineHeight, 31);
    EXPECT_EQ(style.maximumLineHeight, 31);
    EXPECT_EQ(style.lineHeightMultiple, 1.26);
    EXPECT_EQ(style.headIndent, 0);

    // Below a multiple of 1.25 the factor is 1: the line is exactly as high as the tallest face.
    storage.setLineHeight(1.0);
    storage.setBoldFont(Font{"Bold", 18});
    storage.reloadAttributes();
    EXPECT_EQ(storage.defaultParagraphStyle()->minimumLineHeight, 27);

    // A fresh storage has no paragraph style until it is measured, and text gets none.
    MarkdownTextStorage fresh(metrics);
    fresh.replaceCharacters({0, 0}, "plain\n- item");
    EXPECT_FALSE(fresh.defaultParagraphStyle());
    EXPECT_TRUE(fresh.attributesAtIndex(0).isEmpty());
    EXPECT_TRUE(fresh.attributesAtIndex(8).isEmpty());
}

TEST_F(Styling, HangingIndentFollowsThePrefix)
{
    setText("plain\n- [ ] task\n> quoted");
    const ParagraphStyle plain = *at(0).paragraphStyle;
    EXPECT_EQ(plain, *storage.defaultParagraphStyle());
    // Bullet and box mark are other characters (8 each), the blanks after them spaces (5 each), the
    // brackets bracket widths (10 each).
    const ParagraphStyle item = *at(indexOf("task")).paragraphStyle;
    EXPECT_EQ(item.headIndent, 2 * 8 + 2 * 5 + 2 * 10);
    EXPECT_EQ(item.firstLineHeadIndent, 0);
    EXPECT_EQ(item.minimumLineHeight, plain.minimumLineHeight);
    EXPECT_GT(at(indexOf("quoted")).paragraphStyle->headIndent, 0);
    // The style covers the whole line, terminator included.
    EXPECT_EQ(*at(indexOf("\n", 7)).paragraphStyle, item);
}

TEST_F(Styling, RestyleCoversTheEditedLinesOnly)
{
    // A main font set without a restyle shows which lines the next edit restyled.
    int round = 0;
    const auto edit = [&](TextRange range, const QString& text) {
        storage.setMainFont(Font{QStringLiteral("Round%1").arg(++round), 20});
        storage.replaceCharacters(range, text);
        QList<int> restyled;
        const QStringList lines = storage.string().split(u'\n');
        qsizetype start = 0;
        for (int i = 0; i < lines.size(); ++i) {
            if (!lines[i].isEmpty() && at(start).font == storage.mainFont())
                restyled << i;
            start += lines[i].size() + 1;
        }
        return restyled;
    };
    setText("first line\nsecond line is long\nthird\n");

    // Typing in the middle of a line restyles that line.
    EXPECT_EQ(edit({18, 0}, "x"), QList<int>{1});
    EXPECT_EQ(edit({18, 1}, ""), QList<int>{1});
    // Within 2 units of a line feed the neighbouring line comes too.
    EXPECT_EQ(edit({10, 0}, "x"), (QList<int>{0, 1}));
    EXPECT_EQ(edit({10, 1}, ""), (QList<int>{0, 1}));
    EXPECT_EQ(edit({12, 0}, "x"), (QList<int>{0, 1}));
    EXPECT_EQ(edit({12, 1}, ""), (QList<int>{0, 1}));
    // At either end of the text the range stops at the text.
    EXPECT_EQ(edit({0, 0}, "x"), QList<int>{0});
    EXPECT_EQ(edit({0, 1}, ""), QList<int>{0});
    EXPECT_EQ(edit({storage.length(), 0}, "end"), (QList<int>{2, 3}));

    // Deleting everything leaves no line to restyle.
    setText("");
    EXPECT_EQ(recorder.last, (TextRange{0, 0}));
    EXPECT_EQ(storage.string(), QString());
}

TEST_F(Styling, AnUnchangedLineIsNotRewritten)
{
    setText("plain words\n**bold** and #tag\n");
    // Typing plain text into plain text changes no attribute: the pass reports the new unit only.
    storage.replaceCharacters({5, 0}, "y");
    EXPECT_EQ(recorder.last, (TextRange{5, 1}));
    // So does typing into a line longer than is styled at once.
    setText(QStringLiteral("word ").repeated(MarkdownTextStorage::StyledAtOnce / 4));
    storage.replaceCharacters({7, 0}, "y");
    EXPECT_EQ(recorder.last, (TextRange{7, 1}));
    // Making the line a heading changes the attributes of all its text, and the pass says so.
    setText("Title words\n");
    storage.replaceCharacters({0, 0}, "# ");
    EXPECT_EQ(at(2).font, storage.boldFont());
    EXPECT_EQ(recorder.last.location, 0);
    EXPECT_GE(recorder.last.end(), 13);
}

TEST_F(Styling, AttributeEditOverEverythingRestylesEveryLine)
{
    setText("# Head\nplain\n**bold**\n");
    TextAttributes plain;
    plain.font = Font{"Other", 12};
    storage.setAttributes(plain, {0, storage.length()});
    EXPECT_EQ(recorder.last, (TextRange{0, storage.length()}));
    EXPECT_EQ(at(indexOf("Head")).font, storage.boldFont());
    EXPECT_EQ(at(indexOf("plain")).font, storage.mainFont());
    EXPECT_EQ(at(indexOf("plain")).foregroundColor, Main);
    EXPECT_EQ(at(indexOf("bold")).font, storage.boldFont());
    EXPECT_EQ(at(indexOf("**")).font, fixedSymbol());
    EXPECT_TRUE(at(0).paragraphStyle);
}

TEST_F(Styling, ElementsTakeTheirFontsAndColours)
{
    setText("# Title ##\n"
            "a *it* and ~~gone~~ `code` &amp;\n"
            "1. first <b>\n"
            "see <http://a.b/c> and x@y.org\n"
            "[link](u) https://e.com/p\n");
    const qsizetype title = indexOf("Title");
    EXPECT_EQ(at(0).font, fixedSymbol());
    EXPECT_EQ(at(0).foregroundColor, Symbol);
    EXPECT_EQ(runAt(title, TextAttributes::FontKey), (TextRange{title, 5}));
    EXPECT_EQ(at(title).font, storage.boldFont());
    EXPECT_EQ(at(indexOf("##")).foregroundColor, Symbol);

    EXPECT_EQ(at(indexOf("*it") + 1).font, storage.italicFont());
    EXPECT_EQ(at(indexOf("*it")).foregroundColor, Main);
    EXPECT_EQ(at(indexOf("gone")).foregroundColor, Symbol);
    EXPECT_EQ(at(indexOf("gone")).strikethroughStyle, 1);
    EXPECT_FALSE(at(indexOf(" and ~")).strikethroughStyle);
    EXPECT_EQ(at(indexOf("code")).font, storage.codeFont());
    EXPECT_EQ(at(indexOf("code")).foregroundColor, Code);
    EXPECT_EQ(at(indexOf("`")).font, fixedSymbol());
    EXPECT_EQ(at(indexOf("&amp;")).foregroundColor, Symbol);

    const qsizetype number = indexOf("1.");
    EXPECT_EQ(at(number).foregroundColor, List);
    EXPECT_EQ(at(number).font, storage.codeFont());
    EXPECT_EQ(at(number + 1).foregroundColor, Symbol);
    EXPECT_EQ(at(indexOf("<b>")).foregroundColor, Code);

    const qsizetype autolink = indexOf("http://");
    EXPECT_EQ(at(autolink - 1).foregroundColor, Symbol);
    EXPECT_EQ(at(autolink).link, QStringLiteral("http://a.b/c"));
    EXPECT_EQ(at(autolink).underlineStyle, 1);
    EXPECT_EQ(runAt(autolink, TextAttributes::LinkKey), (TextRange{autolink, 12}));
    EXPECT_EQ(at(indexOf("x@y")).link, QStringLiteral("mailto:x@y.org"));
    EXPECT_EQ(at(indexOf("x@y")).foregroundColor, List);

    EXPECT_EQ(at(indexOf("[link")).foregroundColor, Code);
    EXPECT_FALSE(at(indexOf("[link")).link);
    EXPECT_EQ(at(indexOf("https")).link, QStringLiteral("https://e.com/p"));
    // Plain text between elements keeps the base style, with nothing left over from before.
    EXPECT_EQ(at(indexOf(" and x")).font, storage.mainFont());
    EXPECT_FALSE(at(indexOf(" and x")).link);
}

TEST_F(Styling, LiteralAsteriskIsDimmedOnlyOutsideEmphasis)
{
    setText("a * b\n**a * b**\n");
    const qsizetype plain = indexOf("*");
    EXPECT_EQ(at(plain).foregroundColor, Symbol);
    EXPECT_EQ(at(plain).font, fixedSymbol());
    const qsizetype inBold = indexOf(" * ", plain + 1) + 1;
    EXPECT_EQ(at(inBold).foregroundColor, Main);
    EXPECT_EQ(at(inBold).font, fixedSymbol());
    EXPECT_EQ(at(inBold + 2).font, storage.boldFont());
}

TEST_F(Styling, CheckboxLinkCoversTheBox)
{
    setText("- [ ] task\n- [x] done\n");
    const qsizetype open = indexOf("[ ]");
    EXPECT_EQ(runAt(open, TextAttributes::LinkKey), (TextRange{open, 3}));
    EXPECT_EQ(runAt(open, TextAttributes::ToolTipKey), (TextRange{open, 3}));
    EXPECT_EQ(at(open).link, QStringLiteral("brindlewick://todo"));
    EXPECT_EQ(at(open + 1).toolTip, QStringLiteral("Tap to completed"));
    EXPECT_EQ(at(0).foregroundColor, List);
    EXPECT_EQ(at(0).font, fixedSymbol());
    EXPECT_EQ(at(open).foregroundColor, List);
    EXPECT_EQ(at(open + 1).foregroundColor, Main);
    EXPECT_EQ(at(open + 1).font, fixedSymbol());
    EXPECT_FALSE(at(indexOf("task")).link);

    const qsizetype done = indexOf("[x]");
    EXPECT_EQ(at(done + 1).foregroundColor, List);
    EXPECT_EQ(at(done + 1).toolTip, QStringLiteral("Tap to uncompleted"));
    EXPECT_EQ(runAt(done, TextAttributes::LinkKey), (TextRange{done, 3}));
}

TEST_F(Styling, StrongTagsReadAsSmallCapitals)
{
    // A tag of digits alone has no case, so it is never strong.
    for (const char* strong : {"#TODO", "#AB", "#A1"})
        EXPECT_TRUE(MarkdownTextStorage::isStrongTag(strong)) << strong;
    for (const char* weak : {"#todo", "#Todo", "#123"})
        EXPECT_FALSE(MarkdownTextStorage::isStrongTag(weak)) << weak;

    const Font main = *storage.mainFont();
    const Font small = MarkdownTextStorage::smallCapFontWithFont(main);
    EXPECT_EQ(small.postScriptName, main.postScriptName);
    EXPECT_EQ(small.pointSize, 20 * double(0.9f));

    setText("#TODO #Todo #AB #A #123 #A1 @BOB #\U0001D400BC\n");
    const auto fontsOf = [&](const QString& tag) {
        const qsizetype at = indexOf(tag);
        QList<Font> fonts;
        for (qsizetype i = at; i < at + tag.size(); ++i)
            fonts << *this->at(i).font;
        return fonts;
    };
    EXPECT_EQ(fontsOf("#TODO"), (QList<Font>{main, main, small, small, small}));
    EXPECT_EQ(fontsOf("#Todo"), QList<Font>(5, main));
    EXPECT_EQ(fontsOf("#AB"), (QList<Font>{main, main, small}));
    EXPECT_EQ(fontsOf("#A "), QList<Font>(3, main));
    EXPECT_EQ(fontsOf("#123"), QList<Font>(4, main));
    EXPECT_EQ(fontsOf("#A1"), (QList<Font>{main, main, small}));
    EXPECT_EQ(fontsOf("@BOB"), (QList<Font>{main, main, small, small}));
    // A first letter outside the basic plane stays whole.
    EXPECT_EQ(fontsOf("#\U0001D400BC"), (QList<Font>{main, main, main, small, small}));

    // On a heading line the tag is bold, and so is its small part.
    setText("# Plan #TODO\n");
    const Font bold = *storage.boldFont();
    EXPECT_EQ(fontsOf("#TODO"), (QList<Font>{bold, bold, MarkdownTextStorage::smallCapFontWithFont(bold),
                                             MarkdownTextStorage::smallCapFontWithFont(bold),
                                             MarkdownTextStorage::smallCapFontWithFont(bold)}));
}

TEST_F(Styling, TagLinksArePercentEscapedUtf8)
{
    setText("#café and @bob\n");
    const qsizetype tag = indexOf("#caf");
    EXPECT_EQ(at(tag).link, QStringLiteral("brindlewick://hashtag/caf%C3%A9"));
    EXPECT_EQ(at(tag).toolTip, QStringLiteral("#café"));
    EXPECT_EQ(runAt(tag, TextAttributes::LinkKey), (TextRange{tag, 5}));
    EXPECT_EQ(at(tag).foregroundColor, List);
    EXPECT_EQ(at(indexOf("@bob")).link, QStringLiteral("brindlewick://mention/bob"));
}

TEST_F(Styling, EmphasisFonts)
{
    EXPECT_EQ(storage.fontWithEmphasis(0), storage.mainFont());
    EXPECT_EQ(storage.fontWithEmphasis(2 | 8), storage.codeFont());
    EXPECT_EQ(storage.fontWithEmphasis(8), storage.boldFont());
    EXPECT_EQ(storage.fontWithEmphasis(32), storage.boldFont());
    EXPECT_EQ(storage.fontWithEmphasis(128), storage.boldFont());
    EXPECT_EQ(storage.fontWithEmphasis(16), storage.italicFont());
    EXPECT_EQ(storage.fontWithEmphasis(64), storage.italicFont());
    EXPECT_EQ(storage.fontWithEmphasis(128 | 16), storage.boldItalicFont());
    EXPECT_EQ(storage.fontWithEmphasis(4), storage.mainFont());

    // A heading's e-mail address and URL are bold, and bold-italic inside an italic run.
    setText("# see x@y.org *and https://e.com*\n");
    EXPECT_EQ(at(indexOf("x@y")).font, storage.boldFont());
    EXPECT_EQ(at(indexOf("https")).font, storage.boldItalicFont());
}

TEST_F(Styling, MissingFontsAndColoursLeaveAttributesUnset)
{
    MarkdownTextStorage bare(metrics);
    bare.setMainFont(Font{"Main", 20});
    bare.reloadAttributes();
    bare.replaceCharacters({0, 0}, "# **x** #TAG `c`\n- [ ] y");
    EXPECT_FALSE(bare.fixedSymbolFont());
    EXPECT_FALSE(bare.attributesAtIndex(0).font);
    EXPECT_FALSE(bare.attributesAtIndex(0).foregroundColor);
    const qsizetype tag = bare.string().indexOf("#TAG");
    EXPECT_FALSE(bare.attributesAtIndex(tag + 3).font);
    EXPECT_EQ(bare.attributesAtIndex(tag).link, QStringLiteral("brindlewick://hashtag/TAG"));
    EXPECT_EQ(bare.attributesAtIndex(bare.string().indexOf("[ ]")).link, QStringLiteral("brindlewick://todo"));
    EXPECT_TRUE(bare.defaultParagraphStyle());
}

TEST_F(Styling, ThemeColoursReachTheText)
{
    Themeset::textStorageSetTheme(storage, 16);
    EXPECT_EQ(storage.criticAddColor(), Themeset::criticAddColorForTheme(16));
    setText("plain - #tag `code`\n");
    EXPECT_EQ(at(0).foregroundColor, Themeset::textColorForTheme(16));
    EXPECT_EQ(at(indexOf("#tag")).foregroundColor, Themeset::listColorForTheme(16));
    EXPECT_EQ(at(indexOf("`")).foregroundColor, Themeset::codeColorForTheme(16));
    EXPECT_EQ(at(indexOf("code")).foregroundColor, Themeset::codeColorForTheme(16));
    // An id that is not a theme leaves the colours as they are.
    Themeset::textStorageSetTheme(storage, 7);
    EXPECT_EQ(storage.mainColor(), Themeset::textColorForTheme(16));
}

TEST_F(Styling, RandomEditsKeepTheCharactersAndMatchAFreshStyle)
{
    const QStringList pieces = {"# ", "**", "*", "_", "~~", "`", "- ", "[ ] ", "#tag", "@who", "\n", "\r\n",
                                "\r", "> ", "1. ", "word ", "é", "\U0001F600", "<a>", "http://x.y/z ", "&lt;"};
    QRandomGenerator random(8);
    QString reference;
    for (int i = 0; i < 1500; ++i) {
        const qsizetype at = random.bounded(int(reference.size() + 1));
        if (random.bounded(3) == 0 && !reference.isEmpty()) {
            const qsizetype length = std::min<qsizetype>(random.bounded(1, 6), reference.size() - at);
            storage.replaceCharacters({at, length}, QString());
            reference.remove(at, length);
        } else {
            const QString piece = pieces[random.bounded(int(pieces.size()))];
            storage.replaceCharacters({at, 0}, piece);
            reference.insert(at, piece);
        }
        ASSERT_EQ(storage.string(), reference) << i;
    }
    // Styling only the edited lines comes to the same attributes as styling the whole text at once.
    MarkdownTextStorage fresh(metrics);
    configure(fresh);
    Themeset::textStorageSetTheme(fresh, 0);
    Themeset::textStorageSetTheme(storage, 0);
    fresh.reloadAttributes();
    fresh.replaceCharacters({0, 0}, reference);
    storage.setAttributes({}, {0, storage.length()});
    for (qsizetype i = 0; i < reference.size(); ++i)
        ASSERT_EQ(storage.attributesAtIndex(i), fresh.attributesAtIndex(i)) << i;
}

TEST_F(Styling, StylingALongTextAtOnceMatchesStylingItLineByLine)
{
    // Long enough that one pass writes its lines in several batches.
    const QStringList pieces = {"# ", "**", "*", "_", "~~", "`", "- ", "[ ] ", "#TAG", "@who", "> ", "1. ",
                                "word ", "é", "\U0001F600", "http://x.y/z ", "&lt;", "\r\n", "\r"};
    QRandomGenerator random(21);
    QStringList lines;
    for (int i = 0; i < 3000; ++i) {
        QString line;
        for (int n = random.bounded(0, 8); n > 0; --n)
            line += pieces[random.bounded(int(pieces.size()))];
        lines << line + u'\n';
    }
    setText(lines.join(QString()));
    EXPECT_EQ(recorder.last, (TextRange{0, storage.length()}));
    ASSERT_GT(storage.attributedString().runCount(), 4 * 1024);

    MarkdownTextStorage byLine(metrics);
    configure(byLine);
    for (const QString& line : lines)
        byLine.replaceCharacters({byLine.length(), 0}, line);
    ASSERT_EQ(byLine.string(), storage.string());
    qsizetype covered = 0;
    storage.attributedString().enumerateAttributes({0, storage.length()}, [&](const TextAttributes& attributes,
                                                                              TextRange run) {
        TextRange other;
        ASSERT_EQ(byLine.attributesAtIndex(run.location, &other), attributes) << run.location;
        ASSERT_EQ(other, run);
        covered = run.end();
    });
    EXPECT_EQ(covered, storage.length());
}

TEST_F(Styling, StylingOperationsReplaceTheirAttribute)
{
    setText("plain words\n");
    // The operation is an edit like any other: the line is restyled right after it.
    EXPECT_EQ(at(0).foregroundColor, Main);
    storage.beginEditing();
    storage.setForegroundColor(Code, {0, 5});
    storage.setFont(std::nullopt, {0, 5});
    storage.setLink("x", {0, 5});
    storage.setUnderlineStyle(1, {0, 5});
    EXPECT_FALSE(at(0).font);
    EXPECT_EQ(at(0).link, QStringLiteral("x"));
    EXPECT_EQ(at(0).underlineStyle, 1);
    storage.setFontWithEmphasis(16, {0, 5});
    EXPECT_EQ(at(0).font, storage.italicFont());
    storage.setForegroundColor(std::nullopt, {6, 5});
    EXPECT_FALSE(at(6).foregroundColor);
    storage.endEditing();
    // Once the edits are processed, the Markdown styles are back.
    EXPECT_EQ(at(0).font, storage.mainFont());
    EXPECT_EQ(at(0).foregroundColor, Main);
    EXPECT_FALSE(at(0).link);
    EXPECT_EQ(at(6).foregroundColor, Main);
}

namespace {

// Runs the posted calls (the slices) until the storage has styled all of its text.
void runSlices(const MarkdownTextStorage& storage)
{
    for (int turn = 0; turn < 10000 && storage.unstyledRange().length > 0; ++turn)
        QCoreApplication::sendPostedEvents();
}

const MarkdownTextStorage& styleLineByLine(MarkdownTextStorage& storage, const QString& text)
{
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i)
        storage.replaceCharacters({storage.length(), 0}, lines[i].toString() + (i + 1 < lines.size() ? "\n" : ""));
    return storage;
}

// Every run of the one is a run of the other with the same attributes.
void expectSameStyles(const MarkdownTextStorage& storage, const MarkdownTextStorage& reference)
{
    ASSERT_EQ(storage.string(), reference.string());
    storage.attributedString().enumerateAttributes({0, storage.length()}, [&](const TextAttributes& attributes,
                                                                              TextRange run) {
        TextRange other;
        ASSERT_EQ(reference.attributesAtIndex(run.location, &other), attributes) << run.location;
        ASSERT_EQ(other, run);
    });
}

} // namespace

TEST_F(Styling, ALongChangeIsStyledInShortSlicesAsIfAtOnce)
{
    // Edits while slices wait: the waiting text moves with them, and all of it is styled in the end.
    const struct {
        const char* name;
        std::function<void(MarkdownTextStorage&)> edit;
    } cases[] = {
        {"none", [](MarkdownTextStorage&) {}},
        {"a paste before the waiting text",
         [](MarkdownTextStorage& s) { s.replaceCharacters({3, 0}, QStringLiteral("**x** `y`\n").repeated(300)); }},
        {"a new line in it", [](MarkdownTextStorage& s) { s.replaceCharacters({s.length() / 2, 0}, "\n# head\n"); }},
        {"deleting across its start",
         [](MarkdownTextStorage& s) { s.replaceCharacters({s.unstyledRange().location - 40, 80}, QString()); }},
        {"cutting off its end", [](MarkdownTextStorage& s) { s.replaceCharacters({s.length() - 500, 500}, "`x"); }},
        {"another long text", [](MarkdownTextStorage& s) { s.replaceCharacters({0, s.length()}, longNote(9)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TextRange> passes;
        struct : TextStorageObserver {
            std::vector<TextRange>* passes;
            void textStorageDidProcessEditing(TextStorage&, int, TextRange range, qsizetype) override
            {
                passes->push_back(range);
            }
        } slices;
        slices.passes = &passes;
        setText(longNote(5));
        const TextRange waiting = storage.unstyledRange();
        ASSERT_GT(waiting.length, 0);
        EXPECT_EQ(waiting.end(), storage.length());
        EXPECT_EQ(storage.processedLength(), waiting.location);
        EXPECT_LE(waiting.location, MarkdownTextStorage::SliceLength + 200);
        // Waiting, a heading's sign is plain text.
        const qsizetype heading = indexOf("# ", waiting.location);
        EXPECT_EQ(at(heading).font, storage.mainFont());
        EXPECT_EQ(at(heading).foregroundColor, Main);
        EXPECT_EQ(at(heading).paragraphStyle, storage.defaultParagraphStyle());

        c.edit(storage);
        storage.addObserver(&slices);
        runSlices(storage);
        storage.removeObserver(&slices);
        EXPECT_EQ(storage.unstyledRange().length, 0);
        EXPECT_EQ(storage.processedLength(), storage.length());
        EXPECT_GT(passes.size(), 4u);
        for (const TextRange& pass : passes)
            EXPECT_LE(pass.length, MarkdownTextStorage::SliceLength + 400);

        MarkdownTextStorage byLine(metrics);
        configure(byLine);
        ASSERT_NO_FATAL_FAILURE(expectSameStyles(storage, styleLineByLine(byLine, storage.string())));
    }
}

TEST_F(Styling, SlicesGetPastAParagraphLongerThanASlice)
{
    // Each slice reaches back into the paragraph before it; a long one must not be all it ever styles.
    const QString cases[] = {
        QStringLiteral("[").repeated(MarkdownTextStorage::StyledAtOnce) + QStringLiteral("\n\n# deepest"),
        QStringLiteral("word ").repeated(MarkdownTextStorage::StyledAtOnce / 4) + QStringLiteral("\n**b**\n").repeated(3000),
    };
    for (const QString& text : cases) {
        setText(text);
        runSlices(storage);
        EXPECT_EQ(storage.unstyledRange().length, 0);
        MarkdownTextStorage byLine(metrics);
        configure(byLine);
        styleLineByLine(byLine, storage.string());
        runSlices(byLine); // a line after the long one reaches back into it, which is sliced again
        ASSERT_NO_FATAL_FAILURE(expectSameStyles(storage, byLine));
    }
}

TEST_F(Styling, SlicesLeaveAStorageThatIsGoneAlone)
{
    auto gone = std::make_unique<MarkdownTextStorage>(metrics);
    configure(*gone);
    gone->replaceCharacters({0, 0}, longNote(3));
    ASSERT_GT(gone->unstyledRange().length, 0);
    gone.reset();
    QCoreApplication::sendPostedEvents(); // its slice finds nothing to style

    // Waiting text is styled at once when a copy needs all of it.
    setText(longNote(4));
    storage.finishStyling();
    EXPECT_EQ(storage.unstyledRange().length, 0);
    MarkdownTextStorage byLine(metrics);
    configure(byLine);
    expectSameStyles(storage, styleLineByLine(byLine, storage.string()));
}

TEST_F(Styling, RestylingALongTextKeepsItsLookUntilItsSlice)
{
    setText(longNote(6));
    storage.finishStyling();
    const qsizetype heading = indexOf("\n# ", MarkdownTextStorage::StyledAtOnce) + 1;
    const TextAttributes styled = at(heading);
    ASSERT_EQ(styled.font, fixedSymbol());

    storage.beginEditing();
    storage.edited(TextStorage::EditedAttributes, {0, storage.length()}, 0);
    storage.endEditing();
    EXPECT_GT(storage.unstyledRange().length, 0);
    EXPECT_EQ(at(heading), styled);
    runSlices(storage);
    EXPECT_EQ(at(heading), styled);
}

namespace {

// A paragraph of every kind of inline element, longer than a key restyles at once.
QString longLine(int seed)
{
    QString line;
    for (int i = 0; line.size() <= MarkdownTextStorage::RestyledAfterPause; ++i)
        line += QStringLiteral("word **bold** #t%1%2 `code` ").arg(seed).arg(i, 5, 10, QChar(u'0'));
    return line;
}

struct Key {
    qsizetype at;
    qsizetype removed;
    QString typed;
};

// The letters typed one key each from the place.
std::vector<Key> typing(qsizetype at, const QString& letters)
{
    std::vector<Key> keys;
    for (qsizetype i = 0; i < letters.size(); ++i)
        keys.push_back({at + i, 0, letters.mid(i, 1)});
    return keys;
}

} // namespace

TEST_F(Styling, AKeyInALongLineRestylesItOnceTypingPauses)
{
    const QString line = longLine(1);
    const qsizetype middle = line.indexOf(u' ', line.size() / 2) + 1;
    QStringList many;
    for (int i = 0; i < 10; ++i)
        many << longLine(i);
    const QString manyLines = many.join(u'\n');
    const struct {
        const char* name;
        QString text;
        std::vector<Key> keys;
        QString tag; // a tag the keys make, in its colour after the pause
    } cases[] = {
        {"a letter in a word", line, typing(2, "y"), {}},
        {"a tag in plain text", line, typing(middle, "#new "), "#new"},
        {"a space in a tag", line, typing(line.indexOf(u'#') + 3, " "), {}},
        // Both halves are long ones.
        {"a new line that makes the rest a heading", line + longLine(2), typing(line.size(), "\n# "), {}},
        {"a deletion that joins two long lines", line + "\n" + line, {{line.size(), 1, {}}}, {}},
        {"keys in two long lines", line + "\nshort\n" + longLine(2),
         {{4, 0, "x"}, {line.size() + 10, 0, "**"}, {line.size() + 12, 0, "#y"}},
         "#y"},
        // More than is styled at once between them.
        {"keys in the first and last of many long lines", manyLines,
         {{4, 0, "#"}, {manyLines.size() - 3, 0, "*x*"}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setText(c.text);
        storage.finishStyling();
        // What the text itself does with the keys: new units take the attributes beside them.
        AttributedString unstyled = storage.attributedString();
        for (const Key& key : c.keys) {
            storage.replaceCharacters({key.at, key.removed}, key.typed);
            unstyled.replaceCharacters({key.at, key.removed}, key.typed);
            EXPECT_EQ(recorder.last, (TextRange{key.at, key.typed.size()}));
            for (qsizetype i = key.at; i < key.at + key.typed.size(); ++i)
                EXPECT_TRUE(at(i).font && at(i).foregroundColor && at(i).paragraphStyle) << i;
        }
        EXPECT_GT(storage.unstyledRange().length, 0);
        EXPECT_TRUE(storage.attributedString().isEqualToAttributedString(unstyled));

        ASSERT_TRUE(QTest::qWaitFor([&] { return storage.unstyledRange().length == 0; }));
        MarkdownTextStorage fresh(metrics);
        configure(fresh);
        fresh.replaceCharacters({0, 0}, storage.string());
        fresh.finishStyling();
        ASSERT_NO_FATAL_FAILURE(expectSameStyles(storage, fresh));
        if (!c.tag.isEmpty()) {
            EXPECT_EQ(at(indexOf(c.tag)).foregroundColor, List);
        }
    }
}

TEST_F(Styling, APauseLeavesAStorageThatIsGoneAlone)
{
    // Keys into a long line of each storage; the one gone first would have had its pause first.
    auto gone = std::make_unique<MarkdownTextStorage>(metrics);
    configure(*gone);
    gone->replaceCharacters({0, 0}, longLine(3));
    gone->replaceCharacters({4, 0}, "#x");
    ASSERT_GT(gone->unstyledRange().length, 0);
    gone.reset();
    setText(longLine(4));
    storage.replaceCharacters({4, 0}, "#x");
    ASSERT_GT(storage.unstyledRange().length, 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return storage.unstyledRange().length == 0; }));

    // A copy that needs all of the text has it styled at once.
    storage.replaceCharacters({4, 0}, "`");
    ASSERT_GT(storage.unstyledRange().length, 0);
    storage.finishStyling();
    EXPECT_EQ(storage.unstyledRange().length, 0);
    MarkdownTextStorage fresh(metrics);
    configure(fresh);
    fresh.replaceCharacters({0, 0}, storage.string());
    expectSameStyles(storage, fresh);
}
