#include "EditorTestSupport.h"

#include "shell/RootViewController.h"
#include "UiScenes.h"
#include "kit/QtColor.h"
#include "panes/FolderEntryCell.h"
#include "shell/RootWindow.h"

#include "UserDefaults.h"

#include <algorithm>

namespace {

// Configures the shared test Core before the window's members can reach it.
struct TestCoreFirst {
    TestCoreFirst()
    {
        sharedTestCore();
        AnimationContext::setTestMode(true);
    }
};

// The main window as main() builds it.
struct ShellWindow : TestCoreFirst {
    ShellWindow()
    {
        window.setContentViewController(shell);
        window.resize(900, 600);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        Dispatch::waitUntilIdle();
        QApplication::processEvents();
    }

    NoteTextView* editor() { return shell->noteController()->textView(); }
    NotePtr note() { return shell->noteController()->warehouse()->editingNote(); }
    void newNote()
    {
        ASSERT_TRUE(window.tryToPerform(Selector("newDocument:"), nullptr));
        Dispatch::waitUntilIdle();
    }
    // One key at a time with the queues run in between, as the event loop delivers a user's typing.
    void type(const QString& keys)
    {
        for (const QChar key : keys) {
            if (key == QLatin1Char('\n'))
                QTest::keyClick(editor(), Qt::Key_Return);
            else
                QTest::keyClicks(editor(), QString(key));
            Dispatch::waitUntilIdle();
        }
    }
    // The sidebar entries drawn in its visible area, top to bottom.
    QStringList drawnSidebarEntries()
    {
        QApplication::processEvents();
        QWidget* area = shell->folderController()->tableView()->viewport();
        QList<FolderEntryCell*> cells;
        for (QWidget* child : area->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (auto* cell = dynamic_cast<FolderEntryCell*>(child);
                cell && cell->isVisible() && cell->geometry().intersects(area->rect()))
                cells.append(cell);
        std::sort(cells.begin(), cells.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
        QStringList texts;
        for (const FolderEntryCell* cell : cells)
            texts.append(cell->text());
        return texts;
    }

    RootWindow window;
    RootViewController* shell = new RootViewController(Core::shared());
};

TEST(Shell, ReopensTheLastNoteAndANewNoteUnderTheNameItGetsAtQuit)
{
    sharedTestCore();
    TestSupport::VirtualTime time;
    TestSupport::writeFile(Note::documentFileForKey(QStringLiteral("Last.txt"), NoteStorageInbox), "last note");
    UserDefaults::standard().setString(QStringLiteral("Last.txt"), QStringLiteral("selectedNoteKey"));
    UserDefaults::standard().setInteger(NoteStorageInbox, QStringLiteral("selectedNoteStorage"));
    {
        ShellWindow first;
        EXPECT_EQ(first.editor()->string(), QStringLiteral("last note"));
        first.newNote();
        EXPECT_EQ(first.editor()->string(), QString());
        EXPECT_TRUE(first.editor()->hasFocus());
        first.type(QStringLiteral("Groceries for the week"));
        time.advance(2);
        first.shell->applicationWillTerminate();
    }
    ShellWindow second;
    EXPECT_EQ(second.editor()->string(), QStringLiteral("Groceries for the week"));
}

TEST(Shell, ATagTypedInTheEditorIsDrawnInTheSidebarOnceTheNoteIsSaved)
{
    // Notes under 32 characters are saved when their editing ends, longer ones by the autosave too.
    const struct {
        const char* name;
        QString typed;
        QString tag;
        bool endEditing;
    } cases[] = {
        {"autosaved", QStringLiteral("Weekend plans for the family #idea"), QStringLiteral("#idea"), false},
        {"short, Return after the tag", QStringLiteral("Later #soon\n- hike"), QStringLiteral("#soon"), true},
    };
    TestSupport::VirtualTime time;
    ShellWindow main;
    const NoteTextView* editor = main.editor();
    EXPECT_LT(main.shell->folderController()->view()->mapTo(main.shell->view(), QPoint(0, 0)).x() +
                  main.shell->folderController()->view()->width(),
              main.shell->noteController()->view()->mapTo(main.shell->view(), QPoint(0, 0)).x());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(main.drawnSidebarEntries().contains(c.tag));
        main.newNote();
        const int cut = int(c.typed.indexOf(c.tag)) + int(c.tag.size());
        main.type(c.typed.left(cut));
        time.advance(3);
        main.type(c.typed.mid(cut));
        EXPECT_EQ(editor->string(), c.typed);
        const NotePtr note = main.note();
        if (c.endEditing)
            main.newNote();
        time.advance(2);
        Dispatch::waitUntilIdle();
        EXPECT_TRUE(main.drawnSidebarEntries().contains(c.tag)) << main.drawnSidebarEntries().join(u',').toStdString();
        EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(note->key(), NoteStorageInbox)), c.typed.toUtf8());
    }
}

TEST(EditorScenes, ShowTheSampleNoteInEachTheme)
{
    sharedTestCore();
    for (const auto& [name, theme] : {std::pair{"editor-white", 0}, std::pair{"editor-charcoal", 2}}) {
        SCOPED_TRACE(name);
        const std::unique_ptr<QWidget> scene = UiScenes::build(QString::fromLatin1(name));
        ASSERT_NE(scene, nullptr);
        auto* text = scene->findChild<NoteTextView*>();
        ASSERT_NE(text, nullptr);
        EXPECT_TRUE(text->string().startsWith(QStringLiteral("# Harbour walk")));
        const QImage shot = text->viewport()->grab().toImage();
        const QColor background = toQColor(Themeset::backgroundColorForTheme(theme));
        EXPECT_EQ(shot.pixelColor(shot.width() - 5, shot.height() - 5), background);
        QTextCursor second(text->document());
        second.setPosition(int(text->string().indexOf(QStringLiteral("A short"))));
        const int y = text->cursorRect(second).center().y();
        int inked = 0;
        for (int x = 80; x < 400; ++x)
            inked += shot.pixelColor(x, y) != background;
        EXPECT_GT(inked, 10) << "the second line of text is drawn";
    }
}

} // namespace
