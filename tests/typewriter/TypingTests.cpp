#include "TypewriterHarness.h"

#include <gtest/gtest.h>

namespace {

class TypewriterTyping : public testing::TestWithParam<Mode> {};

struct KeyRow {
    const char* before;
    const char* keys;  // "\b" is Backspace
    const char* after;
    bool handled;      // by the last key
    TypewriterState state;
    const char* stateText;
};

// Return, Tab, Backspace and brackets; the texts come in LF, CR LF and lone-CR forms alike.
const KeyRow keyRows[] = {
    {"- item|", "\n", "- item\n- |", true, TypewriterStateListPrefix, "- "},
    {"- item|", "\n\n", "- item\n|", true, TypewriterStateIdle, ""},
    {"- item|", "\n\b", "- item\n|", true, TypewriterStateIdle, ""},
    {"  3. item|", "\n", "  3. item\n  4. |", true, TypewriterStateListPrefix, "4. "},
    {"- [x] done|", "\n", "- [x] done\n- [ ] |", true, TypewriterStateListPrefix, "- [ ] "},
    {"> > q|", "\n", "> > q\n> > |", true, TypewriterStateQuotePrefix, "> > "},
    {"> > q|", "\n\b", "> > q\n> |", true, TypewriterStateQuotePrefix, "> "},
    {"> > q|", "\n\b\b", "> > q\n|", true, TypewriterStateIdle, ""},
    {"|- item", "\n", "\n|- item", false, TypewriterStateIdle, ""},
    {"plain|", "\n", "plain\n|", false, TypewriterStateIdle, ""},
    {"# Heading|", "\n", "# Heading\n|", false, TypewriterStateIdle, ""},
    {"  two|", "\n", "  two\n  |", true, TypewriterStateIdle, ""},
    {"- |item", "\n", "- \n- |item", true, TypewriterStateListPrefix, "- "},
    {"- |x", "\n", "- \n- |x", true, TypewriterStateListPrefix, "- "},  // one character left is not an empty item
    {"3. |", "\t", "\t1. |", true, TypewriterStateIdle, ""},
    {"- a|", "\t", "\t- a|", true, TypewriterStateIdle, ""},
    {"plain|", "\t", "plain\t|", false, TypewriterStateIdle, ""},
    {"- |", "[]", "- [ ] |", true, TypewriterStateListPrefix, " ] "},
    {"- |", "[]\b", "- [|", true, TypewriterStateIdle, ""},
    {"- |", "[x]", "- [x]|", false, TypewriterStateIdle, ""},
    {"plain |", "[]", "plain []|", false, TypewriterStateIdle, ""},
    {"- item|", "\nab\b", "- item\n- a|", false, TypewriterStateIdle, ""},
    {"- item|", "\nx\n", "- item\n- x\n- |", true, TypewriterStateListPrefix, "- "},
    // Line ends other than LF.
    {"a\r\n- item|\r\nz", "\n\n", "a\r\n- item\n|\r\nz", true, TypewriterStateIdle, ""},
    {"a\r\n- item|\r\nz", "\n\b", "a\r\n- item\n|\r\nz", true, TypewriterStateIdle, ""},
    {"- item|\rz", "\n\n", "- item\n|\rz", true, TypewriterStateIdle, ""},
    {"x\r\n3. |\r\ny", "\t", "x\r\n\t1. |\r\ny", true, TypewriterStateIdle, ""},
    {"> q|\r\n", "\n\b", "> q\n|\r\n", true, TypewriterStateIdle, ""},
};

TEST_P(TypewriterTyping, KeysContinueAndEndStructure)
{
    for (const KeyRow& row : keyRows) {
        SCOPED_TRACE(QStringLiteral("%1 + %2").arg(row.before, QString(row.keys).toHtmlEscaped()).toStdString());
        Harness h(GetParam());
        h.load(row.before);
        EXPECT_EQ(h.keys(row.keys), row.handled);
        EXPECT_EQ(h.marked(), QString(row.after));
        EXPECT_EQ(h.typewriter().state(), row.state);
        const TextRange range = h.typewriter().typeStateRange();
        if (row.state != TypewriterStateIdle) {
            EXPECT_EQ(h.typewriter().text().mid(range.location, range.length), QString(row.stateText));
        }
    }
}

// A view that answers the range reads itself, as the editor's does over a long text, and counts the
// reads of its whole text.
class RangeReadingView : public TypewriterTextView {
public:
    const QString& string() const override
    {
        ++wholeReads;
        return text;
    }
    qsizetype length() const override { return text.size(); }
    QChar characterAtIndex(qsizetype index) const override
    {
        return index >= 0 && index < text.size() ? text[index] : QChar();
    }
    QString substring(TextRange range) const override
    {
        range = TypewriterText::clipped(range, text.size());
        return text.mid(range.location, range.length);
    }
    TextRange paragraphRange(TextRange range) const override { return paragraphRangeForRange(text, range); }
    void setString(const QString& string) override { text = string; }
    void insertText(const QString& string, TextRange range) override { text.replace(range.location, range.length, string); }
    void beginUndoGroup() override {}
    void endUndoGroup() override {}

    QString text;
    mutable int wholeReads = 0;
};

// A keystroke reads the lines around it, never the whole note, and comes to the same text.
TEST(TypewriterView, KeystrokesReadOnlyTheLinesAroundThem)
{
    std::vector<KeyRow> rows(std::begin(keyRows), std::end(keyRows));
    rows.push_back({"a\nb|\nc", "x\b\b", "a\n|\nc", false, TypewriterStateIdle, ""});
    rows.push_back({"* ‹a›", "*", "* *|", false, TypewriterStateIdle, ""});
    for (const KeyRow& row : rows) {
        SCOPED_TRACE(QStringLiteral("%1 + %2").arg(row.before, QString(row.keys).toHtmlEscaped()).toStdString());
        RangeReadingView view;
        Typewriter typewriter(&view);
        const Marked start = unmark(row.before);
        typewriter.setText(start.text);
        TextRange selection = start.selection;
        view.wholeReads = 0;
        for (const QChar c : QString(row.keys)) {
            TextRange range = selection;
            QString text(c);
            if (c == u'\b') {
                text.clear();
                if (range.length == 0)
                    range = {range.location - 1, 1};
            }
            if (typewriter.handleChangeTextInRange(&range, text)) {
                selection = range;
                continue;
            }
            typewriter.replaceRange(range, text);
            selection = {range.location + text.size(), 0};
        }
        EXPECT_EQ(view.wholeReads, 0);
        EXPECT_EQ(mark(view.text, selection), QString(row.after));
    }
}

// A pending prefix must not act on a text that changed under it: the Backspace that would have
// removed the prefix deletes one character of whatever is there now.
TEST_P(TypewriterTyping, StaleStateIsNeverUsed)
{
    const std::function<void(Harness&)> outsideChanges[] = {
        [](Harness& h) { h.typewriter().setText("abcdefghijkl"); },
        [](Harness& h) { h.typewriter().setText("- item\n- "); },                 // same text, a new note
        [](Harness& h) { h.typewriter().replaceRange({7, 2}, "xy"); },            // same length
        [](Harness& h) { h.typewriter().replaceRange({0, 0}, "z"); },             // prefix moved
    };
    for (const auto& change : outsideChanges) {
        Harness h(GetParam());
        h.load("- item|");
        h.key("\n");
        ASSERT_EQ(h.typewriter().state(), TypewriterStateListPrefix);
        change(h);
        const QString before = h.typewriter().text();
        h.select({9, 0});  // where Backspace would remove the whole prefix
        EXPECT_FALSE(h.key("\b"));
        EXPECT_EQ(h.typewriter().text(), QString(before).remove(8, 1));
        EXPECT_EQ(h.typewriter().state(), TypewriterStateIdle);
    }
}

TEST(TypewriterView, ReplacementBehindTheEngineClearsThePendingPrefix)
{
    Harness h(Mode::View);
    h.load("> > q|");
    h.key("\n");
    h.typing()->setString("0123456789");  // as long as "> > q\n> > "
    h.select({10, 0});
    EXPECT_FALSE(h.key("\b"));
    EXPECT_EQ(h.typewriter().text(), "012345678");
}

struct CursorRow {
    TextRange replaced;
    const char* text;
    TextRange selection;
    TextRange after;       // afterCursor
    TextRange before;      // beforeCursor
};

TEST_P(TypewriterTyping, ReplacementsKeepTheSelectionOnItsText)
{
    const CursorRow rows[] = {
        {{1, 0}, "XY", {1, 0}, {1, 0}, {3, 0}},  // at the caret: after leaves it in front, before moves it
        {{1, 0}, "XY", {1, 2}, {1, 4}, {3, 2}},
        {{0, 0}, "XY", {2, 1}, {4, 1}, {4, 1}},
        {{2, 3}, "", {1, 3}, {1, 1}, {1, 1}},    // an end inside the removal collapses to its start
        {{2, 3}, "", {5, 1}, {2, 1}, {2, 1}},
        {{2, 2}, "Q", {3, 0}, {2, 0}, {3, 0}},
        {{4, 99}, "", {0, 6}, {0, 4}, {0, 4}},   // a range past the end is clipped
    };
    for (const CursorRow& row : rows) {
        for (const bool beforeCursor : {false, true}) {
            Harness h(GetParam());
            h.typewriter().setText("abcdef");
            TextRange selection = row.selection;
            if (beforeCursor)
                h.typewriter().replaceRangeBeforeCursor(row.replaced, row.text, &selection);
            else
                h.typewriter().replaceRangeAfterCursor(row.replaced, row.text, &selection);
            EXPECT_EQ(selection, beforeCursor ? row.before : row.after)
                << row.replaced.location << "," << row.replaced.length << " " << beforeCursor;
        }
    }
}

TEST_P(TypewriterTyping, LineRangeForLineNumber)
{
    Harness h(GetParam());
    const struct {
        const char* text;
        qsizetype number;
        TextRange line;
    } rows[] = {
        {"ab\r\ncd\ne\rf", 0, {0, 2}}, {"ab\r\ncd\ne\rf", 1, {0, 2}}, {"ab\r\ncd\ne\rf", 2, {4, 2}},
        {"ab\r\ncd\ne\rf", 4, {9, 1}}, {"ab\r\ncd\ne\rf", 5, {10, 0}}, {"ab\n", 2, {3, 0}},
        {"ab\n", 7, {3, 0}},           {"", 1, {0, 0}},                 {"", 3, {0, 0}},
    };
    for (const auto& row : rows) {
        h.typewriter().setText(row.text);
        EXPECT_EQ(h.typewriter().lineRangeForLineNumber(row.number), row.line) << row.text << " " << row.number;
    }
}

INSTANTIATE_TEST_SUITE_P(Typewriter, TypewriterTyping, testing::Values(Mode::Store, Mode::View), modeName);

} // namespace
