// Every note with a title ends under its title's name, whichever way it was
// saved: a note still under a placeholder name takes it at its next save
// (each way the session saves, the retry after a failed save) or at the next
// start; a fork made while editing takes the fork's name of its note.
#include "DiskFault.h"
#include "WarehouseTestSupport.h"

#include "Store/ListItem.h"

#include <optional>

namespace {

using WarehouseNaming = WarehouseTest;

const QString Placeholder = QStringLiteral("Untitled Note 2026-12-07 at 23-44-48 GMT.txt");

bool inInbox(const QString& key)
{
    return QFileInfo::exists(Note::documentFileForKey(key, NoteStorageInbox));
}

bool searchFinds(const QString& word, const QString& key)
{
    bool found = false;
    Core::shared().syncDatabase([&](SLDatabase& db) {
        Note::searchDatabase(db, word, [&](const Note::ListItemList& notes, const Note::ListItemList&) {
            for (const auto& item : notes)
                found = found || item->key() == key;
        });
    });
    return found;
}

TEST_F(WarehouseNaming, AStuckNoteTakesItsTitlesNameAtItsNextSaveWhicheverWayItIsSaved)
{
    // No ending: the autosave after the pause.
    const std::optional<Ending> ways[] = {std::nullopt, Ending::End, Ending::Commit, Ending::Emergency};
    for (const std::optional<Ending> way : ways) {
        SCOPED_TRACE(way ? int(*way) : -1);
        const NotePtr note = startSaved(Placeholder, QStringLiteral("Packing list for the trip"));
        type(QStringLiteral("\nsocks"));
        if (way)
            finishAndWait(*way);
        else
            advance(2.0);
        Dispatch::waitUntilIdle();
        EXPECT_EQ(note->key(), QStringLiteral("Packing list for the trip.txt"));
        EXPECT_FALSE(inInbox(Placeholder));
        EXPECT_EQ(textOnDisk(note), QStringLiteral("Packing list for the trip\nsocks"));
        QFile::remove(Note::documentFileForKey(note->key(), NoteStorageInbox));
    }
}

// The first keystroke was saved under a placeholder name, then the disk
// filled: the note's text is saved only by the retry once space is back.
TEST_F(WarehouseNaming, ANoteSavedOnlyByTheRetryTakesItsTitlesName)
{
    QString refusal;
    const auto fault = DiskFault::make(DiskFault::Kind::InjectedFull, Note::documentDirectoryForStorage(NoteStorageInbox), &refusal);
    const auto fresh = std::make_shared<Note>();
    start(fresh);
    type(QStringLiteral("B"));
    Dispatch::waitUntilIdle();
    const QString first = fresh->key();
    ASSERT_FALSE(Note::isReadableFileName(first));

    fault->fail();
    type(QStringLiteral("rand new while full"));
    advance(2.0);
    finishAndWait(Ending::End);
    startSaved(QStringLiteral("Elsewhere.txt"), QStringLiteral("Elsewhere"));
    ASSERT_EQ(warehouse->unsavedNotes().size(), 1);
    EXPECT_EQ(fresh->text(), QStringLiteral("Brand new while full")) << "a failed save keeps its name and its text";

    fault->heal();
    advance(Warehouse::RetryDelay);
    Dispatch::waitUntilIdle();
    EXPECT_TRUE(warehouse->unsavedNotes().isEmpty());
    EXPECT_EQ(fresh->key(), QStringLiteral("Brand new while full.txt"));
    EXPECT_FALSE(inInbox(first));
    EXPECT_EQ(textOnDisk(fresh), QStringLiteral("Brand new while full"));
}

// A change from elsewhere meets the user's typing: the typed text becomes a
// note of its own in the same storage, named after its title as a new note
// is: the next free numbered name, or a placeholder for a short title.
TEST_F(WarehouseNaming, AForkWhileEditingIsNamedAfterItsTitle)
{
    const struct {
        const char* key;
        const char* start;
        const char* typed;
        const char* fork;
    } cases[] = {
        {"Welcome.txt", "Welcome", "\nmy edit", "Untitled Note "},
        {"Weekly plan.txt", "Weekly plan\nmonday", " tuesday", "Weekly plan 2.txt"},
        {"Untitled Note 2026-12-07 at 23-44-48 GMT.txt", "Garden plan for spring", "\nroses", "Garden plan for spring.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const QString key = QString::fromUtf8(c.key);
        const NotePtr note = startSaved(key, QString::fromUtf8(c.start));
        type(QString::fromUtf8(c.typed));
        const QString remote = QString::fromUtf8(c.start) + QStringLiteral("\nfrom the laptop");
        const auto incoming = std::make_shared<Note>(key, NoteStorageInbox);
        incoming->setText(remote);
        TestSupport::writeFile(Note::documentFileForKey(key, NoteStorageInbox), remote.toUtf8());
        Core::shared().fileQueue()->async([warehouse = warehouse, incoming] { warehouse->remoteServerDidUpdateNote(incoming); });
        Dispatch::waitUntilIdle();

        if (QString::fromUtf8(c.fork).endsWith(QLatin1String(".txt")))
            EXPECT_EQ(note->key(), QString::fromUtf8(c.fork));
        else
            EXPECT_TRUE(note->key().startsWith(QString::fromUtf8(c.fork))) << note->key().toStdString();
        EXPECT_EQ(textOnDisk(note), QString::fromUtf8(c.start) + QString::fromUtf8(c.typed));
        EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(key, NoteStorageInbox)), remote.toUtf8());
        finishAndWait(Ending::End);
        QFile::remove(Note::documentFileForKey(key, NoteStorageInbox));
        QFile::remove(Note::documentFileForKey(note->key(), NoteStorageInbox));
    }
}

// Notes an earlier run left under placeholder names take their titles' names
// when the store starts, with their rows; a title still too short keeps its name.
TEST_F(WarehouseNaming, StuckNotesTakeTheirTitlesNamesAtStart)
{
    const QString shortTitle = QStringLiteral("Untitled Note 2026-12-07 at 23-44-48 GMT 2.txt");
    savedNote(Placeholder, QStringLiteral("Brand new while full\nzeppelin"));
    savedNote(shortTitle, QStringLiteral("Hi"));
    Core::shared().buildTagLinkAndIndexFiles();
    Dispatch::waitUntilIdle();
    EXPECT_FALSE(inInbox(Placeholder));
    EXPECT_TRUE(inInbox(QStringLiteral("Brand new while full.txt")));
    EXPECT_TRUE(searchFinds(QStringLiteral("zeppelin"), QStringLiteral("Brand new while full.txt")));
    EXPECT_TRUE(inInbox(shortTitle));
    EXPECT_TRUE(newDriveCalls().contains(QStringLiteral("rename")));
}

} // namespace
