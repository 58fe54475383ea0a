#include "EditorTestSupport.h"

#include <QClipboard>
#include <QScrollBar>

namespace {

// What a user does to a stored note, and how many changes the Warehouse hears of.
struct CountCase {
    const char* name;
    QString text;
    TextRange selection;
    std::function<void(EditorTest&)> act;
    int64_t changes;
};

TEST_F(EditorTest, ChangesAreCountedAsTheWarehouseSavesThem)
{
    const CountCase cases[] = {
        {"a key", "", {0, 0}, [](EditorTest& t) { t.type("a"); }, 1},
        {"a key over five characters", "hello world", {0, 5}, [](EditorTest& t) { t.type("b"); }, 6},
        {"a formatting command", "word", {1, 0},
         [](EditorTest& t) { t.view()->tryToPerform(Selector("makeBold:"), nullptr); }, 1},
        {"a paste, and one more a tenth of a second later", "", {0, 0},
         [](EditorTest& t) {
             QApplication::clipboard()->setText("xyz");
             t.view()->paste();
             EXPECT_EQ(t.warehouse->editingChanges(), 3);
             t.time.advance(0.1);
         },
         4},
        {"an undo counts what it replaced", "", {0, 0},
         [](EditorTest& t) {
             t.type("abc");
             t.view()->undo();
         },
         6},
    };
    for (const CountCase& c : cases) {
        SCOPED_TRACE(c.name);
        openStored(QStringLiteral("Count.txt"), c.text.toUtf8());
        view()->setSelectedRange(c.selection);
        c.act(*this);
        EXPECT_EQ(warehouse->editingChanges(), c.changes);
        controller->showNote(nullptr); // the next case opens the file again
        Dispatch::waitUntilIdle();
    }
}

TEST_F(EditorTest, ReturnOnAListLineIsTheTypewritersAndOneUndoTakesItBack)
{
    openStored(QStringLiteral("List.txt"), "- item");
    view()->setSelectedRange({6, 0});
    QTest::keyClick(view(), Qt::Key_Return);
    EXPECT_EQ(text(), QStringLiteral("- item\n- "));
    EXPECT_EQ(view()->selectedRange(), (TextRange{9, 0}));
    QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(text(), QStringLiteral("- item"));
    // Redone, the prefix is plain text: the typewriter forgot it inserted it, so Backspace removes
    // one character, not the whole prefix.
    QTest::keyClick(view(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(text(), QStringLiteral("- item\n- "));
    QTest::keyClick(view(), Qt::Key_Backspace);
    EXPECT_EQ(text(), QStringLiteral("- item\n-"));
}

TEST_F(EditorTest, OnlyLongEnoughNotesAreAutosavedAndCommandSSavesAtOnce)
{
    openStored(QStringLiteral("Short.txt"), QByteArray(30, 'x'));
    view()->setSelectedRange({30, 0});
    type("y");
    time.advance(3);
    EXPECT_EQ(onDisk(QStringLiteral("Short.txt")).size(), 30) << "31 characters wait for an explicit save";
    type("z");
    time.advance(3);
    EXPECT_EQ(onDisk(QStringLiteral("Short.txt")), QByteArray(30, 'x') + "yz");

    type("!");
    QTest::keyClick(view(), Qt::Key_S, Qt::ControlModifier);
    Dispatch::waitUntilIdle();
    EXPECT_TRUE(onDisk(QStringLiteral("Short.txt")).endsWith("yz!")) << "saved without waiting";
    EXPECT_TRUE(windowDelegate.keys.count(Qt::Key_S) == 0) << "Ctrl+S is the editor's";
    EXPECT_TRUE(text().endsWith(QStringLiteral("yz!")));
    QTest::keyClick(view(), Qt::Key_J, Qt::ControlModifier);
    EXPECT_EQ(windowDelegate.keys.count(Qt::Key_J), 1);
}

TEST_F(EditorTest, TheTypewritersTextIsTheEditorsStyledText)
{
    openStored(QStringLiteral("Styled.txt"), "# Title\nplain #tag");
    const AttributedString styled = controller->typewriter().attributedText();
    EXPECT_EQ(styled.string(), text());
    EXPECT_EQ(styled.attributesAtIndex(0), view()->textStorage()->attributedString().attributesAtIndex(0));
    EXPECT_NE(styled.attributesAtIndex(0), styled.attributesAtIndex(8)); // the heading is not body text
}

TEST_F(EditorTest, PastedTextIsKeptWhateverItHolds)
{
    const QString pasted = QStringLiteral("nul\u0000 cr\r crlf\r\n ls\u2028 nc\uFDD0 bom\uFEFF lone\xD800 end");
    openStored(QStringLiteral("Paste.txt"), "[]");
    view()->setSelectedRange({1, 0});
    QApplication::clipboard()->setText(pasted);
    view()->paste();
    EXPECT_EQ(text(), QStringLiteral("[") + pasted + QStringLiteral("]"));
    view()->undo();
    EXPECT_EQ(text(), QStringLiteral("[]"));
}

TEST_F(EditorTest, FocusMovingWithTheWindowIsNoChangeOfResponder)
{
    const struct {
        Qt::FocusReason reason;
        int change;
    } cases[] = {{Qt::ActiveWindowFocusReason, 0}, {Qt::PopupFocusReason, 0}, {Qt::OtherFocusReason, -1}};
    for (const auto& c : cases) {
        windowDelegate.focusChanges = 0;
        QFocusEvent out(QEvent::FocusOut, c.reason);
        QApplication::sendEvent(view(), &out);
        EXPECT_EQ(windowDelegate.focusChanges, c.change) << c.reason;
        QFocusEvent in(QEvent::FocusIn, c.reason);
        QApplication::sendEvent(view(), &in);
        EXPECT_EQ(windowDelegate.focusChanges, 0) << c.reason;
    }
}

TEST_F(EditorTest, ARemoteReplaceForgetsTheUndoHistory)
{
    openStored(QStringLiteral("Remote.txt"), "one");
    view()->setSelectedRange({3, 0});
    type(" two");
    warehouse->resetEditingChanges(); // saved meanwhile
    controller->warehouseRemoteServerDidUpdateEditingNote(*warehouse, warehouse->editingNote(), QStringLiteral("remote"));
    Dispatch::waitUntilIdle();
    EXPECT_EQ(text(), QStringLiteral("remote"));
    EXPECT_FALSE(view()->canUndo());
    view()->undo();
    EXPECT_EQ(text(), QStringLiteral("remote"));
    EXPECT_EQ(warehouse->editingChanges(), 0);
}

TEST_F(EditorTest, ARemoteReplaceKeepsCaretAndScrollWithinTheNewText)
{
    QByteArray lines;
    for (int i = 0; i < 200; ++i)
        lines += "line " + QByteArray::number(i) + "\n";
    const struct {
        const char* name;
        QString remote;
        TextRange caret;
    } cases[] = {
        {"a line added at the end", QString::fromUtf8(lines) + QStringLiteral("outside\n"), {700, 5}},
        {"a shorter text", QStringLiteral("short"), {5, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        openStored(QStringLiteral("Long.txt"), lines);
        view()->setSelectedRange({700, 5});
        view()->scrollRangeToVisible({700, 5});
        const int scroll = view()->verticalScrollBar()->value();
        ASSERT_GT(scroll, 0);
        controller->warehouseRemoteServerDidUpdateEditingNote(*warehouse, warehouse->editingNote(), c.remote);
        Dispatch::waitUntilIdle();
        EXPECT_EQ(text(), c.remote);
        EXPECT_EQ(view()->selectedRange(), c.caret);
        if (c.remote.size() > lines.size()) {
            EXPECT_EQ(view()->verticalScrollBar()->value(), scroll);
        }
        controller->showNote(nullptr);
        Dispatch::waitUntilIdle();
    }
}

// Another program changes the note while nothing is unsaved: the caret, the selection and the line at
// the top of the view stay with their text, so typing lands where it was meant to.
TEST_F(EditorTest, AnOutsideChangeLeavesCaretSelectionAndViewOnTheirText)
{
    QString lines;
    for (int i = 0; i < 200; ++i)
        lines += QStringLiteral("line %1 of the note\n").arg(i);
    const auto lineAt = [](const QString& text, int line) { return text.indexOf(QStringLiteral("line %1 of").arg(line)); };
    const struct {
        const char* name;
        QString outside;
    } cases[] = {
        {"16 characters on line 2", QString(lines).insert(lineAt(lines, 2) + 4, QStringLiteral(" (sixteen more)"))},
        {"lines added above", QStringLiteral("added\nabove\nthe view\n") + lines},
        {"a line changed above and another below",
         QString(lines).replace(QStringLiteral("line 3 of"), QStringLiteral("the third line of"))
             .replace(QStringLiteral("line 150 of the"), QStringLiteral("line 150 of a"))},
        {"lines removed above", lines.mid(lineAt(lines, 10))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        openStored(QStringLiteral("Outside.txt"), lines.toUtf8());
        view()->scrollPositionToY(lineAt(lines, 20), 0);
        const auto topLine = [&] {
            const qsizetype top = view()->characterIndexForPoint(view()->viewport()->rect().topLeft());
            return view()->substring({top, 7});
        };
        ASSERT_EQ(topLine(), QStringLiteral("line 20"));
        const qsizetype word = lineAt(lines, 30) + 15; // "note" of line 30
        view()->setSelectedRange({word, 4});
        controller->warehouseRemoteServerDidUpdateEditingNote(*warehouse, warehouse->editingNote(), c.outside);
        Dispatch::waitUntilIdle();
        ASSERT_EQ(text(), c.outside);
        EXPECT_EQ(view()->selectedRange(), (TextRange{lineAt(c.outside, 30) + 15, 4}));
        EXPECT_EQ(topLine(), QStringLiteral("line 20"));
        type(QStringLiteral("XCARET"));
        EXPECT_TRUE(text().contains(QStringLiteral("line 30 of the XCARET\n")));
        controller->showNote(nullptr);
        Dispatch::waitUntilIdle();
    }
}

// A note opened after another starts at its own beginning, never at the caret the other one had.
TEST_F(EditorTest, ANoteOpenedAfterAnotherHasNoCaretOfItsPredecessor)
{
    openStored(QStringLiteral("First.txt"), QByteArray("first note, a long line of words").repeated(20));
    view()->setSelectedRange({300, 0});
    openStored(QStringLiteral("Second.txt"), QByteArray("second note, more words to type into").repeated(20));
    EXPECT_EQ(view()->selectedRange(), (TextRange{0, 0}));
    type(QStringLiteral("X"));
    EXPECT_TRUE(text().startsWith(QStringLiteral("Xsecond note")));
}

TEST_F(EditorTest, AnEditKeepsEveryOtherByteOfTheFile)
{
    const QByteArray original = "one\r\ntwo\rthree\xC2\xA0" "four\xE2\x80\xA8" "five\r\n";
    openStored(QStringLiteral("Bytes.txt"), original);
    const qsizetype middle = text().indexOf(QStringLiteral("three")) + 2;
    view()->setSelectedRange({middle, 0});
    type("XY");
    QTest::keyClick(view(), Qt::Key_S, Qt::ControlModifier);
    Dispatch::waitUntilIdle();
    QByteArray expected = original;
    expected.insert(original.indexOf("three") + 2, "XY");
    EXPECT_EQ(onDisk(QStringLiteral("Bytes.txt")), expected);
}

} // namespace
