#include "EditorTestSupport.h"

#include "panes/UndoHistory.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Replays the history's steps on a plain string, as the editor replays them on its storage.
struct Text {
    QString string;
    UndoHistory history;

    void replace(qsizetype location, qsizetype length, const QString& with)
    {
        history.record({location, string.mid(location, length), with});
        string.replace(location, length, with);
    }
    const auto replacer()
    {
        return [this](qsizetype location, qsizetype length, const QString& with) { string.replace(location, length, with); };
    }
    void undo() { UndoHistory::revert(history.undo(), replacer()); }
    void redo() { UndoHistory::apply(history.redo(), replacer()); }
};

struct UndoCase {
    const char* name;
    std::function<void(Text&)> edits;
    QStringList afterEachUndo; // the text after one, two, ... undos
};

TEST(UndoHistory, TypingRunsAndCommandsAreStepsOfTheirOwn)
{
    const UndoCase cases[] = {
        {"a run of typing is one step", [](Text& t) { t.replace(0, 0, "a"), t.replace(1, 0, "b"), t.replace(2, 0, "c"); }, {""}},
        {"typing elsewhere starts a step",
         [](Text& t) { t.replace(0, 0, "ab"), t.history.breakRun(), t.replace(2, 0, "c"), t.replace(0, 0, "x"); },
         {"abc", "ab", ""}},
        {"backspaces and forward deletes each make a run",
         [](Text& t) {
             t.string = "abcdef";
             t.replace(5, 1, ""), t.replace(4, 1, ""), t.replace(1, 1, ""), t.replace(1, 1, "");
         },
         {"abcd", "abcdef"}},
        {"typing over a selection runs on",
         [](Text& t) { t.string = "hello"; t.replace(0, 5, "H"), t.replace(1, 0, "i"); }, {"hello"}},
        {"a CR LF and a surrogate pair are single characters",
         [](Text& t) { t.replace(0, 0, "\r\n"), t.replace(2, 0, QString::fromUtf8("\xF0\x9F\x98\x80")); }, {""}},
        {"a group is one step and breaks the run",
         [](Text& t) {
             t.replace(0, 0, "a");
             t.history.beginGroup(), t.replace(1, 0, "- "), t.replace(0, 0, "#"), t.history.endGroup();
             t.replace(4, 0, "b");
         },
         {"#a- ", "a", ""}},
        {"a paste is not typing", [](Text& t) { t.replace(0, 0, "a"), t.replace(1, 0, "pasted"); }, {"a", ""}},
    };
    for (const UndoCase& c : cases) {
        SCOPED_TRACE(c.name);
        Text text;
        c.edits(text);
        const QString edited = text.string;
        for (const QString& expected : c.afterEachUndo) {
            text.undo();
            EXPECT_EQ(text.string, expected);
        }
        EXPECT_FALSE(text.history.canUndo());
        while (text.history.canRedo())
            text.redo();
        EXPECT_EQ(text.string, edited);
    }
}

TEST(UndoHistory, ANewChangeDropsRedoAndSizesCountBothSides)
{
    Text text;
    text.replace(0, 0, "abc");
    text.undo();
    ASSERT_TRUE(text.history.canRedo());
    text.replace(0, 0, "x");
    EXPECT_FALSE(text.history.canRedo());
    EXPECT_EQ(UndoHistory::size({{0, "hello", "b"}, {7, "", "xy"}}), 8);
}

// Types as a keyboard does: a character reached with Shift comes between a press and a release of
// Shift itself.
void typeWithShift(QWidget* view, const QString& keys)
{
    for (const QChar key : keys) {
        const bool shifted = key.isUpper() || QStringLiteral("!<>?:").contains(key);
        if (shifted)
            QTest::keyPress(view, Qt::Key_Shift);
        QTest::keyClick(view, key.toLatin1(), shifted ? Qt::ShiftModifier : Qt::NoModifier);
        if (shifted)
            QTest::keyRelease(view, Qt::Key_Shift, Qt::ShiftModifier);
    }
}

TEST_F(EditorTest, OneUndoTakesBackABurstOfTypingShiftedKeysIncluded)
{
    struct KeysCase {
        const char* name;
        std::function<void(EditorTest&)> keys;
        QStringList afterEachUndo;
    } const cases[] = {
        {"a sentence with capitals and marks", [](EditorTest& t) { typeWithShift(t.view(), "Top! "); }, {""}},
        {"angle brackets inside a word", [](EditorTest& t) { typeWithShift(t.view(), "a<b>c"); }, {""}},
        {"the caret moved away and back",
         [](EditorTest& t) {
             typeWithShift(t.view(), "ab");
             QTest::keyClick(t.view(), Qt::Key_Left);
             QTest::keyClick(t.view(), Qt::Key_Right);
             typeWithShift(t.view(), "c");
         },
         {"ab", ""}},
    };
    for (const KeysCase& c : cases) {
        SCOPED_TRACE(c.name);
        openStored(QStringLiteral("Burst.txt"), "");
        c.keys(*this);
        for (const QString& expected : c.afterEachUndo) {
            QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
            EXPECT_EQ(text(), expected);
        }
        EXPECT_FALSE(view()->canUndo());
        controller->showNote(nullptr);
        Dispatch::waitUntilIdle();
    }
}

} // namespace
