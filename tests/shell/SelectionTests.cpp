#include "ShellTestSupport.h"

#include "../panes/ShownRowText.h"

#include "NoteFolderWatch.h"
#include "panes/SearchFieldWrapper.h"

#include <QLineEdit>

#include <thread>

namespace {

QString selectedKey(const ListViewController& list)
{
    return list.selectedNote() ? list.selectedNote()->key() : QString();
}

TEST_F(ShellTest, PickingTheSelectedEntryIsRecognisedWhateverTheTagSpelling)
{
    const struct { int selectedStorage; const char* selectedTag; int storage; const char* tag; bool same; } cases[] = {
        {NoteStorageInbox, "", NoteStorageInbox, "", true},
        {NoteStorageInbox, "", NoteStorageArchive, "", false},
        {NoteTagHashtag, "idea", NoteTagHashtag, "idea", true},
        {NoteTagHashtag, "idea", NoteTagHashtag, "plan", false},
        {NoteTagHashtag, "", NoteTagHashtag, "", true},
        {NoteTagHashtag, "idea", NoteTagMention, "idea", false},
    };
    write(QStringLiteral("Plan.txt"), QStringLiteral("Plan"));
    open();
    for (const auto& c : cases) {
        root->selectStorage(c.selectedStorage, QString::fromLatin1(c.selectedTag));
        EXPECT_EQ(root->isSelectedStorage(c.storage, QString::fromLatin1(c.tag)), c.same)
            << c.selectedStorage << c.selectedTag << " against " << c.storage << c.tag;
    }
    root->selectStorage(NoteStorageInbox, QString());
    settle();
    const ListItemPtr row = root->listController()->items().value(0);
    root->folderControllerDidSelectStorage(*root->folderController(), NoteStorageInbox, QString());
    settle();
    EXPECT_EQ(root->listController()->items().value(0), row) << "picking the selected entry lists nothing again";
}

// The row the table highlights, which the editor must show.
QString highlightedKey(const ListViewController& list)
{
    const auto path = list.tableBridge()->selectedRow();
    if (!path)
        return QString();
    const ListItems& rows = path->section == ListViewController::Archived ? list.archivedItems() : list.items();
    return rows.value(path->row) ? rows.value(path->row)->key() : QString();
}

TEST_F(ShellTest, ASidebarPickLeavesTheEditorOnTheHighlightedNote)
{
    Core::shared().setNoteSortOptions(2); // by title: Budget above Weekend groceries
    const QHash<QString, QString> texts = {
        {QStringLiteral("Budget.txt"), QStringLiteral("Budget\n#shop #money")},
        {QStringLiteral("Weekend groceries.txt"), QStringLiteral("Weekend groceries\n- milk #shop")},
        {QStringLiteral("Old.txt"), QStringLiteral("Old")},
    };
    for (const auto& [key, text] : texts.asKeyValueRange())
        write(key, text, key == QStringLiteral("Old.txt") ? NoteStorageArchive : NoteStorageInbox);
    const struct { const char* name; const char* shown; int storage; const char* tag; const char* highlighted; } cases[] = {
        {"the note is in the new list", "Weekend groceries.txt", NoteTagHashtag, "shop", "Weekend groceries.txt"},
        {"the note is not in it", "Weekend groceries.txt", NoteStorageArchive, "", "Old.txt"},
        {"another note at the same row", "Budget.txt", NoteStorageArchive, "", "Old.txt"},
        {"an empty list keeps the editor", "Budget.txt", NoteTagMention, "nobody", ""},
    };
    open();
    ListViewController& list = *root->listController();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString shown = QString::fromLatin1(c.shown);
        root->selectStorage(NoteStorageInbox, QString());
        settle();
        list.selectNote(std::make_shared<Note>(shown, NoteStorageInbox));
        settle();
        ASSERT_EQ(editor()->string(), texts[shown]);
        root->folderControllerDidSelectStorage(*root->folderController(), c.storage, QString::fromLatin1(c.tag));
        settle();
        const QString highlighted = QString::fromLatin1(c.highlighted);
        EXPECT_EQ(highlightedKey(list), highlighted);
        const QString expected = highlighted.isEmpty() ? shown : highlighted;
        EXPECT_EQ(root->selectedNote()->key(), expected);
        EXPECT_EQ(editor()->string(), texts[expected]);
    }
}

// The highlighted row is the editor's note, so Delete asks about the note the user sees highlighted.
TEST_F(ShellTest, TheEditorsNoteStaysHighlightedThroughReSortsAndASplitBySaving)
{
    // Zucchini, changed last, leads by date and ends the list by title, out of view.
    for (int i = 0; i < 12; ++i) {
        const QString title = i == 0 ? QStringLiteral("Zucchini") : QStringLiteral("Note %1").arg(i, 2, 10, QLatin1Char('0'));
        write(title + QStringLiteral(".txt"), title);
        FileDates::setModificationDate(Note::documentFileForKey(title + QStringLiteral(".txt"), NoteStorageInbox), 1'600'000'000 - i);
    }
    const QString shownKey = QStringLiteral("Zucchini.txt");
    open();
    ListViewController& list = *root->listController();
    ASSERT_TRUE(list.selectNote(std::make_shared<Note>(shownKey, NoteStorageInbox)));
    settle();
    ASSERT_EQ(editor()->string(), QStringLiteral("Zucchini"));
    for (const int64_t option : {2, 1, 0, 2}) {
        root->selectNoteSortOptions(option);
        settle();
        EXPECT_EQ(highlightedKey(list), shownKey) << "sorted by " << option;
        const QRect row = list.tableView()->rectOfRow(list.tableView()->selectedRow());
        EXPECT_TRUE(list.tableView()->viewport()->rect().contains(row)) << "in view, sorted by " << option;
    }

    // A change from elsewhere while the user types splits the note: the editor keeps the typed text
    // as a new note, whose row takes the highlight once it is saved.
    editor()->setFocus();
    type(QStringLiteral("s"));
    TestSupport::writeFile(Note::documentFileForKey(shownKey, NoteStorageInbox), "Zucchini\nfrom elsewhere");
    Core::shared().noteDidUpdateFromRemoteServer(std::make_shared<Note>(shownKey, NoteStorageInbox));
    settle();
    time.advance(Warehouse::AutoSaveDelay);
    settle();
    const NotePtr split = shown->note();
    ASSERT_TRUE(split);
    ASSERT_NE(split->key(), shownKey);
    EXPECT_EQ(list.items().size(), 13);
    EXPECT_EQ(highlightedKey(list), split->key());
    EXPECT_EQ(root->selectedNote()->key(), split->key());
}

// Whatever is restored, the highlighted row and the editor show the same note.
TEST_F(ShellTest, RestoringDropsATagOrNoteThatIsGoneOrUnsafe)
{
    const QHash<QString, QString> texts = {
        {QStringLiteral("Kept.txt"), QStringLiteral("Kept\nstill here #idea")},
        {QStringLiteral("Other.txt"), QStringLiteral("Other")}, // the first row, shown when no note is restored
        {QString(), QString()},
    };
    write(QStringLiteral("Kept.txt"), texts[QStringLiteral("Kept.txt")]);
    FileDates::setModificationDate(Note::documentFileForKey(QStringLiteral("Kept.txt"), NoteStorageInbox), 1'600'000'000);
    write(QStringLiteral("Other.txt"), texts[QStringLiteral("Other.txt")]);
    const struct { const char* name; bool stored; int storage; const char* tag; const char* key; int noteStorage, restoredStorage; const char* restoredKey; } cases[] = {
        {"both exist", true, NoteTagHashtag, "idea", "Kept.txt", NoteStorageInbox, NoteTagHashtag, "Kept.txt"},
        {"the tag is gone", true, NoteTagHashtag, "gone", "Kept.txt", NoteStorageInbox, 0, "Kept.txt"},
        {"the note is gone", true, NoteStorageArchive, "", "Gone.txt", NoteStorageInbox, NoteStorageArchive, ""},
        {"unsafe names", true, NoteTagHashtag, "../idea", "../Home/Kept.txt", NoteStorageInbox, 0, "Other.txt"},
        {"a note in no storage", true, 7, "", "Kept.txt", NoteTagHashtag, 0, "Other.txt"},
        {"nothing stored yet", false, 0, "", "", 0, 0, "Other.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UserDefaults& defaults = UserDefaults::standard();
        for (const char* key : {"selectedStorage", "selectedTag", "selectedNoteKey", "selectedNoteStorage"})
            defaults.removeObject(QString::fromLatin1(key));
        if (c.stored) {
            defaults.setInteger(c.storage, QStringLiteral("selectedStorage"));
            defaults.setString(QString::fromLatin1(c.tag), QStringLiteral("selectedTag"));
            defaults.setString(QString::fromLatin1(c.key), QStringLiteral("selectedNoteKey"));
            defaults.setInteger(c.noteStorage, QStringLiteral("selectedNoteStorage"));
        }
        open();
        const QString restoredKey = QString::fromLatin1(c.restoredKey);
        EXPECT_EQ(root->selectedStorage(), c.restoredStorage);
        EXPECT_EQ(root->folderController()->selectedStorage(), std::max(c.restoredStorage, NoteStorageInbox));
        EXPECT_EQ(root->selectedNote() ? root->selectedNote()->key() : QString(), restoredKey);
        EXPECT_EQ(highlightedKey(*root->listController()), restoredKey);
        EXPECT_EQ(editor()->string(), texts[restoredKey]);
        shown.reset();
    }
}

TEST_F(ShellTest, TheSearchFieldSearchesKeepsTheSelectedNoteAndTakesItsKeys)
{
    // By title: Apple pie has a row below it whichever second each note was saved in.
    Core::shared().setNoteSortOptions(2);
    for (const char* title : {"Apple pie", "Banana bread", "Cherry bread"})
        write(QString::fromLatin1(title) + QStringLiteral(".txt"), QString::fromLatin1(title) + QStringLiteral("\nrecipe"));
    open();
    ListViewController& list = *root->listController();
    QLineEdit* field = root->searchField();
    list.selectNote(std::make_shared<Note>(QStringLiteral("Cherry bread.txt"), NoteStorageInbox));
    root->listControllerDidSelectNote(list, list.selectedNote());
    root->queryNote(QStringLiteral("bread"));
    settle();
    EXPECT_EQ(list.items().size(), 2);
    EXPECT_EQ(selectedKey(list), QStringLiteral("Cherry bread.txt")) << "still in the results";
    root->queryNote(QStringLiteral("pie"));
    settle();
    EXPECT_EQ(selectedKey(list), QStringLiteral("Apple pie.txt")) << "the first row";

    field->setFocus();
    QTest::keyClick(field, Qt::Key_Escape);
    settle();
    EXPECT_EQ(field->text(), QString());
    EXPECT_EQ(list.items().size(), 3);
    const struct { Qt::Key key; Qt::KeyboardModifiers modifiers; bool editorFocused; } keys[] = {
        {Qt::Key_Down, {}, false},
        {Qt::Key_Return, {}, true},
        {Qt::Key_Tab, {}, true},
        {Qt::Key_Backtab, Qt::ShiftModifier, false},
    };
    for (const auto& k : keys) {
        field->setFocus();
        const QString before = selectedKey(list);
        QTest::keyClick(field, k.key, k.modifiers);
        settle();
        EXPECT_EQ(editor()->hasFocus(), k.editorFocused) << k.key;
        EXPECT_EQ(selectedKey(list) != before, k.key == Qt::Key_Down) << k.key;
    }
    EXPECT_TRUE(root->folderController()->tableView()->hasFocus()) << "Shift-Tab goes to the sidebar";
}

// A row found by a query shows the text being typed into its note, not the text that matched.
TEST_F(ShellTest, RowsFoundByAQueryFollowTheTypingInTheEditor)
{
    write(QStringLiteral("Salad.txt"), QStringLiteral("Salad\nZmatoes and basil"));
    write(QStringLiteral("Soup.txt"), QStringLiteral("Soup\nbasil broth"));
    open();
    ListViewController& list = *root->listController();
    root->queryNote(QStringLiteral("basil"));
    settle();
    ASSERT_EQ(list.items().size(), 2);
    const auto rowText = [&](const QString& key) { return shownRowText(list, key); };
    ASSERT_TRUE(list.selectNote(std::make_shared<Note>(QStringLiteral("Salad.txt"), NoteStorageInbox)));
    settle();
    editor()->setFocus();
    QTextCursor cursor = editor()->textCursor();
    cursor.setPosition(6);
    editor()->setTextCursor(cursor);
    QTest::keyClick(editor(), Qt::Key_Delete);
    type(QStringLiteral("To"));
    settle();
    ASSERT_EQ(editor()->string(), QStringLiteral("Salad\nTomatoes and basil"));
    EXPECT_TRUE(rowText(QStringLiteral("Salad.txt")).contains(QStringLiteral("Tomatoes"))) << rowText(QStringLiteral("Salad.txt")).toStdString();
    EXPECT_FALSE(rowText(QStringLiteral("Salad.txt")).contains(QStringLiteral("Zmatoes")));
}

// However the list is reached while the search field shows, what is typed next searches.
TEST_F(ShellTest, LettersTypedInTheListGoToTheSearchFieldHoweverTheListWasReached)
{
    for (const char* title : {"Apple pie", "Banana bread"})
        write(QString::fromLatin1(title) + QStringLiteral(".txt"), QString::fromLatin1(title) + QStringLiteral("\nrecipe"));
    open();
    TableView& table = *root->listController()->tableView();
    QLineEdit* field = root->searchField();
    const struct { const char* way; std::function<void()> reach; } ways[] = {
        {"a click on a row", [&] { QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, table.rectOfRow(table.selectedRow()).center()); }},
        {"Shift-Tab", [&] { table.setFocus(Qt::BacktabFocusReason); }},
        {"Tab", [&] { table.setFocus(Qt::TabFocusReason); }},
    };
    for (const auto& w : ways) {
        SCOPED_TRACE(w.way);
        root->queryNote(QString());
        editor()->setFocus();
        settle();
        w.reach();
        settle();
        QTest::keyClicks(window->focusWidget(), QStringLiteral("br"));
        settle();
        EXPECT_EQ(field->text(), QStringLiteral("br"));
    }
}

TEST_F(ShellTest, QuickOpenCommandsGoToALineOrOnlyCloseAndANoteFromAnotherStorageSwitchesTheSidebarFirst)
{
    write(QStringLiteral("Inbox note.txt"), QStringLiteral("Inbox note"));
    write(QStringLiteral("Old plan.txt"), QStringLiteral("Old plan\narchived"), NoteStorageArchive);
    open();
    root->newDocument();
    QStringList lines;
    for (int i = 1; i <= 30; ++i)
        lines << QStringLiteral("line %1").arg(i);
    editor()->setString(lines.join(QLatin1Char('\n')));
    // A command reads the number at its start, as far as the digits go.
    const struct { const char* command; int block; } cases[] = {
        {":25", 24}, {":ab", 0}, {":3", 2}, {"notes", 2}, {":12abc", 11}, {": 7", 6}, {":99999999999999999999", 29}};
    for (const auto& c : cases) {
        root->openQuickly();
        QuickOpenViewController& panel = *root->quickOpenController();
        root->quickOpenDidEnterCommand(panel, QString::fromLatin1(c.command));
        EXPECT_FALSE(panel.view()->isVisible());
        EXPECT_EQ(editor()->textCursor().blockNumber(), c.block) << c.command;
        EXPECT_TRUE(editor()->hasFocus());
    }

    root->openQuickly();
    root->quickOpenDidSelectNote(*root->quickOpenController(), std::make_shared<Note>(QStringLiteral("Old plan.txt"), NoteStorageArchive));
    settle();
    EXPECT_EQ(root->selectedStorage(), NoteStorageArchive);
    EXPECT_EQ(root->folderController()->selectedStorage(), NoteStorageArchive);
    EXPECT_EQ(selectedKey(*root->listController()), QStringLiteral("Old plan.txt"));
    EXPECT_EQ(editor()->string(), QStringLiteral("Old plan\narchived"));
    EXPECT_EQ(UserDefaults::standard().integerForKey(QStringLiteral("selectedStorage")), NoteStorageArchive);
}

TEST_F(ShellTest, TheListHearsANoteIsEditedOnlyWhileTheEditorHasTheFocus)
{
    write(QStringLiteral("Plan.txt"), QStringLiteral("Plan\nsteps"));
    write(QStringLiteral("Other.txt"), QStringLiteral("Other"));
    open();
    ListViewController& list = *root->listController();
    ASSERT_TRUE(list.selectNote(std::make_shared<Note>(QStringLiteral("Plan.txt"), NoteStorageInbox)));
    settle();
    ASSERT_EQ(editor()->string(), QStringLiteral("Plan\nsteps"));
    const struct { const char* key; QWidget* focus; bool editing; } cases[] = {
        {"Plan.txt", editor(), true},
        {"Other.txt", editor(), false},
        {"Plan.txt", root->searchField(), false},
        {"Plan.txt", list.tableView(), false},
    };
    for (const auto& c : cases) {
        c.focus->setFocus();
        settle();
        EXPECT_EQ(root->listControllerIsEditingNote(list, std::make_shared<Note>(QString::fromLatin1(c.key), NoteStorageInbox)),
                  c.editing) << c.key << " with the focus in " << c.focus->metaObject()->className();
    }
}

TEST_F(ShellTest, ANewNoteStartsWithTheTagOnlyWithTheTemplateOnAndTheSidebarShown)
{
    const struct { const char* name; int storage; const char* tag; bool templateOn, sidebarShown; QString text; } cases[] = {
        {"hashtag", NoteTagHashtag, "idea", true, true, QStringLiteral("\n\n#idea\n ")},
        {"mention", NoteTagMention, "ann", true, true, QStringLiteral("\n\n@ann\n ")},
        {"template off", NoteTagHashtag, "idea", false, true, QString()},
        {"sidebar hidden", NoteTagHashtag, "idea", true, false, QString()},
        {"inbox", NoteStorageInbox, "", true, true, QString()},
    };
    open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Core::shared().setEnabledPostTemplate(c.templateOn);
        c.sidebarShown ? root->showSidebar() : root->hideSidebar();
        root->selectStorage(c.storage, QString::fromLatin1(c.tag));
        EXPECT_EQ(root->textForNewNote(*root->noteController()), c.text);
    }
    root->selectStorage(NoteStorageArchive, QString());
    EXPECT_EQ(root->storageForNewNote(*root->noteController()), NoteStorageArchive);
}

// Moves arrive on the file queue and from other threads; the selection follows them on the main thread.
TEST_F(ShellTest, NoteEventsFromOtherThreadsReachTheSelectionInOrder)
{
    write(QStringLiteral("First.txt"), QStringLiteral("First"));
    open();
    root->listControllerDidSelectNote(*root->listController(), std::make_shared<Note>(QStringLiteral("First.txt"), NoteStorageInbox));
    std::thread sender([] {
        auto first = std::make_shared<Note>(QStringLiteral("First.txt"), NoteStorageInbox);
        auto second = std::make_shared<Note>(QStringLiteral("Second.txt"), NoteStorageInbox);
        auto third = std::make_shared<Note>(QStringLiteral("Third.txt"), NoteStorageArchive);
        Core::shared().noteWillMoveTo(first, second);
        Core::shared().noteDidMoveTo(second, third);
    });
    sender.join();
    EXPECT_EQ(root->selectedNote()->key(), QStringLiteral("First.txt")) << "nothing changes off the main thread";
    settle();
    EXPECT_EQ(root->selectedNote()->key(), QStringLiteral("Third.txt"));
    EXPECT_EQ(root->selectedNote()->storage(), NoteStorageArchive);
}

// Another program's change meets the typing: the typed text goes to a note of its own, and the note's
// own row shows the other program's text again, not the typing it showed before.
TEST_F(ShellTest, AnOutsideChangeThatForksTheOpenNoteLeavesItsRowWithTheFilesText)
{
    write(QStringLiteral("Packing list.txt"), QStringLiteral("Packing list\n- socks"));
    open();
    const auto watch = NoteFolderWatch::create(Core::shared());
    ASSERT_TRUE(watch->start());
    ListViewController& list = *root->listController();
    const auto rowText = [&](const QString& key) { return shownRowText(list, key); };
    ASSERT_TRUE(list.selectNote(std::make_shared<Note>(QStringLiteral("Packing list.txt"), NoteStorageInbox)));
    settle();
    editor()->setFocus();
    editor()->moveCursor(QTextCursor::End);
    type(QStringLiteral("\n- typed gloves"));
    settle();
    ASSERT_TRUE(rowText(QStringLiteral("Packing list.txt")).contains(QStringLiteral("gloves")));
    const QString path = Note::documentFileForKey(QStringLiteral("Packing list.txt"), NoteStorageInbox);
    TestSupport::writeFile(path, "Packing list\n- boots from the other program");
    // The watch's quiet spell runs on the test's clock.
    for (int round = 0; round < 200 && !rowText(QStringLiteral("Packing list.txt")).contains(QStringLiteral("boots")); ++round) {
        time.advance(FolderQuery::Debounce);
        settle();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(rowText(QStringLiteral("Packing list.txt")).contains(QStringLiteral("boots")))
        << rowText(QStringLiteral("Packing list.txt")).toStdString();
    EXPECT_FALSE(rowText(QStringLiteral("Packing list.txt")).contains(QStringLiteral("gloves")));
    EXPECT_TRUE(QFileInfo::exists(Note::documentFileForKey(QStringLiteral("Packing list 2.txt"), NoteStorageInbox)));
    watch->stop();
}

} // namespace
