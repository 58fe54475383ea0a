#include "EditorTestSupport.h"

#include "kit/QtColor.h"
#include "panes/FindBar.h"

#include "Store/FolderListing.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextFrame>

namespace {

double leftInset(NoteTextView* view)
{
    return view->document()->rootFrame()->frameFormat().leftMargin();
}

TEST(EditorSizes, PresetsOffsetsAndMargins)
{
    EXPECT_EQ(NoteViewController::fontSizeForSizePreset(0, 0), 16.0);
    EXPECT_EQ(NoteViewController::fontSizeForSizePreset(0, -7), 9.0);
    EXPECT_EQ(NoteViewController::fontSizeForSizePreset(0, -8), 8.0);
    EXPECT_EQ(NoteViewController::fontSizeForSizePreset(0, -30), 8.0);
    const std::pair<double, double> margins[] = {{800, 70}, {1600, 440}, {300, 10}, {1000, 140}, {100, 10}};
    for (const auto& [width, inset] : margins)
        EXPECT_EQ(NoteViewController::textInsetForWidth(width, 1.0), inset) << width;
}

TEST_F(EditorTest, TypeSizeCommandsChangeTheFontAndTheColumnAndAreRemembered)
{
    EXPECT_EQ(controller->textStorage().mainFont()->pointSize, 16.0);
    Core::shared().setTypeSizeOffset(-7);
    EXPECT_TRUE(controller->canHaveSmallerTypeSizeOffset());
    controller->useSmallerTypeSizeOffset();
    EXPECT_EQ(controller->textStorage().mainFont()->pointSize, 8.0);
    EXPECT_FALSE(controller->canHaveSmallerTypeSizeOffset());
    controller->useSmallerTypeSizeOffset();
    EXPECT_EQ(Core::shared().typeSizeOffset(), -8) << "a refused change does nothing";
    for (int i = 0; i < 40; ++i)
        controller->useLargerTypeSizeOffset();
    EXPECT_EQ(Core::shared().typeSizeOffset(), 32);
    EXPECT_EQ(UserDefaults::standard().integerForKey(QStringLiteral("typeoffset")), 32);
    controller->useDefaultTypeSizeOffset();
    EXPECT_EQ(controller->textStorage().mainFont()->pointSize, 16.0);

    // A larger type widens the column.
    window.resize(1600, 600);
    QApplication::processEvents();
    EXPECT_EQ(leftInset(view()), 440);
    controller->useLargerTypeSizeOffset();
    controller->useLargerTypeSizeOffset();
    EXPECT_LT(leftInset(view()), 440);
    EXPECT_GT(leftInset(view()), 300);
    window.resize(800, 600);
    QApplication::processEvents();
    EXPECT_LT(leftInset(view()), 70);
}

TEST_F(EditorTest, ATypeSizeChangeKeepsTheSameTextInView)
{
    QByteArray lines;
    for (int i = 1; i <= 400; ++i)
        lines += "Line number " + QByteArray::number(i) + " of a long note\n";
    openStored(QStringLiteral("Long.txt"), lines);
    controller->goToLine(200);
    const qsizetype shown = text().indexOf(QStringLiteral("Line number 200 "));
    for (int step : {1, 1, 1, -1, -1, -1, -1}) {
        step > 0 ? controller->useLargerTypeSizeOffset() : controller->useSmallerTypeSizeOffset();
        QApplication::processEvents();
        const QRect visible = view()->viewport()->rect();
        EXPECT_LE(view()->characterIndexForPoint(visible.topLeft()), shown);
        EXPECT_GE(view()->characterIndexForPoint(visible.bottomRight()), shown);
    }
}

TEST_F(EditorTest, ShowingNotesLinesAndSavedPositions)
{
    NotePtr note = openStored(QStringLiteral("Open.txt"), "first\nsecond\nthird");
    view()->setSelectedRange({5, 0});
    type("!");
    int completions = 0;
    controller->showNote(std::make_shared<Note>(QStringLiteral("Open.txt"), NoteStorageInbox), [&] { ++completions; });
    Dispatch::waitUntilIdle();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(view()->selectedRange(), (TextRange{6, 0})) << "the open note is not read again";
    EXPECT_TRUE(view()->canUndo());
    EXPECT_EQ(warehouse->editingChanges(), 1);

    controller->goToLine(2);
    EXPECT_EQ(view()->selectedRange(), (TextRange{7, 0}));
    controller->goToLine(99);
    EXPECT_EQ(view()->selectedRange(), (TextRange{text().size(), 0}));

    note = warehouse->editingNote();
    note->setSelectedCaret(1000); // a meta file from elsewhere
    note->setScrollCaret(1000);
    note->setScrollCaretOffset(std::numeric_limits<double>::quiet_NaN());
    controller->restoreInsertionPoint();
    controller->restoreScrollPosition();
    EXPECT_EQ(view()->selectedRange(), (TextRange{text().size(), 0}));

    windowDelegate.newNoteText = QString();
    controller->showNote(nullptr);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(text(), QStringLiteral(""));
    EXPECT_EQ(view()->selectedRange(), (TextRange{0, 0}));
    EXPECT_FALSE(view()->canUndo());
    note->setScrollCaret(5);
    view()->verticalScrollBar()->setValue(view()->verticalScrollBar()->maximum());
    controller->restoreNoteScrollPosition(note);
    EXPECT_EQ(view()->verticalScrollBar()->value(), 0) << "an empty text shows its top";
    EXPECT_EQ(onDisk(QStringLiteral("Open.txt")), "first!\nsecond\nthird") << "switching saved the edit";
}

TEST_F(EditorTest, ALateReadNeverReachesTheNoteOpenedSince)
{
    TestSupport::writeFile(Note::documentFileForKey(QStringLiteral("Old.txt"), NoteStorageInbox), "old text");
    int completions = 0;
    controller->showNote(std::make_shared<Note>(QStringLiteral("Old.txt"), NoteStorageInbox), [&] { ++completions; });
    controller->newNoteDidTapFromMenu(); // before the read comes back
    Dispatch::waitUntilIdle();
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(text(), QStringLiteral(""));
    EXPECT_EQ(warehouse->editingNote()->key(), QString());
}

TEST_F(EditorTest, AnUnreadableNoteIsReadOnlyWithItsReason)
{
    // A folder where the text file should be: the read fails.
    QDir().mkpath(Note::documentFileForKey(QStringLiteral("Broken.txt"), NoteStorageInbox));
    controller->showNote(std::make_shared<Note>(QStringLiteral("Broken.txt"), NoteStorageInbox));
    Dispatch::waitUntilIdle();
    EXPECT_FALSE(controller->readOnlyReason().isEmpty());
    EXPECT_TRUE(view()->isReadOnly());
    type("typed");
    EXPECT_EQ(warehouse->editingChanges(), 0);
    controller->showNote(nullptr);
    EXPECT_FALSE(view()->isReadOnly());
    EXPECT_TRUE(controller->readOnlyReason().isEmpty());
}

// A note too large to edit shows its head, read-only with the reason; typing
// there changes nothing, and the file stays as it is.
TEST_F(EditorTest, ANoteTooLargeToEditShowsItsHeadReadOnlyWithTheReason)
{
    const QString key = QStringLiteral("Huge log.txt");
    QByteArray bytes = "Huge log\n";
    while (bytes.size() <= Note::MaximumTextFileSize)
        bytes += "filler words of a long log\n";
    openStored(key, bytes);
    EXPECT_TRUE(controller->readOnlyReason().contains(QStringLiteral("too large to edit")))
        << qPrintable(controller->readOnlyReason());
    EXPECT_TRUE(view()->isReadOnly());
    EXPECT_TRUE(text().startsWith(QStringLiteral("Huge log\nfiller words")));
    EXPECT_LE(text().size(), Note::HeadOfLargeFile);
    type("typed");
    QTest::keyClick(view(), Qt::Key_S, Qt::ControlModifier);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(warehouse->editingChanges(), 0);
    EXPECT_EQ(onDisk(key), bytes);
}

// A file whose name is not valid UTF-8 opens read-only with the reason, and what is typed goes nowhere:
// no file of the name it is listed under appears beside it.
TEST_F(EditorTest, ANoteWhoseFileNameIsNotUtf8IsReadOnlyWithTheReason)
{
    const QString folder = Note::documentDirectoryForStorage(NoteStorageInbox);
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QByteArray path = QFile::encodeName(folder) + "/bad\xFF\xFEname.txt";
    QFile file;
    ASSERT_TRUE(file.open(::fopen(path.constData(), "w"), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    file.write("A note of its own\nwith words");
    file.close();
    QStringList listed;
    ASSERT_TRUE(listFolderNames(folder, &listed));
    ASSERT_EQ(listed.size(), 1);
    controller->showNote(std::make_shared<Note>(listed.first(), NoteStorageInbox));
    Dispatch::waitUntilIdle();
    EXPECT_TRUE(controller->readOnlyReason().contains(QStringLiteral("name is not valid UTF-8")))
        << qPrintable(controller->readOnlyReason());
    EXPECT_TRUE(view()->isReadOnly());
    type(QStringLiteral("typed"));
    QTest::keyClick(view(), Qt::Key_S, Qt::ControlModifier);
    time.advance(15);
    Dispatch::waitUntilIdle();
    QStringList after;
    ASSERT_TRUE(listFolderNames(folder, &after));
    EXPECT_EQ(after, listed);
}

TEST_F(EditorTest, CheckBoxClicksToggleInPlaceAndLinksOpenSafely)
{
    QByteArray note;
    for (int i = 0; i < 60; ++i)
        note += "filler line\n";
    note += "- [ ] task\nsee https://example.org/a\n";
    openStored(QStringLiteral("Links.txt"), note);
    view()->setSelectedRange({5, 0});
    const qsizetype box = text().indexOf(QStringLiteral("[ ]")) + 1;
    view()->scrollRangeToVisible({box, 0});
    const int scroll = view()->verticalScrollBar()->value();
    const auto click = [&](qsizetype index) {
        QTextCursor cursor(view()->document());
        cursor.setPosition(int(index));
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, view()->cursorRect(cursor).center() + QPoint(3, 0));
    };
    click(box);
    EXPECT_TRUE(text().contains(QStringLiteral("- [x] task")));
    EXPECT_EQ(view()->selectedRange(), (TextRange{5, 0}));
    EXPECT_EQ(view()->verticalScrollBar()->value(), scroll);
    EXPECT_EQ(warehouse->editingChanges(), 1);

    click(text().indexOf(QStringLiteral("example")));
    EXPECT_EQ(openedLinks, QStringList{QStringLiteral("https://example.org/a")});
    controller->typewriter().handleLink(QStringLiteral("file:///usr/share/applications/x.desktop"), 0);
    auto* ask = window.findChild<QMessageBox*>();
    ASSERT_NE(ask, nullptr) << "a file link asks first";
    EXPECT_EQ(openedLinks.size(), 1);
    EXPECT_EQ(ask->defaultButton()->text(), QStringLiteral("Cancel"));
    ask->defaultButton()->click();
    QApplication::processEvents();
    EXPECT_EQ(openedLinks.size(), 1);
    controller->typewriter().handleLink(QStringLiteral("http://[x"), 0);
    EXPECT_EQ(openedLinks.size(), 1) << "no valid URL: nothing opens";
}

TEST_F(EditorTest, TheCaretIsThreePixelsWideAroundItsPosition)
{
    controller->showNote(nullptr);
    view()->setFocus();
    QApplication::processEvents();
    const int x = int(leftInset(view()));
    const QImage shot = view()->viewport()->grab().toImage();
    const QColor caret = toQColor(Themeset::caretColorForTheme(0));
    const int y = view()->caretRect().center().y();
    for (int column = x - 3; column <= x + 3; ++column)
        EXPECT_EQ(shot.pixelColor(column, y) == caret, column >= x - 1 && column <= x + 1) << column;
}

TEST_F(EditorTest, TheFindBarSelectsMatchesAndEscapeGivesTheTextBack)
{
    openStored(QStringLiteral("Find.txt"), "alpha beta alpha gamma");
    controller->tryToPerform(Selector("performFindPanelAction:"), nullptr);
    FindBar* bar = controller->findBar();
    ASSERT_TRUE(bar->isVisible());
    QTest::keyClicks(bar->field(), QStringLiteral("alp"));
    EXPECT_EQ(view()->selectedRange(), (TextRange{0, 3}));
    QTest::keyClick(bar->field(), Qt::Key_Return);
    EXPECT_EQ(view()->selectedRange(), (TextRange{11, 3}));
    QTest::keyClick(bar->field(), Qt::Key_Return);
    EXPECT_EQ(view()->selectedRange(), (TextRange{0, 3})) << "wraps";
    EXPECT_EQ(view()->findIndicatorRange(), (TextRange{0, 3}));
    time.advance(1.5);
    EXPECT_EQ(view()->findIndicatorRange(), (TextRange{0, 0})) << "the mark fades";
    QTest::keyClick(bar->field(), Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(view()->hasFocus());

    EXPECT_TRUE(controller->showFindIndicator(QStringLiteral("GAMMA")));
    EXPECT_EQ(view()->selectedRange(), (TextRange{22, 0}));
    EXPECT_FALSE(controller->showFindIndicator(QStringLiteral("alpha"), true)) << "only in the title line";
    EXPECT_FALSE(controller->showFindIndicator(QString()));
}

TEST_F(EditorTest, AFindMarkEndsWithTheBarAnEditOrTheNote)
{
    const struct {
        const char* name;
        std::function<void(EditorTest&)> act;
    } cases[] = {
        {"the bar closes", [](EditorTest& t) { QTest::keyClick(t.controller->findBar()->field(), Qt::Key_Escape); }},
        {"an edit", [](EditorTest& t) { t.controller->typewriter().setText(QStringLiteral("#sh at the start")); }},
        {"another note", [](EditorTest& t) { t.openStored(QStringLiteral("Other.txt"), "Other\n#shop #shopping"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        openStored(QStringLiteral("Marked %1.txt").arg(QLatin1String(c.name)), "Marked\nbuy #shopping");
        controller->tryToPerform(Selector("performFindPanelAction:"), nullptr);
        QTest::keyClicks(controller->findBar()->field(), QStringLiteral("#sh"));
        ASSERT_EQ(view()->findIndicatorRange(), (TextRange{11, 3}));
        ASSERT_FALSE(view()->extraSelections().isEmpty());
        c.act(*this);
        Dispatch::waitUntilIdle();
        EXPECT_EQ(view()->findIndicatorRange(), (TextRange{0, 0}));
        EXPECT_TRUE(view()->extraSelections().isEmpty());
        // Nothing comes back while the old mark would have faded.
        for (int step = 0; step < 4; ++step) {
            time.advance(0.5);
            EXPECT_TRUE(view()->extraSelections().isEmpty()) << step;
        }
        controller->findBar()->close();
    }
}

} // namespace
