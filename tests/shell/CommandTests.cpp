#include "ShellTestSupport.h"

#include "Export/ExportCommands.h"
#include "kit/MenuItem.h"
#include "kit/SharingService.h"

#include "files/Trash.h"

#include <QClipboard>
#include <QFile>
#include <QMimeData>
#include <QStandardPaths>

namespace {

bool enabled(RootViewController& root, const char* action)
{
    MenuItem item{QString(), Selector(action)};
    return root.validateMenuItem(item);
}

QString inbox(const QString& key)
{
    return Note::documentFileForKey(key, NoteStorageInbox);
}

TEST_F(ShellTest, ArchiveAndRestoreAreOfferedForTheNoteWhereItCanGo)
{
    write(QStringLiteral("Plan.txt"), QStringLiteral("Plan"));
    write(QStringLiteral("Old.txt"), QStringLiteral("Old"), NoteStorageArchive);
    const struct { const char* name; NotePtr note; bool archive, restore; } cases[] = {
        {"inbox note", std::make_shared<Note>(QStringLiteral("Plan.txt"), NoteStorageInbox), true, false},
        {"archived note", std::make_shared<Note>(QStringLiteral("Old.txt"), NoteStorageArchive), false, true},
        {"note without a key", std::make_shared<Note>(), false, false},
    };
    open();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        root->listControllerDidSelectNote(*root->listController(), c.note);
        EXPECT_EQ(enabled(*root, "archiveNote:"), c.archive);
        EXPECT_EQ(enabled(*root, "restoreNoteToInbox:"), c.restore);
    }
    root->newDocument();
    EXPECT_FALSE(enabled(*root, "copyNoteHTML:")) << "an empty note has nothing to copy";
    type(QStringLiteral("x"));
    EXPECT_TRUE(enabled(*root, "copyNoteHTML:"));
}

TEST_F(ShellTest, TheSortInUseIsTickedAndChoosingItAgainDoesNotReloadTheList)
{
    write(QStringLiteral("Plan.txt"), QStringLiteral("Plan"));
    open();
    const ListItemPtr row = root->listController()->items().value(0);
    root->selectNoteSortOptions(Core::shared().noteSortOptions());
    settle();
    EXPECT_EQ(root->listController()->items().value(0), row);
    MenuItem byTitle{QString(), Selector("sortNoteByTitle:")};
    root->validateMenuItem(byTitle);
    EXPECT_FALSE(byTitle.isChecked());
    root->selectNoteSortOptions(2);
    settle();
    EXPECT_NE(root->listController()->items().value(0), row);
    EXPECT_EQ(UserDefaults::standard().integerForKey(QStringLiteral("notesort")), 2);
    root->validateMenuItem(byTitle);
    EXPECT_TRUE(byTitle.isChecked());
}

TEST_F(ShellTest, DeleteAsksFirstAndAnswersWhetherTheNoteWent)
{
    const struct { const char* name; const char* button; bool trashUnusable; bool deleted; } cases[] = {
        {"cancel", "Cancel", false, false},
        {"confirm", "Delete Note", false, true},
        {"the trash cannot take it", "Delete Note", true, false},
    };
    open();
    const QString trashFiles = Trash::folder() + QStringLiteral("/files");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const NotePtr note = write(QStringLiteral("Plan.txt"), QStringLiteral("Plan\nsteps"));
        if (c.trashUnusable) {
            QDir(trashFiles).removeRecursively();
            TestSupport::writeFile(trashFiles, "not a folder");
        }
        std::optional<bool> answer;
        root->deleteNoteWithConfirmation(note, [&](bool deleted) { answer = deleted; });
        ASSERT_TRUE(answerSheet(QString::fromLatin1(c.button)));
        EXPECT_EQ(sheetText, QStringLiteral("Delete \"Plan\"?"));
        EXPECT_EQ(answer, std::optional(c.deleted));
        EXPECT_EQ(QFile::exists(inbox(QStringLiteral("Plan.txt"))), !c.deleted);
        QFile::remove(trashFiles);
    }

    root->newDocument();
    editor()->setFocus();
    EXPECT_FALSE(enabled(*root, "deleteNote:"));
    root->deleteNote();
    EXPECT_FALSE(answerSheet(QStringLiteral("Cancel"))) << "no sheet while typing";
    root->listController()->tableView()->setFocus();
    EXPECT_TRUE(enabled(*root, "deleteNote:"));
    root->deleteNote();
    EXPECT_FALSE(answerSheet(QStringLiteral("Cancel"))) << "a note without a key is not deleted";
    EXPECT_EQ(root->listController()->selectedNote()->key(), QStringLiteral("Plan.txt")) << "the next row instead";
}

TEST_F(ShellTest, OpeningAFileSelectsTheSameNoteImportsAnotherOrRefuses)
{
    const QString folder = TestSupport::home() + QStringLiteral("/incoming/");
    QDir(folder).removeRecursively();
    const QString plan = folder + QStringLiteral("Project plan.txt");
    const struct { const char* name; QByteArray fileText; bool opened; const char* importedKey; } cases[] = {
        {"the same text", "Project plan\nsteps", true, ""},
        {"other text", "Project plan\nnew steps", true, "Project plan 2.txt"},
        {"a folder", {}, false, ""},
        {"over 64 MiB", {}, false, ""},
        {"a link to the file", "Linked travel notes\nday one", true, "Linked travel notes.txt"},
    };
    open();
    write(QStringLiteral("Project plan.txt"), QStringLiteral("Project plan\nsteps"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QString path = plan;
        QDir(folder).removeRecursively();
        if (c.name == std::string("a folder"))
            QDir().mkpath(path);
        else if (c.name == std::string("over 64 MiB")) {
            TestSupport::writeFile(path, "big");
            QFile(path).resize(RootViewController::OpenFileSizeLimit + 1);
        } else if (c.name == std::string("a link to the file")) {
            TestSupport::writeFile(folder + QStringLiteral("target.txt"), c.fileText);
            path = folder + QStringLiteral("Linked.txt");
            QFile::link(folder + QStringLiteral("target.txt"), path);
        } else {
            TestSupport::writeFile(path, c.fileText);
        }
        root->newDocument();
        EXPECT_EQ(root->openFile(path), c.opened);
        settle();
        EXPECT_EQ(answerSheet(QStringLiteral("OK")), !c.opened) << "a refusal says why";
        EXPECT_EQ(editor()->string(), c.opened ? QString::fromUtf8(c.fileText) : QString());
        if (*c.importedKey) {
            EXPECT_EQ(TestSupport::readFile(inbox(QString::fromUtf8(c.importedKey))), c.fileText);
        }
    }
    EXPECT_EQ(TestSupport::readFile(inbox(QStringLiteral("Project plan.txt"))), "Project plan\nsteps");

    // A note of the archive while the inbox shows: the sidebar switches to the archive and the list
    // selects it.
    write(QStringLiteral("Old plan.txt"), QStringLiteral("Old plan\narchived"), NoteStorageArchive);
    TestSupport::writeFile(folder + QStringLiteral("Old plan.txt"), "Old plan\narchived");
    ASSERT_EQ(root->listController()->selectedStorage(), NoteStorageInbox);
    EXPECT_TRUE(root->openFile(folder + QStringLiteral("Old plan.txt")));
    settle();
    EXPECT_EQ(root->selectedStorage(), NoteStorageArchive);
    EXPECT_EQ(root->folderController()->selectedStorage(), NoteStorageArchive);
    ASSERT_TRUE(root->listController()->selectedNote());
    EXPECT_EQ(root->listController()->selectedNote()->key(), QStringLiteral("Old plan.txt"));
    EXPECT_EQ(editor()->string(), QStringLiteral("Old plan\narchived"));
}

TEST_F(ShellTest, SharedAndExportedFilesAreNamedAfterTheTitle)
{
    const struct { QString text, extension, name; } names[] = {
        {QString(), QStringLiteral("pdf"), QStringLiteral("Untitled.pdf")},
        {QString(), QStringLiteral("txt"), QStringLiteral("Untitled.txt")},
        {QStringLiteral("# Trip: Oslo/Bergen?\nday one"), QStringLiteral("txt"), QStringLiteral("Trip Oslo Bergen.txt")},
    };
    for (const auto& n : names)
        EXPECT_EQ(ExportCommands::fileNameForText(n.text, n.extension), n.name);

    open();
    root->newDocument();
    type(QStringLiteral("Weekend trip"));
    QMenu* menu = window->shareMenu();
    emit menu->aboutToShow();
    emit menu->aboutToShow();
    ASSERT_EQ(menu->actions().size(), 5) << "a separator and four services, built once";
    QAction* copy = menu->actions().last();
    EXPECT_EQ(copy->text(), QStringLiteral("Copy File"));
    ASSERT_TRUE(static_cast<MenuItem*>(copy)->dispatch());
    settle();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) + QStringLiteral("/brindlewick/share");
    EXPECT_EQ(QFile::permissions(folder) & 0x0077, 0) << "private to the user";
    const QList<QUrl> urls = QApplication::clipboard()->mimeData()->urls();
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(urls[0].toLocalFile(), folder + QStringLiteral("/Weekend trip.txt"));
    EXPECT_EQ(TestSupport::readFile(urls[0].toLocalFile()), "Weekend trip");
}

TEST(ShellSharing, ServicesStartTheDesktopToolsWithTheFiles)
{
    QStringList calls;
    SharingService::setLauncher([&](const QString& program, const QStringList& arguments) {
        calls << program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
        return true;
    });
    const QList<QUrl> files = {QUrl::fromLocalFile(QStringLiteral("/tmp/a b.txt"))};
    const struct { SharingService::Kind kind; QString call; } cases[] = {
        {SharingService::Email, QStringLiteral("xdg-email --attach /tmp/a b.txt")},
        {SharingService::OpenWithDefaultApplication, QStringLiteral("xdg-open /tmp/a b.txt")},
        {SharingService::ShowInFolder,
         QStringLiteral("dbus-send --session --type=method_call --dest=org.freedesktop.FileManager1 "
                        "/org/freedesktop/FileManager1 org.freedesktop.FileManager1.ShowItems "
                        "array:string:file:///tmp/a%20b.txt string:")},
    };
    for (const auto& c : cases) {
        calls.clear();
        EXPECT_TRUE(SharingService(c.kind).performWithItems(files));
        EXPECT_EQ(calls, QStringList{c.call});
        EXPECT_FALSE(SharingService(c.kind).performWithItems({QUrl(QStringLiteral("https://example.org/a.txt"))}));
    }
    EXPECT_TRUE(SharingService::sharingServicesForItems({QUrl(QStringLiteral("https://example.org"))}).isEmpty());
    SharingService::setLauncher({});
}

// The tag of the archived note leaves the sidebar: the window falls back to all notes, and the list
// and the editor show what is there.
TEST_F(ShellTest, ArchivingTheLastNoteOfTheShownTagFallsBackToAllNotes)
{
    write(QStringLiteral("Soup.txt"), QStringLiteral("Soup\n#cooking"));
    write(QStringLiteral("Other.txt"), QStringLiteral("Other"));
    open();
    root->selectStorage(NoteTagHashtag, QStringLiteral("cooking"));
    settle();
    ListViewController& list = *root->listController();
    ASSERT_TRUE(list.selectNote(std::make_shared<Note>(QStringLiteral("Soup.txt"), NoteStorageInbox)));
    settle();
    ASSERT_EQ(editor()->string(), QStringLiteral("Soup\n#cooking"));

    ASSERT_TRUE(window->tryToPerform(Selector("archiveNote:"), nullptr));
    settle();
    EXPECT_TRUE(root->folderController()->hashtags().isEmpty());
    EXPECT_EQ(root->selectedStorage(), NoteStorageInbox);
    EXPECT_EQ(root->folderController()->selectedStorage(), NoteStorageInbox);
    EXPECT_EQ(list.selectedStorage(), NoteStorageInbox);
    ASSERT_EQ(list.items().size(), 1);
    EXPECT_EQ(list.tableBridge()->selectedRow(), (IndexPath{ListViewController::Notes, 0}));
    EXPECT_EQ(editor()->string(), QStringLiteral("Other"));
    EXPECT_EQ(UserDefaults::standard().integerForKey(QStringLiteral("selectedStorage")), NoteStorageInbox);
}

// The whole path a user takes: write a note, find it, archive it, restore it and delete it.
TEST_F(ShellTest, ANoteIsWrittenFoundArchivedRestoredAndDeleted)
{
    open();
    ASSERT_TRUE(window->tryToPerform(Selector("newDocument:"), nullptr));
    settle();
    type(QStringLiteral("Weekend groceries\n- milk"));
    root->newDocument(); // a short note is saved when its editing ends
    settle();
    const QString key = QStringLiteral("Weekend groceries.txt");
    EXPECT_TRUE(inbox(key).endsWith(QStringLiteral("/Home/Weekend groceries.txt")));
    EXPECT_EQ(TestSupport::readFile(inbox(key)), "Weekend groceries\n- milk");
    ASSERT_EQ(root->listController()->items().size(), 1);

    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("groc"));
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return root->quickOpenController()->state() == QuickOpenViewController::Shown; }, 10));
    settle();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    EXPECT_EQ(editor()->string(), QStringLiteral("Weekend groceries\n- milk"));

    ASSERT_TRUE(window->tryToPerform(Selector("archiveNote:"), nullptr));
    settle();
    EXPECT_TRUE(QFile::exists(Note::documentFileForKey(key, NoteStorageArchive)));
    EXPECT_EQ(root->selectedNote()->storage(), NoteStorageArchive) << "the selection follows the move";
    ASSERT_TRUE(window->tryToPerform(Selector("restoreNoteToInbox:"), nullptr));
    settle();
    EXPECT_TRUE(QFile::exists(inbox(key)));

    root->listController()->tableView()->setFocus();
    ASSERT_TRUE(window->tryToPerform(Selector("deleteNote:"), nullptr));
    ASSERT_TRUE(answerSheet(QStringLiteral("Delete Note")));
    EXPECT_FALSE(QFile::exists(inbox(key)));
    EXPECT_TRUE(QFile::exists(Trash::folder() + QStringLiteral("/files/") + key));
    EXPECT_TRUE(root->listController()->items().isEmpty());
}

} // namespace
