#include "Markdown/Scanners.h"

#include <gtest/gtest.h>

#include <QString>

#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Forward = int64_t (*)(const char16_t*);

struct Case {
    std::u16string text;
    int64_t length;
};

std::string show(const std::u16string& s)
{
    return QString::fromStdU16String(s).toStdString();
}

void expectAll(const char* name, Forward scan, const std::vector<Case>& cases)
{
    for (const Case& c : cases)
        EXPECT_EQ(scan(c.text.c_str()), c.length) << name << " on «" << show(c.text) << "»";
}

int64_t ruleLine(const char16_t* p) { return uscan_rule_line(p); }
int64_t htmlTag(const char16_t* p) { return uscan_html_tag(p); }
int64_t linkTitle(const char16_t* p) { return uscan_link_title(p); }

}  // namespace

TEST(Markdown, ScannerRuleLine)
{
    expectAll("rule", ruleLine,
              {{u"---\n", 4}, {u"---", 4}, {u"-*-", 0}, {u"--x", 0}, {u"**", 3}, {u"- - -", 6}, {u"==", 3},
               {u"_ _   \n", 7}, {u"*", 0}, {u"--\r\n", 0}, {u"", 0}});
}

TEST(Markdown, ScannerHeadingOpen)
{
    struct Row {
        std::u16string text;
        int64_t length;
        int16_t level;
    };
    for (const Row& r : std::vector<Row>{{u"# a", 2, 1}, {u"#   a", 4, 1}, {u"#\n", 2, 1}, {u"######", 7, 6},
                                         {u"#a", 0, -1}, {u"#######", 0, -1}, {u"\n", 0, -1}, {u"", 0, -1}}) {
        int16_t level = -1;
        EXPECT_EQ(uscan_atx_open(r.text.c_str(), &level), r.length) << show(r.text);
        EXPECT_EQ(level, r.level) << show(r.text);
    }
}

TEST(Markdown, ScannerHeadingClose)
{
    struct Row {
        std::u16string text;  // from the blank that ends the opening part
        int64_t content;
        int64_t runOffset;
        int64_t runLength;
    };
    for (const Row& r : std::vector<Row>{{u" a ##", 2, 3, 2}, {u" a##", 4, -1, 0}, {u" a #  ", 2, 3, 1},
                                         {u" a #b #", 5, 6, 1}, {u" a ## b", 7, -1, 0}, {u" ##", 0, 1, 2},
                                         {u" Title  \n", 6, -1, 0}, {u"\n", 0, -1, 0}}) {
        const char16_t* start = nullptr;
        int64_t length = -1;
        EXPECT_EQ(uscan_atx_close(r.text.c_str(), &start, &length), r.content) << show(r.text);
        EXPECT_EQ(length, r.runLength) << show(r.text);
        EXPECT_EQ(start ? start - r.text.c_str() : -1, r.runOffset) << show(r.text);
    }
}

TEST(Markdown, ScannerListItemsAndBoxes)
{
    expectAll("checkbox", uscan_checkbox,
              {{u"[", 1}, {u"[\n", 1}, {u"[x]y", 3}, {u"[X] ", 4}, {u"[-]", 0}, {u"[ x", 0}, {u"[ ", 2}, {u"[ ]", 3}});
    expectAll("bullet", uscan_bullet_item,
              {{u"- a", 2}, {u"-", 2}, {u"-[ ]", 1}, {u"-a", 0}, {u"1", 0}, {u"\u2022\ta", 2}, {u"\u00b7 a", 0}});
    EXPECT_EQ(uscan_is_bullet_char(u'.'), 0);
    EXPECT_EQ(uscan_is_bullet_char(0x25E6), 1);

    struct Row {
        std::u16string text;
        int64_t length;
        int64_t number;
    };
    constexpr int64_t untouched = -7;
    for (const Row& r : std::vector<Row>{{u"12. a", 3, 12},
                                         {u"1)[ ]", 1, 1},
                                         {u"1.[x]", 1, 1},
                                         {u"1.a", 0, untouched},
                                         {u"1 a", 0, untouched},
                                         {u"09) x", 3, 9},
                                         // No wrap at 2^32: the next item must not restart at 0.
                                         {u"4294967295. x", 11, 4294967295},
                                         {u"99999999999999999999999. x", 24, std::numeric_limits<int64_t>::max()}}) {
        int64_t number = untouched;
        EXPECT_EQ(uscan_ordered_item(r.text.c_str(), &number), r.length) << show(r.text);
        EXPECT_EQ(number, r.number) << show(r.text);
    }
    expectAll("spaces", uscan_spaces, {{u" \t x", 3}, {u"x", 0}, {u"\n", 0}});
    expectAll("word", uscan_word, {{u"**  *", 2}, {u"ab\ncd", 2}, {u" a", 0}});
}

TEST(Markdown, ScannerEntities)
{
    expectAll("entity", uscan_entity,
              {{u"&amp;", 5}, {u"&#123;", 6}, {u"&#X1f;", 6}, {u"&a;", 0}, {u"&#;", 0}, {u"&#x;", 0},
               {u"&#12345678;", 11}, {u"&#123456789;", 0}, {u"&#x123456789;", 0}, {u"&1a;", 0}, {u"&foo;", 5},
               {u"&" + std::u16string(32, u'a') + u";", 34}, {u"&" + std::u16string(33, u'a') + u";", 0}, {u"&a b;", 0}});
}

TEST(Markdown, ScannerAutolinks)
{
    expectAll("uri", uscan_autolink_uri,
              {{u"HTTP://x>", 9}, {u"http:>", 6}, {u"foo:x>", 0}, {u"https://a b>", 0}, {u"http:\\<>", 8},
               {u"http:\\a>", 0}, {u"irisx:>", 0}, {u"iris.beep:x>", 12}, {u"brindlewick://todo>", 19},
               {u"z39.50s:\u00e9>", 10}, {u"http://a\nb>", 0}, {u"http://a", 0}});
    expectAll("email", uscan_autolink_email,
              {{u"a@b.c>", 6}, {u"a@b>", 4}, {u"a@-b>", 0}, {u"a@b..c>", 0}, {u"a@b.>", 0}, {u"a@b_c>", 0},
               {u".@b>", 4}, {u"a@b-c.d>", 8}, {u"a@b->", 0},
               {u"a@" + std::u16string(63, u'b') + u">", 66}, {u"a@" + std::u16string(64, u'b') + u">", 0}});
}

TEST(Markdown, ScannerRawHtml)
{
    expectAll("html", htmlTag,
              {{u"a>", 2}, {u"a />", 4}, {u"a b = 'c'>", 10}, {u"a b='>'>", 8}, {u"a b=c d>", 8}, {u"a b=c d e=f>", 12},
               {u"/a >", 4}, {u"!-- x -->", 9}, {u"!-- a--b -->", 0}, {u"!---->", 6}, {u"!-->", 0}, {u"!--->", 0},
               {u"?a>b?>", 6}, {u"?>", 0}, {u"?\?>", 3}, {u"!DOCTYPE html>", 14}, {u"!doctype html>", 0},
               {u"![CDATA[a]b]]>", 14}, {u"![CDATA[a]]", 0}, {u"1a>", 0}, {u"a>>", 2}, {u"ab", 2}, {u"/\n", 1},
               {u"a b='x", 6}, {u"a\n>", 3}, {u" a>", 0}, {u"", 0}});
}

TEST(Markdown, ScannerTags)
{
    expectAll("hashtag", uscan_hashtag,
              {{u"#abc", 4}, {u"#123", 0}, {u"#1a", 3}, {u"#1!a", 4}, {u"#!", 0}, {u"#-1", 0}, {u"#a-b", 2},
               {u"#a_b", 2}, {u"#a.b", 2}, {u"#a=b~c", 6}, {u"#12-3", 3}, {u"#", 0}, {u"# ", 0}, {u"#\u3000x", 3},
               {u"#\u4e2d\u6587", 3}, {u"#a\rb", 2}});
    expectAll("mention", uscan_mention, {{u"@bob", 4}, {u"@42", 0}, {u"@bob.smith", 4}, {u"#bob", 0}});
}

TEST(Markdown, ScannerBareEmailAndUrl)
{
    struct Row {
        std::u16string text;
        size_t at;  // the "@" or ":"
        int64_t length;
        int64_t before;
    };
    auto check = [](auto scan, const std::vector<Row>& rows) {
        for (const Row& r : rows) {
            int64_t before = -1;
            const char16_t* s = r.text.c_str();
            EXPECT_EQ(scan(s + r.at, s, &before), r.length) << show(r.text);
            EXPECT_EQ(before, r.before) << show(r.text);
        }
    };
    check(uscan_bare_email, {{u"a.b@c.d", 3, 4, 3}, {u"a.b@b", 3, 0, -1}, {u"@c.d", 0, 0, -1}, {u" @c.d", 1, 0, -1},
                             {u"x@b.c-", 1, 4, 1}, {u"x@b.c.", 1, 4, 1}, {u"..@b.c", 2, 4, 2}});
    check(uscan_bare_url, {{u"http://ab", 4, 5, 4}, {u"http://a$b", 4, 0, -1}, {u"http://a(b)", 4, 0, -1},
                           {u"http://!!b", 4, 6, 4}, {u"://ab", 0, 0, -1}, {u"http://a", 4, 0, -1},
                           {u"http://a.", 4, 0, -1}, {u"http://a.b", 4, 6, 4}, {u"http://ab?x=1.", 4, 9, 4},
                           {u"1.2://ab", 3, 5, 3}, {u"-://ab", 1, 5, 1}});
    const std::u16string ws = u"x y.z:";
    EXPECT_EQ(uscan_scheme_back(ws.c_str() + 5, ws.c_str()), 3);
    EXPECT_EQ(uscan_scheme_back(ws.c_str() + 5, ws.c_str() + 4), 1);  // never before the text's start
    EXPECT_EQ(uscan_email_local_back(ws.c_str(), ws.c_str()), 0);
}

TEST(Markdown, ScannerLinkParts)
{
    expectAll("destination", uscan_link_destination,
              {{u"<a b>", 5}, {u"<>", 2}, {u"a b", 1}, {u"", 0}, {u"(", 0}, {u"a(b)c", 5}, {u"a(b", 1}, {u"a((b))", 1},
               {u"<a\nb>", 2}, {u"<a>b", 4}, {u"<a\\>b>", 6}, {u"<a\\<b>", 6}});
    expectAll("title", linkTitle,
              {{u"\"a\"", 3}, {u"\"a", 0}, {u"()", 2}, {u"(a\nb)", 5}, {u"'a\\'", 4}, {u"\"a\\\"b\"", 6},
               {u"\"a\\\"", 4}, {u"(a(b)c)", 5}, {u"x", 0}});
    expectAll("label", uscan_link_label,
              {{u"[a[b]", 0}, {u"[a", 0}, {u"[]", 2}, {u"[a\\]b]", 6}, {u"[a\\[b]", 6}, {u"[a\\b]", 5}});
}

TEST(Markdown, ScannerMarkerRuns)
{
    const std::u16string s = u"****_`~";
    EXPECT_EQ(uscan_asterisk_run(s.c_str()), 3);
    EXPECT_EQ(uscan_asterisk_run(s.c_str() + 3), 1);
    EXPECT_EQ(uscan_underscore_run(u"__a"), 2);
    EXPECT_EQ(uscan_underscore_run(u"a"), 0);
    expectAll("backticks", uscan_backtick_run, {{u"````x", 4}, {u"x`", 0}});
    expectAll("tildes", uscan_tilde_run, {{u"~~~", 3}, {u"~a", 1}});
}

// The memo only saves work: at every "<", link-title opener and rule marker of a line, in order and
// then in random order, the answers must be those of the plain scan.
TEST(Markdown, ScannerMemoKeepsResults)
{
    std::mt19937 random(7);
    // Small alphabets, so that unclosed openers and later closers meet often.
    const std::u16string alphabets[] = {u"<?>x",     u"<!A >x",  u"<![CDATA]>x", u"\"'()\\x <",
                                        u"- *\t\nx=", u"-_ \t[]x", u"<?>!-[]CDATA \"'()\\x"};
    const auto expectSame = [](const std::u16string& line, size_t i, ScanMemo& memo, bool forwardOnly) {
        const char16_t* p = line.c_str() + i;
        if (*p == u'<' && (forwardOnly || (p[1] == u'!' && p[2] >= u'A' && p[2] <= u'Z'))) {
            ASSERT_EQ(uscan_html_tag(p + 1, &memo), uscan_html_tag(p + 1)) << show(line) << " at " << i;
        }
        if (*p == u'"' || *p == u'\'' || *p == u'(') {
            ASSERT_EQ(uscan_link_title(p, &memo), uscan_link_title(p)) << show(line) << " at " << i;
        }
        ASSERT_EQ(uscan_rule_line(p, &memo), uscan_rule_line(p)) << show(line) << " at " << i;
    };
    for (int round = 0; round < 20000; ++round) {
        const std::u16string& alphabet = alphabets[round % std::size(alphabets)];
        std::u16string line(random() % 40, u' ');
        for (char16_t& c : line)
            c = alphabet[random() % alphabet.size()];
        if (round % 3 == 0)
            line = u"<![CDATA[" + line;
        ScanMemo memo;
        for (size_t i = 0; i < line.size(); ++i)
            expectSame(line, i, memo, true);
        // Declarations, titles and rules may be asked in any order (processing instructions and character
        // data only forward, as the inline scan does).
        ScanMemo shuffled;
        for (size_t k = 0; k < line.size(); ++k)
            expectSame(line, random() % line.size(), shuffled, false);
    }
}

// Random text through every scanner, each string in a heap block of exactly its size so that the
// sanitizer build catches any read past the NUL.
TEST(Markdown, ScannerRandomStaysInsideText)
{
    std::mt19937 random(20261206);
    const std::u16string alphabet = u"#@:/<>!?-[]()'\"\\`*_~&;.=+ \t\nx1aZCDATAhtp\u3000\u2022";
    for (int round = 0; round < 100000; ++round) {
        const size_t size = random() % 48;
        auto text = std::make_unique<char16_t[]>(size + 1);
        for (size_t i = 0; i < size; ++i) {
            const unsigned pick = random() % 16;
            text[i] = pick == 0 ? char16_t(1 + random() % 0xFFFE) : alphabet[random() % alphabet.size()];
        }
        text[size] = 0;
        const size_t at = size ? random() % (size + 1) : 0;
        const char16_t* p = text.get() + at;
        const int64_t room = int64_t(size - at);
        const int64_t behind = int64_t(at);
        int16_t level;
        int64_t out;
        const char16_t* start;
        ScanMemo memo;
        const int64_t forward[] = {
            uscan_rule_line(p), uscan_atx_open(p, &level), uscan_atx_close(p, &start, &out), uscan_spaces(p),
            uscan_word(p), uscan_checkbox(p), uscan_bullet_item(p), uscan_ordered_item(p, &out),
            uscan_autolink_uri(p), uscan_autolink_email(p), uscan_html_tag(p), uscan_html_tag(p, &memo),
            uscan_entity(p), uscan_backtick_run(p), uscan_tilde_run(p), uscan_asterisk_run(p),
            uscan_underscore_run(p), uscan_tag_chars(p), uscan_tag_digits(p), uscan_tag_word(p), uscan_hashtag(p),
            uscan_mention(p), uscan_bare_email(p, text.get(), &out), uscan_bare_url(p, text.get(), &out),
            uscan_link_destination(p), uscan_link_title(p), uscan_link_title(p, &memo), uscan_link_label(p),
        };
        for (size_t k = 0; k < std::size(forward); ++k) {
            // The rule, heading-open and bullet-item lengths count the line's terminator, the NUL included.
            const int64_t limit = k == 0 || k == 1 || k == 6 ? room + 1 : room;
            ASSERT_GE(forward[k], 0) << "scanner " << k;
            ASSERT_LE(forward[k], limit) << "scanner " << k << " on «" << show(std::u16string(p)) << "»";
        }
        ASSERT_LE(uscan_email_local_back(p, text.get()), behind);
        ASSERT_LE(uscan_scheme_back(p, text.get()), behind);
        int64_t before = 0;
        if (uscan_bare_email(p, text.get(), &before)) {
            ASSERT_LE(before, behind);
        }
        if (uscan_bare_url(p, text.get(), &before)) {
            ASSERT_LE(before, behind);
        }
    }
}
