#include "text/TextPositionMap.h"

#include <gtest/gtest.h>

namespace {

// A text with "|" where a position stands; the text without it and the position.
std::pair<QString, qsizetype> marked(QString text)
{
    const qsizetype at = text.indexOf(u'|');
    text.remove(at, 1);
    return {text, at};
}

QString numberedLines(const char* format, int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QString::asprintf(format, i);
    return text;
}

TEST(TextPositionMap, APositionStaysWithTheTextItStoodIn)
{
    const QString rewritten = numberedLines("line %d of a note\n", 3000);
    QString caretAtLine10 = rewritten;
    caretAtLine10.insert(rewritten.indexOf(u"line 10 "), u'|');
    const struct {
        const char* name;
        QString before;
        QString after;
    } cases[] = {
        {"characters inserted on a line above", "one\ntwo\nthree and fo|ur\n", "one\ntwo 16 more units\nthree and fo|ur\n"},
        {"a line removed above", "one\ntwo\nthr|ee\n", "one\nthr|ee\n"},
        {"a change above and another below", "a\nb\nc|c\nd\ne\n", "A changed\nb\nc|c\nd\nE\n"},
        {"lines added above and one removed below", "x\ny|y\nz\nw\n", "new\nlines\nx\ny|y\nw\n"},
        {"a change later on its own line", "ab|cd\nef\n", "ab|cd\nexf\n"},
        {"an insertion at the position comes after it", "ab|cd", "ab|XYcd"},
        {"inside a replaced word, the same distance in", "one t|wo three", "one 2|2 three"},
        {"inside a replaced word, at most its new end", "one tw|o three", "one X| three"},
        {"the text emptied", "abc|", "|"},
        {"lines ending in CR LF", "a\r\nb\r\nc|c\r\n", "a\r\nNEW\r\nb\r\nc|c\r\n"},
        {"the same text", "same| text", "same| text"},
        {"every line rewritten: the distance from the start", caretAtLine10, caretAtLine10.toUpper()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto [before, position] = marked(c.before);
        const auto [after, expected] = marked(c.after);
        const TextPositionMap map(before, after);
        EXPECT_EQ(map.map(position), expected);
        // The changed spans hold the whole difference.
        QString rebuilt = before;
        rebuilt.replace(map.changedBefore().location, map.changedBefore().length,
                        after.mid(map.changedAfter().location, map.changedAfter().length));
        EXPECT_EQ(rebuilt, after);
    }
}

TEST(TextPositionMap, ASelectionKeepsItsTextAndAnEndInAChangeNarrowsIt)
{
    const QString before = QStringLiteral("one\ntwo three\nfour\n");
    const QString after = QStringLiteral("zero\none\ntwo three\nfive\n");
    const TextPositionMap map(before, after);
    EXPECT_EQ(map.map(TextRange{4, 9}), (TextRange{9, 9})) << "\"two three\"";
    EXPECT_EQ(after.mid(9, 9), QStringLiteral("two three"));
    EXPECT_EQ(map.map(TextRange{8, 8}), (TextRange{13, 8})) << "\"three\\nfo\" ends inside \"four\"";
}

} // namespace
