#include "Markdown/InlineParser.h"

#include <gtest/gtest.h>

#include <QList>
#include <QStringList>

#include <random>
#include <vector>

namespace {

// "type'text'" for each element, blank-separated, so a table row reads like the line it describes.
QString elements(InlineParser& parser, const QString& text, bool withInline = true)
{
    QStringList out;
    auto callback = [&](const InlineRange& r, InlineElement e) {
        out << QString::number(e) + "'" + text.mid(r.location, r.length) + "'";
    };
    if (withInline)
        parser.parseBlockAndInline(text, {0, text.size()}, callback);
    else
        parser.parseBlock(text, {0, text.size()}, callback);
    return out.join(' ');
}

struct Row {
    QString line;
    QString expected;
    int64_t block;
};

void expectRows(const std::vector<Row>& rows)
{
    InlineParser parser;  // one parser for all rows: nothing may carry from one line to the next
    for (const Row& row : rows) {
        EXPECT_EQ(elements(parser, row.line), row.expected) << "line «" << row.line.toStdString() << "»";
        EXPECT_EQ(parser.block(), row.block) << "line «" << row.line.toStdString() << "»";
    }
}

}  // namespace

TEST(Markdown, ParserBlockPrefixes)
{
    expectRows({
        {"    code", "1'    ' 11'code'", 1},
        {"\tcode", "1'\t' 11'code'", 1},
        {"   text", "1'   '", 0},
        {"    - item", "1'    ' 35'-'", 4},
        {"-     code", "35'-' 1'    ' 11'code'", 1},
        {"> > text", "7'>' 7'>' 8'text'", 3},
        {"> - item", "7'>' 35'-'", 4},
        {">     code", "7'>' 1'    ' 11'code'", 1},
        {"1) first", "37'1' 36')'", 5},
        {"1.[ ] x", "37'1' 36'.' 38'[' 39' ' 38']'", 5},
        {"1.x", "", 0},
        {"#Title", "41'#Title'", 0},
        {"####### seven", "", 0},
        {"# Title #", "4'#' 6'Title' 5'#'", 2},
        {"# Title#", "4'#' 6'Title#'", 2},
        {"# Title ##  ", "4'#' 6'Title' 5'##'", 2},
        {"#", "4'#'", 2},
        {"- # Title", "35'-' 4'#' 6'Title'", 2},
        {"- [ ] task", "35'-' 38'[' 39' ' 38']'", 4},
        {"- [x] done", "35'-' 38'[' 40'x' 38']'", 4},
        {"- [", "35'-' 38'['", 4},
        {"- [ ]x", "35'-' 38'[' 39' ' 38']'", 4},
        {"***", "2'***' 3'***'", 7},
        {"- - -", "2'- - -' 3'-' 3'-' 3'-'", 7},
        {"___", "2'___' 3'___'", 7},
        {"==", "2'==' 3'=='", 7},
        {"*", "35'*'", 4},
        {"", "", 0},
        {"# Title\r\n", "4'#' 6'Title'", 2},
        {"> #tag\r", "7'>' 8'#tag' 41'#tag'", 3},
        {QString::fromUtf16(u"- #tag\u2029"), "35'-' 41'#tag'", 4},
    });
}

TEST(Markdown, ParserEmphasis)
{
    expectRows({
        {"a *b* c", "26'*' 29'b' 26'*'", 0},
        {"a * b", "25'*'", 0},
        {"2*3*4", "26'*' 29'3' 26'*'", 0},
        {"snake_case_name", "27'_' 27'_'", 0},
        {"**bold *both* bold**", "26'**' 30'bold ' 26'*' 31'both' 26'*' 30' bold' 26'**'", 0},
        {"*a _b_ c*", "26'*' 29'a ' 27'_' 29'b' 27'_' 29' c' 26'*'", 0},
        {"***both***", "26'***' 31'both' 26'***'", 0},
        {"___both___", "28'___' 34'both' 28'___'", 0},
        {"__u__ _i_", "28'__' 33'u' 28'__' 28'_' 32'i' 28'_'", 0},
        {"``a`b``", "12'``' 13'a' 14'`' 13'b' 12'``'", 0},
        {"`code", "12'`' 13'code'", 0},
        {"**a `b", "26'**' 30'a ' 12'`' 13'b' 30'b'", 0},
        {"~~a~~", "15'~~' 16'a' 15'~~'", 0},
        {"~a~", "17'~' 17'~'", 0},
        {"~~~a", "17'~~~'", 0},
        {"**x ~~y~~**", "26'**' 30'x ' 17'~~' 30'y' 17'~~' 26'**'", 0},
        {"# A *b*", "4'#' 6'A *b*' 26'*' 29'b' 26'*'", 2},
    });
}

TEST(Markdown, ParserLinksAndTags)
{
    expectRows({
        {"[a [b] c](u)", "21'[a [b] c](u)'", 0},
        {"![i](p.png)", "22'![i](p.png)'", 0},
        {"[a] [b]", "23'[a] [b]'", 0},
        {"![a][b]", "24'![a][b]'", 0},
        {"[a](u", "", 0},
        {"**[x](y)**", "26'**' 21'[x](y)' 26'**'", 0},
        {"[*a*](u)", "21'[*a*](u)'", 0},
        {"#tag", "41'#tag'", 0},
        {"(#tag)", "41'#tag'", 0},
        {"a#tag", "", 0},
        {"!#tag", "", 0},
        {"#one#two", "41'#one' 41'#two'", 0},
        {"- #tag @bob", "35'-' 41'#tag' 42'@bob'", 4},
        {"@name", "42'@name'", 0},
        {"@bob.smith", "42'@bob'", 0},
        {"mail a.b@c.de now", "43'a.b@c.de'", 0},
        {"\u4e2d#\u6587 \u3002#\u6587", "41'#\u6587'", 0},
        {"`a <b> c`", "12'`' 13'a ' 9'<b>' 13' c' 12'`'", 0},
        {"`#tag`", "12'`' 13'#tag' 12'`'", 0},
        {"see http://x.org/a. ok", "44'http://x.org/a'", 0},
        {"<http://a.b> <a@b.c>", "18'<' 19'http://a.b' 18'>' 18'<' 20'a@b.c' 18'>'", 0},
        {"&amp; &x", "10'&amp;'", 0},
        {"*a <b>c* d", "26'*' 29'a ' 9'<b>' 29'c' 26'*'", 0},
    });
}

TEST(Markdown, ParserCallbackState)
{
    InlineParser parser;
    const QString heading = "# A *b*";
    int16_t seen = -1;
    parser.parseBlockAndInline(heading, {0, heading.size()}, [&](const InlineRange&, InlineElement e) {
        if (e == InlineElementAsteriskItalicText)
            seen = parser.emphasis();
    });
    EXPECT_EQ(seen, 144);

    const QString line = "**a** ~~b~~ `c` *d*";
    std::vector<std::pair<InlineElement, InlineRange>> closers;
    int symbols = 0;
    parser.parseBlockAndInline(line, {0, line.size()}, [&](const InlineRange& r, InlineElement e) {
        if (e == InlineElementAsteriskSymbol || e == InlineElementStrikeSymbol || e == InlineElementCodeSpanSymbol) {
            if (++symbols % 2 == 0)
                closers.emplace_back(e, parser.matchingOpenSymbolFormat(e, r));
        }
    });
    ASSERT_EQ(closers.size(), 4u);
    EXPECT_EQ(closers[0].second, (InlineRange{0, 2}));
    EXPECT_EQ(closers[1].second, (InlineRange{6, 2}));
    EXPECT_EQ(closers[2].second, (InlineRange{12, 1}));
    EXPECT_EQ(closers[3].second, (InlineRange{16, 1}));
    EXPECT_EQ(parser.matchingOpenSymbolFormat(InlineElementHashtag, {0, 1}).location, InlineNotFound);

    const QString link = "[text](http://u \"T\") [a][lbl]";
    QStringList parts;
    parser.parseBlockAndInline(link, {0, link.size()}, [&](const InlineRange&, InlineElement e) {
        if (e == InlineElementInlineLink || e == InlineElementReferenceLink)
            parts << parser.lastInlineLinkText() << parser.lastInlineLinkURL() << parser.lastInlineLinkTitle()
                  << parser.lastInlineLinkLabel();
    });
    EXPECT_EQ(parts, (QStringList{"text", "http://u", "\"T\"", QString(), "a", QString(), QString(), "lbl"}));
}

TEST(Markdown, ParserStopAndReentry)
{
    InlineParser parser;
    const QString line = "- *a* #b";
    int calls = 0;
    parser.parseBlockAndInline(line, {0, line.size()}, [&](const InlineRange&, InlineElement) {
        ++calls;
        parser.stop();
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(elements(parser, line), "35'-' 26'*' 29'a' 26'*' 41'#b'");

    int inner = 0, outer = 0;
    parser.parseBlockAndInline(line, {0, line.size()}, [&](const InlineRange&, InlineElement) {
        ++outer;
        parser.parseBlockAndInline("# x", {0, 3}, [&](const InlineRange&, InlineElement) { ++inner; });
    });
    EXPECT_EQ(outer, 5);
    EXPECT_EQ(inner, 0);
    EXPECT_EQ(parser.block(), InlineBlockUnorderedList);
}

TEST(Markdown, ParserRanges)
{
    InlineParser parser;
    const QString text = "x\n  - item\nabc\n\n";
    parser.parseBlock(text, {2, 9}, [](const InlineRange&, InlineElement) {});
    EXPECT_EQ(parser.lastIndentRange(), (InlineRange{2, 2}));
    EXPECT_EQ(parser.lastPrefixRange(), (InlineRange{4, 2}));
    EXPECT_EQ(parser.lastIndentAndPrefixRange(), (InlineRange{2, 4}));
    EXPECT_EQ(parser.lastFirstNonSpace(), 4);
    EXPECT_EQ(parser.lastParagraphRange(), (InlineRange{2, 8}));

    parser.parseBlockAndInline(text, {11, 5}, [](const InlineRange&, InlineElement) {});
    EXPECT_EQ(parser.lastParagraphRange(), (InlineRange{11, 3}));

    // A range past the text is clamped; nothing outside the text is read or reported.
    int calls = 0;
    parser.parseBlockAndInline(text, {15, 100}, [&](const InlineRange&, InlineElement) { ++calls; });
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(parser.range(), (InlineRange{15, 1}));
    parser.parseBlockAndInline(text, {400, 3}, [&](const InlineRange&, InlineElement) { ++calls; });
    EXPECT_EQ(calls, 0);

    parser.spaceWidth = 1;
    parser.numberWidth = 10;
    parser.squaredBracketWidth = 100;
    parser.otherCharacterWidth = 1000;
    parser.tabWidth = 10000;
    const QString todo = "- [ ] task";
    parser.parseBlock(todo, {0, todo.size()}, [](const InlineRange&, InlineElement) {});
    EXPECT_DOUBLE_EQ(parser.lastIndentWidth(), 2 * 1000 + 2 * 1 + 2 * 100);
    const QString numbered = "\t12. x";
    parser.parseBlock(numbered, {0, numbered.size()}, [](const InlineRange&, InlineElement) {});
    EXPECT_DOUBLE_EQ(parser.lastIndentWidth(), 10000 + 3 * 10 + 1);
    const QString code = "    code";
    parser.parseBlock(code, {0, code.size()}, [](const InlineRange&, InlineElement) {});
    EXPECT_DOUBLE_EQ(parser.lastIndentWidth(), 4 * 1000 + 4 * 1);
}

TEST(Markdown, ParserAutoIndent)
{
    InlineParser parser;
    struct Case {
        QString line;
        QString prefix;  // null: no continuation
    };
    for (const Case& c : std::vector<Case>{{"  * [x] buy", "  * [ ] "},
                                           {"9. t", "10. "},
                                           {"09. t", "10. "},
                                           {"4294967295. t", "4294967296. "},
                                           {"99999999999999999999999) t", "100000000000000000000000) "},
                                           {"> - a", "  - "},
                                           {"1. - a", "   - "},
                                           {"> quote", "> "},
                                           {"    code", "    "},
                                           {"- [x] done", "- [ ] "},
                                           {"# Title", QString()},
                                           {"- # Title", QString()},
                                           {"---", QString()},
                                           {"plain", QString()}}) {
        const QString result = parser.parseAutoIndent(c.line, {0, c.line.size()});
        EXPECT_EQ(result, c.prefix) << c.line.toStdString();
        EXPECT_EQ(result.isNull(), c.prefix.isNull()) << c.line.toStdString();
    }
}

TEST(Markdown, ParserExpandText)
{
    InlineParser parser;
    struct Case {
        QString text;
        InlineRange range;
        char16_t symbol;
        InlineRange expected;
    };
    for (const Case& c : std::vector<Case>{{"hello world foo", {8, 0}, 0, {6, 5}},
                                           {"a **bold** b", {4, 4}, u'*', {2, 8}},
                                           {"a **bold** b", {4, 4}, 0, {2, 8}},
                                           {"one  two\nthree", {3, 3}, 0, {5, 3}},
                                           {"x ~~y~~\nz", {4, 1}, u'~', {2, 5}},
                                           {"ab\ncd", {1, 0}, 0, {0, 2}}}) {
        InlineRange r = c.range;
        EXPECT_TRUE(parser.expandText(c.text, &r, c.symbol));
        EXPECT_EQ(r, c.expected) << c.text.toStdString();
    }
}

TEST(Markdown, ParserParagraphWalks)
{
    InlineParser parser;
    const QString text = QString::fromUtf16(u"a\nb\r\nc\rd\u2029e\u2028f");
    auto walk = [&](InlineRange range, bool reverse, int stopAfter = -1) {
        QList<InlineRange> seen;
        auto block = [&](const InlineRange& p, bool* stop) {
            seen << p;
            if (seen.size() == stopAfter)
                *stop = true;
        };
        if (reverse)
            parser.reverseEnumerateParagraph(text, range, block);
        else
            parser.enumerateParagraph(text, range, block);
        return seen;
    };
    const QList<InlineRange> all{{0, 2}, {2, 3}, {5, 2}, {7, 2}, {9, 3}};
    EXPECT_EQ(walk({0, text.size()}, false), all);
    EXPECT_EQ(walk({0, text.size()}, true), QList<InlineRange>(all.rbegin(), all.rend()));
    EXPECT_EQ(walk({3, 0}, false), QList<InlineRange>());
    EXPECT_EQ(walk({3, 0}, true), QList<InlineRange>());
    EXPECT_EQ(walk({10, 1}, false), (QList<InlineRange>{{9, 3}}));
    EXPECT_EQ(walk({4, 1}, true), (QList<InlineRange>{{2, 3}}));  // the LF of a CRLF
    EXPECT_EQ(walk({1, 500}, false), all);
    EXPECT_EQ(walk({0, text.size()}, false, 2), all.mid(0, 2));
    EXPECT_EQ(walk({0, text.size()}, true, 1), (QList<InlineRange>{{9, 3}}));
}

// Elements that straddle where a fixed-size window would have been refilled are still reported whole.
TEST(Markdown, ParserLongLine)
{
    QString line;
    while (line.size() < 860)
        line += "ab ";
    const QString url = "http://example.com/a/very/long/path/for/the/test";
    const qsizetype urlAt = line.size();
    line += url + " ";
    while (line.size() < 990)
        line += "x ";
    const QString tag = "#straddling";
    const qsizetype tagAt = line.size();
    line += tag + " ";
    while (line.size() < 3000)
        line += "y#z ";
    ASSERT_LT(urlAt, 872);
    ASSERT_GT(urlAt + url.size(), 872);
    ASSERT_LT(tagAt, 1000);
    ASSERT_GT(tagAt + tag.size(), 1000);

    InlineParser parser;
    std::vector<std::pair<InlineElement, InlineRange>> found;
    parser.parseBlockAndInline(line, {0, line.size()}, [&](const InlineRange& r, InlineElement e) { found.emplace_back(e, r); });
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0], std::make_pair(InlineElementURL, InlineRange{urlAt, url.size()}));
    EXPECT_EQ(found[1], std::make_pair(InlineElementHashtag, InlineRange{tagAt, tag.size()}));
}

// Markers nested on one line, and openers repeated before one closer: each later marker or opener must
// read the line as the first did.
TEST(Markdown, ParserNestedMarkersAndRepeatedOpeners)
{
    expectRows({
        {"- - x", "35'-' 35'-'", 4},
        {"- - -x", "35'-' 35'-'", 4},
        {"- - -  x", "35'-' 35'-' 35'-' 1' '", 4},
        {"* * *x", "35'*' 35'*' 26'*' 29'x'", 4},
        {"- * - *", "35'-' 35'*' 35'-' 35'*'", 4},
        {"- = - =", "35'-'", 4},
        {"-\t- x", "35'-' 35'-'", 4},
        {"    - - -", "1'    ' 11'- - -'", 1},
        {"- - - -\t- ", "2'- - - -\t- ' 3'-' 3'-' 3'-' 3'-' 3'-'", 7},
        {"> - > - x", "7'>' 35'-' 7'>' 35'-'", 4},
        {"1. 1. 1. x", "37'1' 36'.' 37'1' 36'.' 37'1' 36'.'", 5},
        {"[a](b (c)", "", 0},
        {"[a](b ([a](b (c))", "21'[a](b ([a](b (c))'", 0},
        {"[a](b ([a](b (c)", "", 0},
        {"[a](b (x)y [a](b (z))", "21'[a](b (z))'", 0},
        {"[a](b '[a](b 'c')", "21'[a](b 'c')'", 0},
        {"[a](b \"x\" [a](b \"y\")", "21'[a](b \"y\")'", 0},
        {"<!A <!A x>", "9'<!A <!A x>'", 0},
    });
}

// Lines of about a megabyte made of one marker or opener: each is read in one pass (a scan of the rest of
// the line per marker would outlast the test's time limit many times over).
TEST(Markdown, ParserHostileLongLines)
{
    struct Hostile {
        const char* piece;
        const char* tail;
        InlineElement first;  // the first element reported, 0 for none
        int64_t perPiece;     // elements per piece
        int64_t extra;        // elements besides those
        int64_t block;
    };
    const std::vector<Hostile> rows = {
        {">", "x", InlineElementQuoteSymbol, 1, 1, InlineBlockQuote},
        {"- ", "x", InlineElementUnorderedListBullet, 1, 0, InlineBlockUnorderedList},
        {"* ", "x", InlineElementUnorderedListBullet, 1, 0, InlineBlockUnorderedList},
        {"-\t", "x", InlineElementUnorderedListBullet, 1, 0, InlineBlockUnorderedList},
        {"1. ", "x", InlineElementOrderedListNumber, 2, 0, InlineBlockOrderedList},
        {"> - ", "x", InlineElementQuoteSymbol, 2, 0, InlineBlockUnorderedList},
        {"[", "x", InlineElement(0), 0, 0, InlineBlockParagraph},
        {"`", "x", InlineElementCodeSpanSymbol, 0, 2, InlineBlockParagraph},
        {"**x** ", "", InlineElementAsteriskSymbol, 3, 0, InlineBlockParagraph},
        {"[a](b (", ")", InlineElement(0), 0, 0, InlineBlockParagraph},
        {"[a](b '", "'", InlineElement(0), 0, 0, InlineBlockParagraph},
        {"<!A <", ">", InlineElementHTMLTag, 0, 1, InlineBlockParagraph},
        {"<?", "", InlineElement(0), 0, 0, InlineBlockParagraph},
    };
    InlineParser parser;
    for (const Hostile& row : rows) {
        const QString piece = QString::fromLatin1(row.piece);
        const int64_t count = 1000000 / piece.size();
        const QString line = piece.repeated(count) + QString::fromLatin1(row.tail);
        int64_t elements = 0;
        InlineElement first = InlineElement(0);
        parser.parseBlockAndInline(line, {0, line.size()}, [&](const InlineRange&, InlineElement e) {
            if (elements++ == 0)
                first = e;
        });
        EXPECT_EQ(first, row.first) << row.piece;
        EXPECT_EQ(elements, row.perPiece * count + row.extra) << row.piece;
        EXPECT_EQ(parser.block(), row.block) << row.piece;
    }
}

// Random notes through the whole reader: every element lies inside its line and no callback state is
// out of range; under the sanitizer build this also checks that no scan reads outside its copy.
TEST(Markdown, ParserRandomNotes)
{
    std::mt19937 random(42);
    const QString alphabet = QString::fromUtf16(u"#@:/<>!?-[]()'\"\\`*_~&;.=+ \t\n\rx1aZ>#*-h\u3000\u2022\u2029");
    InlineParser parser;
    for (int round = 0; round < 20000; ++round) {
        QString text;
        const int size = random() % 200;
        for (int i = 0; i < size; ++i)
            text += random() % 20 == 0 ? QChar(char16_t(1 + random() % 0xFFFE)) : alphabet[random() % alphabet.size()];
        parser.enumerateParagraph(text, {0, text.size()}, [&](const InlineRange& paragraph, bool*) {
            parser.parseBlockAndInline(text, paragraph, [&](const InlineRange& r, InlineElement e) {
                ASSERT_GE(e, InlineElementIndent);
                ASSERT_LE(e, InlineElementURL);
                ASSERT_GE(r.location, paragraph.location);
                ASSERT_GE(r.length, 0);
                ASSERT_LE(r.end(), paragraph.end()) << text.toStdString();
            });
            ASSERT_NE(parser.block(), 6);
            parser.lastIndentWidth();
            parser.parseAutoIndent(text, paragraph);
            // A fresh parser's copy is exactly the line's size, so the sanitizer sees any read past it.
            InlineParser fresh;
            fresh.parseBlockAndInline(text, paragraph, [](const InlineRange&, InlineElement) {});
            fresh.lastIndentWidth();
        });
    }
}

// The editor hands the parser the text of the lines around an edit, not the whole note: a line parsed
// out of any stretch of whole lines holding it (or out of itself alone) reads exactly as out of the
// whole text, whatever ends the lines and wherever the line sits.
TEST(Markdown, ParserReadsNothingBeyondTheLinesItIsGiven)
{
    const QString texts[] = {
        QString::fromUtf16(u"# Head **b** #\n- [ ] todo #tag\r\n> quote *i* <a@b.cc>\rtail http://x.y/z"),
        QString::fromUtf16(u"\n\r\n\r\u2029"),
        QString::fromUtf16(u"1. one\u2029    code\u2029`x` ~~s~~ [t](u \"v\") ![i][r]\u2028same line\r"),
        QString::fromUtf16(u"* a\r\n\r\n**open\n_x_ @who &amp; \\* *\n"),
        QString::fromUtf16(u"---\r\n## x ##\r\n\t- [x] done\r\n"),
    };
    // Every scan the editor and the typewriter read after a parse, as one line, ranges made absolute.
    const auto read = [](InlineParser& parser, const QString& text, InlineRange line, int64_t offset,
                         bool withInline) {
        QStringList out;
        const auto callback = [&](const InlineRange& r, InlineElement e) {
            out << QStringLiteral("%1@%2+%3").arg(e).arg(offset + r.location).arg(r.length);
            if (e == InlineElementInlineLink || e == InlineElementReferenceImage)
                out << parser.lastInlineLinkText() + '|' + parser.lastInlineLinkURL() + '|' +
                           parser.lastInlineLinkTitle() + '|' + parser.lastInlineLinkLabel();
        };
        if (withInline)
            parser.parseBlockAndInline(text, line, callback);
        else
            parser.parseBlock(text, line, callback);
        const InlineRange prefix = parser.lastIndentAndPrefixRange();
        out << QStringLiteral("block %1 emphasis %2 width %3 prefix %4+%5 first %6")
                   .arg(parser.block())
                   .arg(parser.emphasis())
                   .arg(parser.lastIndentWidth())
                   .arg(offset + prefix.location)
                   .arg(prefix.length)
                   .arg(offset + parser.lastFirstNonSpace());
        out << parser.parseAutoIndent(text, line);
        for (const int64_t at : {line.location, line.location + line.length / 2}) {
            InlineRange word{at, 0};
            parser.expandText(text, &word, u'*');
            out << QStringLiteral("word %1+%2").arg(offset + word.location).arg(word.length);
        }
        return out.join(' ');
    };
    InlineParser parser;
    parser.spaceWidth = 1;
    parser.tabWidth = 10;
    parser.numberWidth = 100;
    parser.squaredBracketWidth = 1000;
    parser.otherCharacterWidth = 10000;
    for (const QString& text : texts) {
        QList<InlineRange> lines;
        parser.enumerateParagraph(text, {0, text.size()}, [&](const InlineRange& p, bool*) { lines << p; });
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const InlineRange line = lines[i];
            // The line alone, with its neighbours, and from the text's start to the line's end.
            const InlineRange stretches[] = {line,
                                             {lines[std::max<qsizetype>(i - 1, 0)].location, 0},
                                             {0, line.location + line.length}};
            for (bool withInline : {true, false}) {
                const QString whole = read(parser, text, line, 0, withInline);
                for (InlineRange stretch : stretches) {
                    if (stretch.length == 0) {
                        const InlineRange last = lines[std::min<qsizetype>(i + 1, lines.size() - 1)];
                        stretch.length = last.location + last.length - stretch.location;
                    }
                    const QString piece = text.mid(stretch.location, stretch.length);
                    EXPECT_EQ(read(parser, piece, {line.location - stretch.location, line.length}, stretch.location,
                                   withInline),
                              whole)
                        << "line " << i << " of «" << text.toStdString() << "» out of " << stretch.location << "+"
                        << stretch.length;
                }
            }
        }
    }
}
