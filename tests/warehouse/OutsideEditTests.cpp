#include "WarehouseTestSupport.h"

#include "../store/EventJournal.h"

#include "NoteFolderWatch.h"

#include <QDir>

#include <chrono>
#include <thread>

namespace {

// Passes the remote events to the session, as the main window does.
class SessionForwarder : public EventJournal {
public:
    explicit SessionForwarder(std::shared_ptr<Warehouse> warehouse) : warehouse_(std::move(warehouse)) {}
    void noteDidUpdateFromRemoteServer(const NotePtr& note) override
    {
        EventJournal::noteDidUpdateFromRemoteServer(note);
        warehouse_->remoteServerDidUpdateNote(note);
    }
    void noteDidDeleteFromRemoteServer(const NotePtr& note) override
    {
        EventJournal::noteDidDeleteFromRemoteServer(note);
        warehouse_->remoteServerDidDeleteNote(note);
    }

private:
    std::shared_ptr<Warehouse> warehouse_;
};

// Another program writing the file, as a shell's ">>" or an editor's rewrite does.
void writeOutside(const QString& path, const QByteArray& data, QIODevice::OpenMode mode = QIODevice::Truncate)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | mode));
    file.write(data);
}

class OutsideEdit : public WarehouseTest {
protected:
    void SetUp() override
    {
        WarehouseTest::SetUp();
        for (const int storage : {NoteStorageInbox, NoteStorageArchive})
            QDir().mkpath(Note::documentDirectoryForStorage(storage));
        journal = std::make_shared<SessionForwarder>(warehouse);
        Core::shared().addNoteStorageListener(journal);
        watch = NoteFolderWatch::create(Core::shared());
        ASSERT_TRUE(watch->start());
        settle();
        journal->clear();
    }

    void TearDown() override
    {
        watch->stop();
        Core::shared().removeNoteStorageListener(journal.get());
        WarehouseTest::TearDown();
    }

    // Lets the folder events arrive and the watch's quiet spell pass, until the
    // journal stops growing for a few rounds.
    void settle()
    {
        qsizetype seen = -1;
        for (int quiet = 0, round = 0; quiet < 20 && round < 400; ++round) {
            Dispatch::waitUntilIdle();
            advance(FolderQuery::Debounce);
            Dispatch::waitUntilIdle();
            const qsizetype now = journal->lines().size();
            quiet = now == seen ? quiet + 1 : 0;
            seen = now;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    std::shared_ptr<SessionForwarder> journal;
    std::shared_ptr<NoteFolderWatch> watch;
};

TEST_F(OutsideEdit, TheOpenNoteReloadsOrKeepsBothTexts)
{
    struct Case {
        const char* name;
        bool unsavedEdits;
    };
    for (const Case& c : {Case{"reload", false}, Case{"fork", true}}) {
        SCOPED_TRACE(c.name);
        const QString key = QStringLiteral("Groceries %1.txt").arg(QLatin1String(c.name));
        const QString document = Note::documentFileForKey(key, NoteStorageInbox);
        const NotePtr note = startSaved(key, QStringLiteral("Groceries\nmilk"));
        // Indexed as the store's own save leaves it: no outside change.
        Core::shared().fileQueue()->sync([&] { note->buildTagLinkAndIndexFiles(true); });
        settle();
        journal->clear();
        editor->calls.clear();
        if (c.unsavedEdits)
            type(QStringLiteral("\neggs"));

        const QString outside = QStringLiteral("\nbread #%1").arg(QLatin1String(c.name));
        writeOutside(document, outside.toUtf8(), QIODevice::Append);
        settle();
        advance(Warehouse::AutoSaveDelay);
        Dispatch::waitUntilIdle();

        EXPECT_EQ(journal->lines().count(QStringLiteral("update")), 1);
        EXPECT_TRUE(journal->lines().contains(QStringLiteral("tagAdd %1 4").arg(QLatin1String(c.name))));
        EXPECT_EQ(textOnDisk(std::make_shared<Note>(key, NoteStorageInbox)), QStringLiteral("Groceries\nmilk") + outside);
        if (c.unsavedEdits) {
            // The editor's text went to a note of its own; the outside text stays in the file.
            EXPECT_EQ(editor->count(QStringLiteral("remoteUpdate")), 0);
            EXPECT_NE(note->key(), key);
            EXPECT_EQ(textOnDisk(note), QStringLiteral("Groceries\nmilk\neggs"));
        } else {
            EXPECT_EQ(editor->text, QStringLiteral("Groceries\nmilk") + outside);
            // The reloaded file is what the editor now builds on: its next save is no conflict.
            type(QStringLiteral("\ntea"));
            advance(Warehouse::AutoSaveDelay);
            Dispatch::waitUntilIdle();
            EXPECT_EQ(note->key(), key);
            EXPECT_EQ(textOnDisk(note), QStringLiteral("Groceries\nmilk") + outside + QStringLiteral("\ntea"));
        }
        finishAndWait(Ending::End);
        settle();
    }
}

// The open note's file grown past the size limit outside: it is indexed by
// its head, but the head never reaches the editor as the note's text, and
// what is typed next becomes a note of its own beside the untouched file.
TEST_F(OutsideEdit, AnOpenNoteGrownTooLargeOutsideIsIndexedButNeverTakenLive)
{
    const QString key = QStringLiteral("Log.txt");
    const QString document = Note::documentFileForKey(key, NoteStorageInbox);
    const NotePtr note = startSaved(key, QStringLiteral("Log\nfirst lines"));
    Core::shared().fileQueue()->sync([&] { note->buildTagLinkAndIndexFiles(true); });
    settle();
    journal->clear();
    editor->calls.clear();

    QByteArray grown = "Log\nfirst lines #grown\n";
    while (grown.size() <= Note::MaximumTextFileSize)
        grown += "filler words of a long log\n";
    writeOutside(document, grown);
    settle();

    EXPECT_TRUE(journal->lines().contains(QStringLiteral("tagAdd grown 4")));
    EXPECT_EQ(editor->count(QStringLiteral("remoteUpdate")), 0);
    EXPECT_EQ(editor->text, QStringLiteral("Log\nfirst lines"));
    type(QStringLiteral("\nmore"));
    advance(Warehouse::AutoSaveDelay);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(TestSupport::readFile(document), grown);
    EXPECT_NE(note->key(), key);
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Log\nfirst lines\nmore"));
    finishAndWait(Ending::End);
    settle();
}

TEST_F(OutsideEdit, FilesAddedChangedAndRemovedOutsideAreIndexed)
{
    const QString home = Note::documentDirectoryForStorage(NoteStorageInbox);
    const QString added = Note::documentFileForKey(QStringLiteral("Dropped.txt"), NoteStorageInbox);

    // Added: in the list, and its tag in the sidebar at once.
    writeOutside(added, "Dropped\n#errands @ann");
    writeOutside(home + QStringLiteral("/.hidden.swp"), "#swap");
    QDir().mkpath(Note::documentRoot() + QStringLiteral("/Elsewhere"));
    writeOutside(Note::documentRoot() + QStringLiteral("/Elsewhere/x.txt"), "#elsewhere");
    settle();
    EXPECT_EQ(journal->lines(), (QStringList{"tagAdd errands 4", "add 1/Dropped.txt 4 errands", "tagAdd ann 5",
                                             "add 1/Dropped.txt 5 ann", "add 1/Dropped.txt 1 -", "update"}));
    EXPECT_TRUE(QFileInfo::exists(Note::headerFileForKey(QStringLiteral("Dropped.txt"), NoteStorageInbox)));
    journal->clear();

    // Changed: the tags follow the text.
    writeOutside(added, "Dropped\n#chores");
    settle();
    EXPECT_EQ(journal->lines(), (QStringList{"tagDelete errands 4", "delete 1/Dropped.txt 4 errands", "tagAdd chores 4",
                                             "add 1/Dropped.txt 4 chores", "tagDelete ann 5",
                                             "delete 1/Dropped.txt 5 ann", "update"}));
    journal->clear();

    // The store's own save is no outside change.
    const auto own = std::make_shared<Note>(QStringLiteral("Dropped.txt"), NoteStorageInbox);
    own->setText(QStringLiteral("Dropped\n#chores done"));
    Core::shared().fileQueue()->sync([&] { own->_commitAndCloseLocalNote({}); });
    settle();
    EXPECT_EQ(journal->lines(), QStringList());

    // Removed: out of the index, the list and the sidebar.
    ASSERT_TRUE(QFile::remove(added));
    settle();
    EXPECT_EQ(journal->lines(), (QStringList{"tagDelete chores 4", "delete 1/Dropped.txt 4 chores",
                                             "delete 1/Dropped.txt 1 -", "remoteDelete"}));
    EXPECT_FALSE(QFileInfo::exists(Note::indexFileForKey(QStringLiteral("Dropped.txt"), NoteStorageInbox)));
}

} // namespace
