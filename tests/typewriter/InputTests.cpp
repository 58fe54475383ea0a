#include "TypewriterHarness.h"

#include "Calculator/Calculator.h"

#include <gtest/gtest.h>

namespace {

class TypewriterInput : public testing::TestWithParam<Mode> {};

TEST_P(TypewriterInput, EachButtonTypesItsCharacter)
{
    const QString characters = QStringLiteral("\t#;:*/\u201D])-+@<>?,'");  // after a letter: closing forms
    for (int64_t button = 0; button < characters.size(); ++button) {
        Harness h(GetParam());
        h.load("a|b");
        EXPECT_TRUE(h.apply([&](Typewriter& t, TextRange* r) { return t.handleButton(button, r); }));
        EXPECT_EQ(h.marked(), QStringLiteral("a%1|b").arg(characters[button])) << button;
    }
}

TEST_P(TypewriterInput, ButtonsWrapAndPair)
{
    const struct {
        int64_t button;
        const char* before;
        const char* after;
        bool handled;
    } rows[] = {
        {0, "3. |", "\t1. |", true},  // Tab on a list item indents it
        {0, "a‹bc›d", "a\t|d", true},
        {1, "‹xy›", "#|", true},      // only quotes and brackets wrap a selection
        {4, "a ‹word› b", "a ‹*word*› b", true},
        // Opening after a line start, white space or another opening; closing after anything else.
        {6, "say |", "say \u201C|", true},
        {6, "‹a b›", "‹\u201Ca b\u201D›", true},
        {7, "- |", "- [|", true},
        {7, "a\n|", "a\n[|", true},
        {7, "(|", "([|", true},
        {8, "|", "(|", true},
        {8, "\u201C|", "\u201C(|", true},
        {8, "a ‹b\nc› d", "a ‹(b\nc)› d", true},
        {16, "‹it›", "‹'it'›", true},
        {17, "a‹b›", "a‹b›", false},
        {-1, "a|", "a|", false},
    };
    for (const auto& row : rows) {
        Harness h(GetParam());
        h.load(row.before);
        EXPECT_EQ(h.apply([&](Typewriter& t, TextRange* r) { return t.handleButton(row.button, r); }), row.handled);
        EXPECT_EQ(h.marked(), QString(row.after)) << row.button << " on " << row.before;
    }
}

TEST_P(TypewriterInput, BackspaceUnwrapsWhatTheAsteriskWrapped)
{
    const struct {
        const char* before;
        const char* steps;  // "*" wraps the selection, "\b" is Backspace, anything else a key
        const char* after;
        TypewriterState state;
    } rows[] = {
        {"a ‹word›", "*", "a ‹*word*›", TypewriterStateAsteriskWrap},
        {"a ‹word›", "*\b", "a ‹word›", TypewriterStateAsteriskWrap},
        {"a ‹word›", "*\b\b", "a |", TypewriterStateIdle},  // nothing wrapped any more: an ordinary delete
        {"‹word›", "**\b", "‹*word*›", TypewriterStateAsteriskWrap},
        {"‹*›", "*\b", "‹*›", TypewriterStateAsteriskWrap},
        {"‹*›", "*\b\b", "|", TypewriterStateIdle},          // one "*" is no wrap
        {"‹›", "*", "*|", TypewriterStateIdle},
        {"‹word›", "*x", "x|", TypewriterStateIdle},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(QStringLiteral("%1 + %2").arg(row.before, QString(row.steps).toHtmlEscaped()).toStdString());
        Harness h(GetParam());
        h.load(row.before);
        for (const QChar step : QString(row.steps)) {
            if (step == u'*')
                EXPECT_TRUE(h.apply([](Typewriter& t, TextRange* r) { return t.handleAsteriskInRange(r); }));
            else
                h.key(step);
        }
        EXPECT_EQ(h.marked(), QString(row.after));
        EXPECT_EQ(h.typewriter().state(), row.state);
    }
}

// Only the whole wrapped stretch, unchanged since, unwraps; anything else deletes as usual.
TEST_P(TypewriterInput, OnlyTheWrappedSelectionUnwraps)
{
    const std::function<void(Harness&)> changes[] = {
        [](Harness& h) { h.select({0, 3}); },
        [](Harness& h) { h.select({6, 0}); },
        [](Harness& h) { h.typewriter().replaceRange({1, 1}, "W"); },
    };
    for (const auto& change : changes) {
        Harness h(GetParam());
        h.load("‹word›");
        h.apply([](Typewriter& t, TextRange* r) { return t.handleAsteriskInRange(r); });
        change(h);
        const TextRange range = h.selection().length ? h.selection() : TextRange{h.selection().location - 1, 1};
        const QString expected = h.typewriter().text().remove(range.location, range.length);
        EXPECT_FALSE(h.key("\b"));
        EXPECT_EQ(h.typewriter().text(), expected);
    }
}

TEST_P(TypewriterInput, WriteTypesWhatTheEngineLeaves)
{
    const struct {
        const char* before;
        QStringList texts;  // written one after another at the selection
        const char* after;
        TypewriterState state;
    } rows[] = {
        {"- item|", {"\n"}, "- item\n- |", TypewriterStateListPrefix},
        {"- item|", {"\n", ""}, "- item\n- |", TypewriterStateIdle},  // a declined deletion ends the prefix
        {"- |", {"[", "]"}, "- [ ] |", TypewriterStateListPrefix},
        {"plain|", {"\n"}, "plain\n|", TypewriterStateIdle},
        {"a‹bc›d", {"xyz"}, "axyz|d", TypewriterStateIdle},
        {"a‹bc›d", {""}, "a|d", TypewriterStateIdle},
    };
    for (const auto& row : rows) {
        Harness h(GetParam());
        h.load(row.before);
        for (const QString& text : row.texts)
            h.apply([&](Typewriter& t, TextRange* r) { t.write(text, r); return true; });
        EXPECT_EQ(h.marked(), QString(row.after)) << row.before;
        EXPECT_EQ(h.typewriter().state(), row.state) << row.before;
    }
}

TEST_P(TypewriterInput, SuggestedWordsFitTheTextAround)
{
    constexpr int64_t bare = TypewriterSuggestBareSymbol, unbracket = TypewriterSuggestUnbracket,
                      single = TypewriterSuggestSingleBlank, match = TypewriterSuggestMatchStart;
    const struct {
        const char* before;
        const char* word;
        int64_t options;
        const char* after;
    } rows[] = {
        {"hel|", "hello", 0, "helhello|"},
        {"‹old›", "new", 0, "new|"},
        {"say HEL|", "hello", match, "say hello|"},
        {"ahel|", "hello", match, "ahelhello|"},  // the match starts a word
        {"- |", "word", bare, "-word|"},
        {"+ |", "x", bare, "+ x|"},
        {"- |", "->", bare | match, "->|"},
        {"[|]", "word", unbracket, "word|"},
        {"(‹ab›)", "word", unbracket, "word|"},
        {"[|)", "word", unbracket, "[word|)"},
        {"(he|)", "hello", unbracket | match, "hello|"},
        {"a | b", "word ", 0, "a word | b"},
        {"a | b", "word ", single, "a word |b"},
        {"a |", " word", single, "a word|"},
        {"a|", "", bare | unbracket | single | match, "a|"},
    };
    for (const auto& row : rows) {
        Harness h(GetParam());
        h.load(row.before);
        const bool inserted =
            h.apply([&](Typewriter& t, TextRange* r) { return t.handleSuggestWord(row.word, row.options, r); });
        EXPECT_EQ(inserted, *row.word != 0) << row.word;
        EXPECT_EQ(h.marked(), QString(row.after)) << row.word << " on " << row.before << " with " << row.options;
    }
}

TEST_P(TypewriterInput, ReadingsAndQuietOperations)
{
    Harness h(GetParam());
    h.load("- item|");
    h.key("\n");  // a pending prefix that nothing below may disturb
    const QString text = h.typewriter().text();
    EXPECT_EQ(h.typewriter().attributedText().string(), text);
    EXPECT_EQ(h.typewriter().substringWithRange({2, 4}), "item");
    EXPECT_EQ(h.typewriter().substringWithRange({5, 50}), "m\n- ");
    EXPECT_EQ(h.typewriter().substringWithRange({50, 2}), "");
    TextRange range{3, 2};
    h.typewriter().reloadSuggestInRange(&range);
    h.typewriter().reloadSuggestInRange(&range, "after");
    EXPECT_EQ(range, (TextRange{3, 2}));
    EXPECT_EQ(h.typewriter().text(), text);
    EXPECT_EQ(h.typewriter().state(), TypewriterStateListPrefix);
    EXPECT_TRUE(h.typewriter().shouldRemoveCheckboxAlongWithListMarker());
    EXPECT_EQ(h.typewriter().calculator(), nullptr);
    const auto calculator = std::make_shared<Calculator>();
    h.typewriter().setCalculator(calculator);
    EXPECT_EQ(h.typewriter().calculator(), calculator);
}

// A view with styled text of its own, noting whether the engine says it is editing as each edit comes.
class StyledView : public TypewriterTextView {
public:
    const QString& string() const override { return text.string(); }
    void setString(const QString& string) override { text = AttributedString(string); }
    void insertText(const QString& string, TextRange range) override
    {
        editing.push_back(typewriter->isEditingText());
        text.replaceCharacters(range, string);
    }
    void beginUndoGroup() override {}
    void endUndoGroup() override {}
    AttributedString attributedString() const override { return text; }

    AttributedString text;
    const Typewriter* typewriter = nullptr;
    std::vector<bool> editing;
};

TEST(TypewriterView, AttributedTextAndEditingFlagComeFromTheView)
{
    StyledView view;
    Typewriter typewriter(&view);
    view.typewriter = &typewriter;
    typewriter.setText("see https://x.org");
    TextAttributes link;
    link.link = "https://x.org";
    view.text.setAttributes(link, {4, 13});
    EXPECT_EQ(typewriter.attributedText().attributesAtIndex(6), link);
    EXPECT_TRUE(typewriter.attributedText().attributesAtIndex(1).isEmpty());

    TextRange range{0, 3};
    typewriter.handleButton(8, &range);
    EXPECT_EQ(typewriter.text(), "(see) https://x.org");
    EXPECT_EQ(view.editing, std::vector<bool>{true});
    EXPECT_FALSE(typewriter.isEditingText());
}

INSTANTIATE_TEST_SUITE_P(Typewriter, TypewriterInput, testing::Values(Mode::Store, Mode::View), modeName);

} // namespace
