#include "CommitTestSupport.h"

namespace {

bool hasSideFiles(const QString& key, int storage)
{
    return QFileInfo::exists(Note::metaFileForKey(key, storage)) && QFileInfo::exists(Note::headerFileForKey(key, storage))
           && QFileInfo::exists(Note::indexFileForKey(key, storage));
}

bool hasAnySideFile(const QString& key, int storage)
{
    return QFileInfo::exists(Note::metaFileForKey(key, storage)) || QFileInfo::exists(Note::headerFileForKey(key, storage))
           || QFileInfo::exists(Note::indexFileForKey(key, storage));
}

// Runs the main queue until the events hold a line starting with the prefix.
bool waitForEvent(const EventJournal& events, const QString& prefix)
{
    return DispatchQueue::runMainUntil(
        [&] {
            const QStringList lines = events.lines();
            return std::any_of(lines.cbegin(), lines.cend(), [&](const QString& line) { return line.startsWith(prefix); });
        },
        5);
}

} // namespace

// --- Move

TEST_F(CommitTest, NoteStoreMoveArchivesWithSideFilesRowAndEvents)
{
    Core::shared().setEnabledAppleCloud(true);
    const auto note = newNote(QStringLiteral("Plan for spring\n#work #URGENT"));
    note->setCreatedOn(1700000000);
    ASSERT_TRUE(commit(note));
    ASSERT_EQ(note->key(), QStringLiteral("Plan for spring.txt"));
    // The archive already has a note of that name.
    TestSupport::writeFile(archive(QStringLiteral("Plan for spring.txt")), "other");
    Clock::setWallClock([] { return CommitNow + 100; });
    const int before = events->lines().size();
    EXPECT_TRUE(note->moveNoteToStorage(NoteStorageInbox)); // its own storage: nothing happens
    EXPECT_EQ(events->lines().size(), before);

    Error error;
    ASSERT_TRUE(note->moveNoteToStorage(NoteStorageArchive, &error));
    ASSERT_TRUE(waitForEvent(*events, QStringLiteral("didMove")));

    EXPECT_EQ(note->key(), QStringLiteral("Plan for spring1.txt"));
    EXPECT_EQ(note->storage(), NoteStorageArchive);
    EXPECT_EQ(note->createdOn(), int64_t(CommitNow) + 100);
    EXPECT_EQ(note->updatedOn(), int64_t(CommitNow) + 100);
    EXPECT_FALSE(QFileInfo::exists(inbox(QStringLiteral("Plan for spring.txt"))));
    EXPECT_EQ(TestSupport::readFile(archive(QStringLiteral("Plan for spring1.txt"))), QByteArray("Plan for spring\n#work #URGENT"));
    EXPECT_EQ(TestSupport::readFile(archive(QStringLiteral("Plan for spring.txt"))), QByteArray("other"));
    EXPECT_FALSE(hasAnySideFile(QStringLiteral("Plan for spring.txt"), NoteStorageInbox));
    EXPECT_TRUE(hasSideFiles(QStringLiteral("Plan for spring1.txt"), NoteStorageArchive));
    EXPECT_FALSE(linked(NoteTagHashtag, QStringLiteral("work"), NoteStorageArchive, note->key()));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("urgent"), NoteStorageArchive, note->key()));
    EXPECT_EQ(rowKeys(), QStringList{"archive/Plan for spring1.txt"});

    EXPECT_EQ(events->lines().mid(before),
              (QStringList{"willMove 1/Plan for spring.txt>2/Plan for spring1.txt", "tagDelete urgent 4",
                  "delete 1/Plan for spring.txt 4 urgent", "tagDelete work 4", "delete 1/Plan for spring.txt 4 work",
                  "tagAdd urgent 4", "add 2/Plan for spring1.txt 4 urgent",
                  "didMove 1/Plan for spring.txt>2/Plan for spring1.txt on main"}));
    EXPECT_EQ(driveCalls(), QStringList{"move"});
    EXPECT_EQ(recordCalls(), QStringList{"move"});
}

TEST_F(CommitTest, NoteStoreMoveGivesAPlaceholderNameAReadableOneAndAnnouncesItDespiteACloudFailure)
{
    cloud().error = Error::make(QStringLiteral("Drive"), 3, QStringLiteral("quota"));
    const auto log = LogCapture::install();
    const auto note = newNote(QStringLiteral("Quarterly review of the budget"));
    note->setKey(Note::uniqueClassicKeyFromURL());
    ASSERT_TRUE(commit(note));
    ASSERT_TRUE(note->moveNoteToStorage(NoteStorageArchive));
    ASSERT_TRUE(waitForEvent(*events, QStringLiteral("didMove")));
    log->uninstall();

    EXPECT_EQ(note->key(), QStringLiteral("Quarterly review of the budget.txt"));
    EXPECT_TRUE(QFileInfo::exists(archive(note->key())));
    EXPECT_EQ(driveCalls(), QStringList{"move"});
    EXPECT_TRUE(recordCalls().isEmpty());
    EXPECT_EQ(log->lines().filter(QStringLiteral("note:move error")), QStringList{"note:move error quota"});
}

TEST_F(CommitTest, NoteStoreMoveFailedFileMoveKeepsTheNoteWhereItWas)
{
    const auto note = committed(QStringLiteral("Plan for spring\n#work"));
    // A plain file where the archive folder should be: the text file cannot go there.
    TestSupport::writeFile(documents() + QStringLiteral("/Archive"), "in the way");

    Error error;
    EXPECT_FALSE(note->moveNoteToStorage(NoteStorageArchive, &error));
    EXPECT_FALSE(error.isNull());
    EXPECT_EQ(note->key(), QStringLiteral("Plan for spring.txt"));
    EXPECT_EQ(note->storage(), NoteStorageInbox);
    EXPECT_TRUE(hasSideFiles(note->key(), NoteStorageInbox));
    EXPECT_FALSE(hasAnySideFile(note->key(), NoteStorageArchive));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("work"), NoteStorageInbox, note->key()));
    EXPECT_EQ(rowKeys(), QStringList{"inbox/Plan for spring.txt"});
    EXPECT_TRUE(driveCalls().isEmpty());
    DispatchQueue::drainMain();
    EXPECT_TRUE(events->lines().filter(QStringLiteral("didMove")).isEmpty());
}

// --- Trash and delete

TEST_F(CommitTest, NoteStoreTrashPutsTheFileIntoTheTrashAndPassesTheDriveErrorOn)
{
    Core::shared().setEnabledAppleCloud(true);
    const auto note = committed(QStringLiteral("Plan for spring\n#work @anna"));
    const int before = events->lines().size();
    QStringList completions;
    note->deleteNote([&](const Error& error) { completions.append(error.isNull() ? QStringLiteral("nil") : error.domain); });

    EXPECT_EQ(completions, QStringList{"nil"});
    EXPECT_EQ(trashedNames(), QStringList{"Plan for spring.txt"});
    EXPECT_FALSE(QFileInfo::exists(inbox(QStringLiteral("Plan for spring.txt"))));
    EXPECT_FALSE(hasAnySideFile(note->key(), NoteStorageInbox));
    EXPECT_TRUE(rowKeys().isEmpty());
    EXPECT_EQ(events->lines().mid(before), (QStringList{"tagDelete work 4", "delete 1/Plan for spring.txt 4 work",
        "tagDelete anna 5", "delete 1/Plan for spring.txt 5 anna", "delete 1/Plan for spring.txt 1 -"}));
    // The note object still describes what was deleted.
    EXPECT_EQ(note->key(), QStringLiteral("Plan for spring.txt"));
    EXPECT_EQ(driveCalls(), QStringList{"delete"});
    EXPECT_EQ(recordCalls(), QStringList{"delete"});

    // The drive's error is passed on; the record store still hears of the deletion.
    cloud().error = Error::make(QStringLiteral("Drive"), 3, QStringLiteral("quota"));
    Error received;
    committed(QStringLiteral("Plan for summer"))->trashNote([&](const Error& error) { received = error; });
    EXPECT_EQ(received.localizedDescription(), QStringLiteral("quota"));
    EXPECT_EQ(recordCalls(), (QStringList{"delete", "delete"}));
}

TEST_F(CommitTest, NoteStoreTrashFailureKeepsTheFileAndSkipsTheCloud)
{
    Core::shared().setEnabledAppleCloud(true);
    const auto note = committed(QStringLiteral("Plan for spring"));
    // A plain file where the Trash folder should be: nothing can go in.
    QDir().mkpath(QFileInfo(trash()).path());
    TestSupport::writeFile(trash(), "not a folder");
    const int before = events->lines().size();
    Error received;
    note->trashNote([&](const Error& error) { received = error; });

    EXPECT_FALSE(received.isNull());
    EXPECT_TRUE(QFileInfo::exists(inbox(note->key())));
    EXPECT_TRUE(events->lines().mid(before).filter(QStringLiteral("delete 1/Plan for spring.txt 1")).isEmpty());
    EXPECT_TRUE(driveCalls().isEmpty());
    QFile::remove(trash());
}

TEST_F(CommitTest, NoteStoreTrashOfAVanishedFileStillClearsItsTraces)
{
    const auto note = committed(QStringLiteral("Plan for spring\n#work"));
    QFile::remove(inbox(note->key()));
    const int before = events->lines().size();
    bool called = false;
    note->_trashLocalNote([&](const Error& error) {
        called = true;
        EXPECT_TRUE(error.isNull());
    });
    EXPECT_TRUE(called);
    EXPECT_FALSE(hasAnySideFile(note->key(), NoteStorageInbox));
    EXPECT_TRUE(rowKeys().isEmpty());
    EXPECT_EQ(events->lines().mid(before), (QStringList{"tagDelete work 4", "delete 1/Plan for spring.txt 4 work"}));
}

// --- Purge

TEST_F(CommitTest, NoteStorePurgeMovesEachFileToItsOwnPurgedName)
{
    Core::shared().setEnabledAppleCloud(true);
    const auto first = newNote(QStringLiteral("Plan for spring"));
    const auto second = newNote(QStringLiteral("Plan for summer"));
    ASSERT_TRUE(commit(first));
    ASSERT_TRUE(commit(second));
    Clock::setWallClock([] { return CommitNow + 60; });
    for (const auto& note : {first, second}) {
        bool called = false;
        note->purgeNote([&](const Error& error) {
            called = true;
            EXPECT_TRUE(error.isNull());
        });
        EXPECT_TRUE(called);
    }

    const QDir purged(Folders::temporary() + QStringLiteral("/Purged"));
    const QStringList names = purged.entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 2);
    for (const QString& name : names) {
        EXPECT_FALSE(Note::isReadableFileName(name)) << name.toStdString();
        EXPECT_EQ(FileDates::modificationDate(purged.filePath(name)), int64_t(CommitNow) + 60);
    }
    EXPECT_FALSE(QFileInfo::exists(inbox(first->key())));
    EXPECT_TRUE(trashedNames().isEmpty());
    EXPECT_TRUE(rowKeys().isEmpty());
    EXPECT_EQ(events->lines().filter(QStringLiteral(" 1 -")),
              (QStringList{"add 1/Plan for spring.txt 1 -", "add 1/Plan for summer.txt 1 -",
                  "delete 1/Plan for spring.txt 1 -", "delete 1/Plan for summer.txt 1 -"}));
    EXPECT_EQ(driveCalls(), (QStringList{"delete", "delete"}));
    EXPECT_EQ(recordCalls(), (QStringList{"delete", "delete"}));
}

// --- Placeholder rename

TEST_F(CommitTest, NoteStoreRenameGivesThePlaceholderNoteItsReadableNameAndPassesTheDriveErrorOn)
{
    Core::shared().setEnabledAppleCloud(true);
    const auto note = newNote(QStringLiteral("Weekly plan review\n#work"));
    const QString placeholder = Note::uniqueClassicKeyFromURL();
    note->setKey(placeholder);
    ASSERT_TRUE(commit(note));
    const int before = events->lines().size();
    Error received = Error::make(QStringLiteral("unset"), 1, QString());
    note->makeReadableFileNameUsingBlock([&](const Error& error) { received = error; });
    ASSERT_TRUE(waitForEvent(*events, QStringLiteral("didMove")));

    EXPECT_TRUE(received.isNull());
    EXPECT_EQ(note->key(), QStringLiteral("Weekly plan review.txt"));
    EXPECT_FALSE(QFileInfo::exists(inbox(placeholder)));
    EXPECT_FALSE(hasAnySideFile(placeholder, NoteStorageInbox));
    EXPECT_TRUE(hasSideFiles(note->key(), NoteStorageInbox));
    EXPECT_TRUE(linked(NoteTagHashtag, QStringLiteral("work"), NoteStorageInbox, note->key()));
    EXPECT_FALSE(linked(NoteTagHashtag, QStringLiteral("work"), NoteStorageInbox, placeholder));
    EXPECT_EQ(rowKeys(), QStringList{"inbox/Weekly plan review.txt"});
    const QStringList lines = events->lines().mid(before);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), QStringLiteral("willMove 1/%1>1/Weekly plan review.txt").arg(placeholder));
    EXPECT_EQ(lines.last(), QStringLiteral("didMove 1/%1>1/Weekly plan review.txt on main").arg(placeholder));
    EXPECT_EQ(driveCalls(), QStringList{"rename"});

    // The drive's error reaches the completion; the local rename stands.
    cloud().error = Error::make(QStringLiteral("Drive"), 3, QStringLiteral("quota"));
    const auto failing = newNote(QStringLiteral("Monthly plan review"));
    failing->setKey(Note::uniqueClassicKeyFromURL());
    ASSERT_TRUE(commit(failing));
    events->clear();
    failing->makeReadableFileNameUsingBlock([&](const Error& error) { received = error; });
    ASSERT_TRUE(waitForEvent(*events, QStringLiteral("didMove")));
    EXPECT_EQ(received.localizedDescription(), QStringLiteral("quota"));
    EXPECT_EQ(failing->key(), QStringLiteral("Monthly plan review.txt"));
}

TEST_F(CommitTest, NoteStoreRenameWaitsForALongerTitle)
{
    const auto note = committed(QStringLiteral("todo"));
    const QString placeholder = note->key();
    const int before = events->lines().size();
    bool called = false;
    note->makeReadableFileNameUsingBlock([&](const Error& error) {
        called = true;
        EXPECT_TRUE(error.isNull());
    });
    DispatchQueue::drainMain();
    EXPECT_TRUE(called);
    EXPECT_EQ(note->key(), placeholder);
    EXPECT_TRUE(QFileInfo::exists(inbox(placeholder)));
    EXPECT_EQ(events->lines().size(), before);
}

// At start the header on disk may be older than the text another program wrote: the text names the note.
TEST_F(CommitTest, NoteStoreRenameAtStartTakesTheTitleOfTheTextOnDisk)
{
    const auto note = committed(QStringLiteral("todo"));
    const QString placeholder = note->key();
    ASSERT_FALSE(Note::isReadableFileName(placeholder));
    TestSupport::writeFile(inbox(placeholder), "Quarterly garden plan from the other program\nmore");
    Core::shared().fileQueue()->sync([] { Note::makeReadableFileNames(); });
    DispatchQueue::drainMain();
    EXPECT_FALSE(QFileInfo::exists(inbox(placeholder)));
    EXPECT_TRUE(QFileInfo::exists(inbox(QStringLiteral("Quarterly garden plan from the other program.txt"))));
}
