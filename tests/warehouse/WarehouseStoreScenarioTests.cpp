// The store end to end, as the main window drives it: a note is created,
// typed into and autosaved, archived, found by search; a placeholder-named
// note gets its readable name; a remote change while typing forks the note;
// quitting loses nothing.
#include "WarehouseTestSupport.h"

#include "Store/ListItem.h"

namespace {

using WarehouseStoreScenario = WarehouseTest;

QStringList searchKeys(const QString& query, bool archived)
{
    QStringList keys;
    Core::shared().syncDatabase([&](SLDatabase& db) {
        Note::searchDatabase(db, query, [&](const Note::ListItemList& notes, const Note::ListItemList& archive) {
            for (const auto& item : archived ? archive : notes)
                keys.append(item->key());
        });
    });
    return keys;
}

TEST_F(WarehouseStoreScenario, CreateTypeArchiveSearchRenameForkAndQuit)
{
    // Create and type: the first change gives the note its file.
    const auto trip = std::make_shared<Note>();
    warehouse->startEditingNote(trip, [] {});
    type(QStringLiteral("Trip to Lisbon\n"));
    Dispatch::waitUntilIdle();
    ASSERT_EQ(trip->key(), QStringLiteral("Trip to Lisbon.txt"));

    type(QStringLiteral("#travel pack sunscreen"));
    advance(2.0);
    EXPECT_EQ(textOnDisk(trip), QStringLiteral("Trip to Lisbon\n#travel pack sunscreen"));
    EXPECT_EQ(searchKeys(QStringLiteral("sunscreen"), false), QStringList{"Trip to Lisbon.txt"});

    // Archive it, as the main window does: finish the session, then move.
    type(QStringLiteral(" hat"));
    int ended = 0;
    warehouse->endEditingNoteForMoveOrDelete([&] { ++ended; });
    bool moved = false;
    Core::shared().fileQueue()->async([&] { moved = trip->moveNoteToStorage(NoteStorageArchive); });
    Dispatch::waitUntilIdle();
    ASSERT_TRUE(moved);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(trip->storage(), NoteStorageArchive);
    EXPECT_TRUE(searchKeys(QStringLiteral("sunscreen"), false).isEmpty());
    EXPECT_EQ(searchKeys(QStringLiteral("sunscreen"), true), QStringList{"Trip to Lisbon.txt"});

    // A second note starts with too short a title for a readable name.
    const auto idea = std::make_shared<Note>();
    start(idea);
    type(QStringLiteral("Hi"));
    Dispatch::waitUntilIdle();
    ASSERT_FALSE(Note::isReadableFileName(idea->key()));
    const QString placeholder = idea->key();
    type(QStringLiteral(" there a longer idea\nwith a zeppelin"));
    advance(2.0);
    EXPECT_EQ(idea->key(), QStringLiteral("Hi there a longer idea.txt"));
    EXPECT_FALSE(QFileInfo::exists(Note::documentFileForKey(placeholder, NoteStorageInbox)));
    EXPECT_EQ(searchKeys(QStringLiteral("zeppelin"), false), QStringList{"Hi there a longer idea.txt"});
    finishAndWait(Ending::End);

    // Back to the archived trip; the laptop changes it while the user types.
    start(trip);
    EXPECT_EQ(editor->text, QStringLiteral("Trip to Lisbon\n#travel pack sunscreen hat"));
    type(QStringLiteral(" passport"));
    const auto remote = std::make_shared<Note>(trip->key(), NoteStorageArchive);
    remote->setText(QStringLiteral("Trip to Lisbon\n#travel pack sunscreen hat tickets"));
    TestSupport::writeFile(Note::documentFileForKey(trip->key(), NoteStorageArchive), remote->text().toUtf8());
    Core::shared().fileQueue()->async([warehouse = warehouse, remote] { warehouse->remoteServerDidUpdateNote(remote); });
    Dispatch::waitUntilIdle();
    EXPECT_EQ(trip->key(), QStringLiteral("Trip to Lisbon 2.txt"));
    EXPECT_EQ(trip->storage(), NoteStorageArchive);

    // Quit while typing: everything is on disk when the commit returns.
    type(QStringLiteral(" adapter"));
    warehouse->emergencyCommitEditingNote({});
    EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(QStringLiteral("Trip to Lisbon 2.txt"), NoteStorageArchive)),
              QByteArray("Trip to Lisbon\n#travel pack sunscreen hat passport adapter"));
    EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(QStringLiteral("Trip to Lisbon.txt"), NoteStorageArchive)),
              QByteArray("Trip to Lisbon\n#travel pack sunscreen hat tickets"));
    EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(QStringLiteral("Hi there a longer idea.txt"), NoteStorageInbox)),
              QByteArray("Hi there a longer idea\nwith a zeppelin"));
    Dispatch::waitUntilIdle();
    EXPECT_EQ(searchKeys(QStringLiteral("adapter"), true), QStringList{"Trip to Lisbon 2.txt"});
}

} // namespace
