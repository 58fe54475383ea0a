#include "TypewriterHarness.h"

#include "../store/LogCapture.h"

#include <gtest/gtest.h>

#include <random>

namespace {

class TypewriterActions : public testing::TestWithParam<Mode> {};

struct ActionRow {
    TypewriterAction action;
    const char* before;
    const char* after;  // and, applied once more, back to `before` when `toggles`
    bool toggles;
};

const ActionRow actionRows[] = {
    // Emphasis: bare markers, words, enclosing runs, several lines.
    {TypewriterActionBold, "a | b", "a **|** b", true},
    {TypewriterActionBold, "*|*", "***|***", false},
    {TypewriterActionItalic, "**|**", "***|***", false},
    {TypewriterActionItalic, "a | b", "a *|* b", true},
    {TypewriterActionStrikethrough, "a | b", "a ~~|~~ b", true},
    {TypewriterActionBold, "wo|rd", "**wo|rd**", true},
    {TypewriterActionBold, "*wo|rd*", "***wo|rd***", true},
    {TypewriterActionItalic, "**wo|rd**", "***wo|rd***", true},
    {TypewriterActionBold, "x **wo|rd** y", "x wo|rd y", true},
    {TypewriterActionItalic, "‹word›", "*‹word›*", true},
    {TypewriterActionStrikethrough, "‹- one\n- two›", "‹- ~~one~~\n- ~~two›~~", false},
    {TypewriterActionStrikethrough, "‹- one\r\n- two›", "‹- ~~one~~\r\n- ~~two›~~", false},
    // Headings.
    {TypewriterActionHeading2, "- it|em", "## it|em", false},
    {TypewriterActionHeading2, "## it|em", "it|em", false},
    {TypewriterActionHeading3, "## Ti|tle", "### Ti|tle", false},
    {TypewriterActionHeading1, "## Ti|tle ##", "# Ti|tle #", false},
    {TypewriterActionHeading1, "|", "# |", true},
    // Lists.
    {TypewriterActionUnorderedList, "‹a\n\nb›", "- ‹a\n\n- b›", true},
    {TypewriterActionUnorderedList, "## Ti|tle ##", "- Ti|tle ", false},
    {TypewriterActionUnorderedList, "1. [ ] ta|sk", "- [ ] ta|sk", false},
    {TypewriterActionOrderedList, "‹a\nb\n\nc›", "1. ‹a\n2. b\n\n3. c›", true},
    {TypewriterActionOrderedList, "‹\n›", "1. ‹\n›", true},
    {TypewriterActionOrderedList, "‹\n\n›", "1. ‹\n2. \n›", true},
    {TypewriterActionTodoList, "‹* a\nb›", "‹* [ ] a\n* [ ] b›", false},
    {TypewriterActionTodoList, "‹* [ ] a\n* [ ] b›", "‹a\nb›", false},
    {TypewriterActionTodoList, "2. it|em", "2. [ ] it|em", false},
    {TypewriterActionTodoList, "2. [ ] it|em", "it|em", false},
    {TypewriterActionTodoListComplete, "‹- [ ] a\n- [x] b›", "‹- [x] a\n- [x] b›", false},
    {TypewriterActionTodoListComplete, "‹- [x] a\n- [x] b›", "‹- [ ] a\n- [ ] b›", false},
    {TypewriterActionTodoListComplete, "‹+ a\nb›", "‹+ [ ] a\n+ [ ] b›", false},
    // Shifting.
    {TypewriterActionShiftRight, "‹  a\n\n  b›", "    ‹  a\n    \n      b›", false},
    {TypewriterActionShiftRight, "‹a\n  b›", "    ‹a\n      b›", false},
    {TypewriterActionShiftRight, "‹\ta\n  b›", "\t‹\ta\n\t  b›", false},
    {TypewriterActionShiftLeft, "\t\t|x", "\t|x", false},
    {TypewriterActionShiftLeft, "‹      a\n b\nc›", "‹  a\nb\nc›", false},
    {TypewriterActionShiftLeft, "‹ \r\n\tb›", "‹\r\nb›", false},
};

TEST_P(TypewriterActions, ActionsToggleMarkdown)
{
    for (const ActionRow& row : actionRows) {
        SCOPED_TRACE(QStringLiteral("%1 on %2").arg(row.action).arg(row.before).toStdString());
        Harness h(GetParam());
        h.load(row.before);
        EXPECT_TRUE(h.action(row.action));
        EXPECT_EQ(h.marked(), QString(row.after));
        if (row.toggles) {
            EXPECT_TRUE(h.action(row.action));
            EXPECT_EQ(h.typewriter().text(), unmark(row.before).text);
        }
    }
}

// CR LF and lone-CR notes take the same edits as LF notes.
TEST_P(TypewriterActions, OtherLineEndsGiveTheSameResult)
{
    for (const ActionRow& row : actionRows) {
        const QString before(row.before);
        if (!before.contains(u'\n') || before.contains(u'\r'))
            continue;
        for (const QString& ending : {QStringLiteral("\r\n"), QStringLiteral("\r")}) {
            SCOPED_TRACE(QStringLiteral("%1 on %2").arg(row.action).arg(before).toStdString());
            Harness h(GetParam());
            h.load(QString(before).replace(u'\n', ending));
            EXPECT_TRUE(h.action(row.action));
            EXPECT_EQ(h.typewriter().text().replace(ending, "\n"), unmark(row.after).text);
        }
    }
}

// Seeded notes and commands: the engine on its own string and on a view must agree on text and selection.
TEST(TypewriterModes, StoreAndViewAgree)
{
    const QStringList pieces{"- ", "1. ", "- [ ] ", "> ", "## ", "  ", "\t", "word", "**b**", "*i*", "~~s~~", " ", "\n", "\r\n", "x"};
    std::mt19937 random(20261206);
    for (int round = 0; round < 300; ++round) {
        QString text;
        for (int i = std::uniform_int_distribution(1, 24)(random); i > 0; --i)
            text += pieces[std::uniform_int_distribution<qsizetype>(0, pieces.size() - 1)(random)];
        const qsizetype a = std::uniform_int_distribution<qsizetype>(0, text.size())(random);
        const qsizetype b = std::uniform_int_distribution<qsizetype>(0, text.size())(random);
        const TextRange selection{std::min(a, b), std::abs(a - b)};
        const auto action = TypewriterAction(std::uniform_int_distribution(0, 16)(random));
        QString results[2];
        for (const Mode mode : {Mode::Store, Mode::View}) {
            Harness h(mode);
            h.typewriter().setText(text);
            h.select(selection);
            h.action(action);
            results[mode == Mode::View] = h.marked();
            EXPECT_LE(h.selection().end(), h.typewriter().text().size());
        }
        EXPECT_EQ(results[0], results[1]) << action << " on " << mark(text, selection).toStdString();
    }
}

TEST_P(TypewriterActions, AddLinkReadsThePasteboard)
{
    const struct {
        const char* before;
        const char* pasteboard;
        const char* after;
    } rows[] = {
        {"‹word›", "https://example.org/a", "[word](https://example.org/a)|"},
        {"wo|rd", "https://example.org/a", "[word](https://example.org/a)|"},
        {"‹word›", "https://example.org\nsecond line", "[word](|)"},
        {"‹word›", "https://example.org\rx", "[word](|)"},
        {"‹word›", "no address", "[word](|)"},
        {"a | b", "https://x.org", "a [|](https://x.org) b"},
        {"a | b", "", "a [|]() b"},
    };
    for (const auto& row : rows) {
        Harness h(GetParam());
        h.typewriter().setPasteboardReader([&] { return QString(row.pasteboard); });
        h.load(row.before);
        EXPECT_TRUE(h.action(TypewriterActionAddLink));
        EXPECT_EQ(h.marked(), QString(row.after)) << row.before << " " << row.pasteboard;
    }
}

TEST_P(TypewriterActions, MissingActionsChangeNothingAndLogTheirCode)
{
    const auto log = LogCapture::install();
    for (const int64_t code : {9, 17, 18, 19, 20, -1}) {
        Harness h(GetParam());
        h.load("- ‹item›");
        EXPECT_FALSE(h.action(TypewriterAction(code)));
        EXPECT_EQ(h.marked(), QString("- ‹item›"));
        if (h.typing()) {
            EXPECT_EQ(h.typing()->undoGroups, 0);
        }
    }
    log->uninstall();
    EXPECT_EQ(log->lines().filter("typwriter:action missing"),
              (QStringList{"typwriter:action missing 9", "typwriter:action missing 17", "typwriter:action missing 18",
                           "typwriter:action missing 19", "typwriter:action missing 20", "typwriter:action missing -1"}));
}

TEST_P(TypewriterActions, SelectionsPastTheEndAreClipped)
{
    for (const TypewriterAction action : {TypewriterActionBold, TypewriterActionHeading1, TypewriterActionShiftRight,
                                          TypewriterActionTodoList, TypewriterActionAddLink}) {
        Harness h(GetParam());
        h.typewriter().setText("one\ntwo");
        TextRange selection{5, 40};
        EXPECT_TRUE(h.typewriter().handleAction(action, &selection));
        const QString text = h.typewriter().text();
        EXPECT_TRUE(text.startsWith("one\n")) << action << " " << text.toStdString();
        EXPECT_LE(selection.end(), text.size()) << action;
    }
}

TEST_P(TypewriterActions, CheckboxesCompleteAndReopen)
{
    Harness h(GetParam());
    h.typewriter().setText("- [ ] a\n- [ ] b\n- [ ] c\nplain");
    EXPECT_TRUE(h.typewriter().setCheckboxCompleted(true, {2, 16}));
    EXPECT_EQ(h.typewriter().text(), "- [x] a\n- [x] b\n- [x] c\nplain");
    EXPECT_TRUE(h.typewriter().setCheckboxCompleted(false, {9, 0}));  // a caret: its line
    EXPECT_EQ(h.typewriter().text(), "- [x] a\n- [ ] b\n- [x] c\nplain");
    EXPECT_FALSE(h.typewriter().setCheckboxCompleted(false, {24, 0}));
    EXPECT_FALSE(h.typewriter().setCheckboxCompleted(true, {100, 3}));
    EXPECT_EQ(h.typewriter().text(), "- [x] a\n- [ ] b\n- [x] c\nplain");
}

class LinkRecorder : public TypewriterDelegate {
public:
    bool typewriterHandleTapEmail(Typewriter&, const QString& address) override { return note("mail " + address); }
    bool typewriterHandleTapLink(Typewriter&, const QString& link) override { return note("link " + link); }
    void typewriterDidTapToCompletedCheckbox(Typewriter&, TextRange mark) override { note("complete", mark); }
    void typewriterDidTapToUncompletedCheckbox(Typewriter&, TextRange mark) override { note("reopen", mark); }
    QString calls;

private:
    bool note(const QString& call, TextRange mark = {-1, 0})
    {
        calls = mark.location < 0 ? call : call + QStringLiteral(" %1,%2").arg(mark.location).arg(mark.length);
        return true;
    }
};

TEST_P(TypewriterActions, LinkClicksReachTheDelegate)
{
    const struct {
        const char* link;
        qsizetype index;
        bool answer;
        const char* call;
    } rows[] = {
        {"mailto:ann@example.org", 0, true, "mail ann@example.org"},
        {"https://example.org", 3, true, "link https://example.org"},
        {"brindlewick://todo", 14, true, "complete 10,1"},  // "- [ ] open" on the second line
        {"brindlewick://todo", 20, true, "reopen 21,1"},    // "- [x] done"
        {"brindlewick://todo", 1, true, "link brindlewick://todo"},  // a line without a box
        {"https://example.org", 31, false, ""},             // past the end
        {"https://example.org", -1, false, ""},
    };
    for (const auto& row : rows) {
        Harness h(GetParam());
        LinkRecorder recorder;
        h.typewriter().setDelegate(&recorder);
        h.typewriter().setText("plain\r\n- [ ] open\n- [x] done");
        EXPECT_EQ(h.typewriter().handleLink(row.link, row.index), row.answer) << row.link << " " << row.index;
        EXPECT_EQ(recorder.calls, QString(row.call));
    }
}

TEST(TypewriterView, EachKeystrokeAndActionIsOneUndoGroup)
{
    QString fifty;
    for (int i = 0; i < 50; ++i)
        fifty += QStringLiteral("line %1\n").arg(i);
    const struct {
        const char* name;
        std::function<void(Harness&)> run;
    } rows[] = {
        {"bold over 50 lines", [&](Harness& h) { h.select({0, fifty.size()}); h.action(TypewriterActionBold); }},
        {"numbers over 50 lines", [&](Harness& h) { h.select({0, fifty.size()}); h.action(TypewriterActionOrderedList); }},
        {"shift right", [&](Harness& h) { h.select({0, fifty.size()}); h.action(TypewriterActionShiftRight); }},
        {"tab renumbering", [&](Harness& h) { h.typewriter().setText("7. x"); h.select({3, 0}); h.key("\t"); }},
        {"return on a list line", [&](Harness& h) { h.typewriter().setText("- x"); h.select({3, 0}); h.key("\n"); }},
        {"button wrapping a selection", [&](Harness& h) {
             h.select({0, 6});
             h.apply([](Typewriter& t, TextRange* r) { return t.handleButton(8, r); });
         }},
        {"asterisk wrap", [&](Harness& h) {
             h.select({0, 4});
             h.apply([](Typewriter& t, TextRange* r) { return t.handleAsteriskInRange(r); });
         }},
        {"suggested word with every option", [&](Harness& h) {
             h.typewriter().setText("- (he) x");
             h.select({5, 0});
             h.apply([](Typewriter& t, TextRange* r) { return t.handleSuggestWord("hello ", 30, r); });
         }},
        {"written text", [&](Harness& h) {
             h.select({3, 0});
             h.apply([](Typewriter& t, TextRange* r) { t.write("x", r); return true; });
         }},
    };
    for (const auto& row : rows) {
        Harness h(Mode::View);
        h.typewriter().setText(fifty);
        row.run(h);
        EXPECT_EQ(h.typing()->undoGroups, 1) << row.name;
        EXPECT_EQ(h.typing()->edits, 1) << row.name;
        EXPECT_EQ(h.typing()->editsOutsideGroups, 0) << row.name;
        EXPECT_EQ(h.typing()->groupDepth, 0) << row.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Typewriter, TypewriterActions, testing::Values(Mode::Store, Mode::View), modeName);

} // namespace
