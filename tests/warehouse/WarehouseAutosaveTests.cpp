#include "WarehouseTestSupport.h"

namespace {

using WarehouseAutosave = WarehouseTest;

TEST_F(WarehouseAutosave, ChangesOfOnePassCountButReportAndArmOnce)
{
    const NotePtr note = startSaved(QStringLiteral("Five changes.txt"), QStringLiteral("Five changes\nbody"));
    EXPECT_EQ(warehouse->textWhenStartEditing(), QStringLiteral("Five changes\nbody"));

    for (int i = 0; i < 5; ++i)
        type(QStringLiteral("x"));
    EXPECT_EQ(warehouse->editingChanges(), 5);
    EXPECT_EQ(warehouse->editingChangesCK(), 5);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(editor->changeReports, QList<int64_t>{1});

    // A later pass reports again, with its own first count.
    type(QStringLiteral("y"), 3);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(editor->changeReports, (QList<int64_t>{1, 3}));

    advance(2.0);
    EXPECT_EQ(editor->count(QStringLiteral("shouldAutoSave")), 1);
    EXPECT_EQ(warehouse->editingChanges(), 0);
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Five changes\nbodyxxxxxy"));
    EXPECT_EQ(newDriveCalls(), QStringList{"commit"});
    // The drive's date stamps the note and the session.
    EXPECT_EQ(warehouse->lastSaveDate(), cloud->commitDate);
    EXPECT_EQ(note->updatedOn(), WarehouseNowSeconds + 30);

    advance(58.0);
    EXPECT_EQ(editor->count(QStringLiteral("shouldAutoSave")), 1);
    EXPECT_EQ(newCKCalls(), QStringList{"save"});
    EXPECT_EQ(warehouse->editingChangesCK(), 0);
}

TEST_F(WarehouseAutosave, ManyPendingChangesShortenTheLocalDelay)
{
    const NotePtr note = startSaved(QStringLiteral("Pending changes.txt"), QStringLiteral("Pending changes"));
    const std::pair<int64_t, double> cases[] = {{512, 2.0}, {513, 1.0}};
    for (const auto& [changes, delay] : cases) {
        const int before = editor->count(QStringLiteral("shouldAutoSave"));
        type(QStringLiteral("+"), changes);
        advance(delay - 0.1);
        EXPECT_EQ(editor->count(QStringLiteral("shouldAutoSave")), before) << changes;
        advance(0.1);
        EXPECT_EQ(editor->count(QStringLiteral("shouldAutoSave")), before + 1) << changes;
        EXPECT_EQ(textOnDisk(note), editor->text) << changes;
    }
}

TEST_F(WarehouseAutosave, ANoteWithoutAFileIsCommittedAtOnceWithOnlyTheCloudKitTimer)
{
    const auto note = std::make_shared<Note>();
    int started = 0;
    warehouse->startEditingNote(note, [&] { ++started; });
    EXPECT_EQ(started, 1); // at once, on the caller's thread

    type(QStringLiteral("Groceries for the weekend\nmilk"));
    EXPECT_EQ(warehouse->editingChanges(), 0);
    EXPECT_EQ(warehouse->editingChangesCK(), 1);
    Dispatch::waitUntilIdle();
    ASSERT_EQ(note->key(), QStringLiteral("Groceries for the weekend.txt"));
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Groceries for the weekend\nmilk"));
    EXPECT_EQ(note->updatedOn(), WarehouseNowSeconds);
    EXPECT_EQ(editor->count(QStringLiteral("text")), 1);
    EXPECT_EQ(editor->count(QStringLiteral("scroll")), 1);

    // No local timer; the CloudKit one finds no completed save yet and keeps the count.
    advance(59.0);
    EXPECT_EQ(editor->count(QStringLiteral("shouldAutoSave")), 0);
    advance(1.0);
    EXPECT_TRUE(newCKCalls().isEmpty());
    EXPECT_EQ(warehouse->editingChangesCK(), 1);
}

TEST_F(WarehouseAutosave, TheCloudKitTimerWaitsForAFirstCompletedSave)
{
    const NotePtr note = startSaved(QStringLiteral("Refused autosave.txt"), QStringLiteral("Refused autosave"));
    editor->allowAutoSave = false;
    type(QStringLiteral("!"));
    advance(60.0);
    EXPECT_EQ(editor->count(QStringLiteral("shouldAutoSave")), 1);
    EXPECT_TRUE(newCKCalls().isEmpty());
    EXPECT_EQ(warehouse->editingChanges(), 1);
    EXPECT_EQ(warehouse->editingChangesCK(), 1);
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Refused autosave"));

    // The next pass saves, and the next CloudKit timer finds the save's date.
    editor->allowAutoSave = true;
    type(QStringLiteral("?"));
    advance(60.0);
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Refused autosave!?"));
    EXPECT_EQ(newCKCalls(), QStringList{"save"});
}

TEST_F(WarehouseAutosave, ANoteWithoutAKeyIsNeverSentToCloudKit)
{
    const NotePtr note = startSaved(QStringLiteral("Forked soon.txt"), QStringLiteral("Forked soon"));
    type(QStringLiteral("!"));
    advance(2.0);
    ASSERT_TRUE(warehouse->lastSaveDate().isValid());
    // A fork has taken the key; its commit has not run yet.
    note->forkNote();

    advance(58.0);
    EXPECT_EQ(warehouse->editingChangesCK(), 1);
    int ended = 0;
    warehouse->endEditingNote([&] { ++ended; });
    warehouse->emergencyCommitEditingNote([&] { ++ended; });
    Dispatch::waitUntilIdle();
    EXPECT_EQ(ended, 2);
    EXPECT_TRUE(newCKCalls().isEmpty());
}

TEST_F(WarehouseAutosave, NothingGoesToTheCloudWhileItIsOff)
{
    Core::shared().setEnabledAppleCloud(false);
    const NotePtr note = startSaved(QStringLiteral("Cloud off.txt"), QStringLiteral("Cloud off"));
    type(QStringLiteral("."));
    advance(60.0);
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Cloud off."));
    EXPECT_TRUE(newDriveCalls().isEmpty());
    EXPECT_TRUE(newCKCalls().isEmpty());
    // With the cloud off the save brings no date: the note is stamped now.
    EXPECT_FALSE(warehouse->lastSaveDate().isValid());
    EXPECT_EQ(note->updatedOn(), WarehouseNowSeconds);
}

TEST_F(WarehouseAutosave, ARefusingEditorPostponesTheSave)
{
    const NotePtr note = startSaved(QStringLiteral("No text yet.txt"), QStringLiteral("No text yet"));
    editor->textAvailable = false;
    type(QStringLiteral("+"));
    advance(2.0);
    EXPECT_EQ(editor->count(QStringLiteral("text")), 1);
    EXPECT_EQ(warehouse->editingChanges(), 1);
    EXPECT_EQ(textOnDisk(note), QStringLiteral("No text yet"));
    EXPECT_TRUE(newDriveCalls().isEmpty());
}

TEST_F(WarehouseAutosave, ResetCancelsTimersAndCounts)
{
    const NotePtr note = startSaved(QStringLiteral("Reset note.txt"), QStringLiteral("Reset note"));
    type(QStringLiteral("z"), 4);
    warehouse->resetEditingChanges();
    EXPECT_EQ(warehouse->editingChanges(), 0);
    EXPECT_EQ(warehouse->editingChangesCK(), 0);
    advance(60.0);
    EXPECT_EQ(editor->count(QStringLiteral("shouldAutoSave")), 0);
    EXPECT_TRUE(newDriveCalls().isEmpty());
    EXPECT_TRUE(newCKCalls().isEmpty());
}

TEST_F(WarehouseAutosave, StartingReadsTheMetaFileAndTextAndTellsNotesApart)
{
    const NotePtr first = savedNote(QStringLiteral("Caret note.txt"), QStringLiteral("Caret note\nline"));
    first->setText(QStringLiteral("Caret note\nline"));
    first->setSelectedCaret(7);
    first->setCreatedOn(1700000000);
    first->setUpdatedOn(1700000100);
    ASSERT_TRUE(first->writeMetaFile());

    const auto note = std::make_shared<Note>(QStringLiteral("Caret note.txt"), NoteStorageInbox);
    start(note);
    EXPECT_EQ(note->selectedCaret(), 7);
    EXPECT_EQ(note->createdOn(), 1700000000);
    EXPECT_EQ(note->text(), QStringLiteral("Caret note\nline"));

    EXPECT_TRUE(warehouse->isEditingNote(std::make_shared<Note>(QStringLiteral("Caret note.txt"), NoteStorageInbox)));
    EXPECT_FALSE(warehouse->isEditingNote(std::make_shared<Note>(QStringLiteral("caret note.txt"), NoteStorageInbox)));
    EXPECT_FALSE(warehouse->isEditingNote(std::make_shared<Note>(QStringLiteral("Caret note.txt"), NoteStorageArchive)));
    EXPECT_FALSE(warehouse->isEditingNote(std::make_shared<Note>()));
    EXPECT_FALSE(warehouse->isEditingNote(nullptr));
}

} // namespace

// A save that fails (here: a folder stands where the file was) keeps its
// changes pending: the next tick, or the quit-time commit, writes them.
TEST_F(WarehouseAutosave, AFailedSaveStaysPendingUntilASaveSucceeds)
{
    for (const bool quitting : {false, true}) {
        const QString key = quitting ? QStringLiteral("Kept at quit.txt") : QStringLiteral("Kept changes.txt");
        const NotePtr note = startSaved(key, QStringLiteral("Kept"));
        const QString path = Note::documentFileForKey(key, NoteStorageInbox);
        QFile::remove(path);
        QDir().mkpath(path);
        type(QStringLiteral(" words"));
        advance(2.0);
        Dispatch::waitUntilIdle();
        EXPECT_EQ(warehouse->editingChanges(), 1) << qPrintable(key);

        QDir(path).removeRecursively();
        if (quitting)
            warehouse->emergencyCommitEditingNote({});
        else
            advance(2.0);
        Dispatch::waitUntilIdle();
        EXPECT_EQ(warehouse->editingChanges(), 0) << qPrintable(key);
        EXPECT_EQ(textOnDisk(note), QStringLiteral("Kept words")) << qPrintable(key);
    }
}

// A note whose file could not be read is shown read-only: typing saves nothing.
TEST_F(WarehouseAutosave, ANoteThatCouldNotBeReadIsNeverSaved)
{
    const QByteArray undecodable("\x81\x8D\x8F\x90\x9D", 5);
    TestSupport::writeFile(Note::documentFileForKey(QStringLiteral("Unreadable.txt"), NoteStorageInbox), undecodable);
    const NotePtr note = std::make_shared<Note>(QStringLiteral("Unreadable.txt"), NoteStorageInbox);
    start(note);
    EXPECT_FALSE(note->readFailure().isEmpty());
    type(QStringLiteral("typed"));
    EXPECT_EQ(warehouse->editingChanges(), 0);
    advance(2.0);
    finishAndWait(Ending::Emergency);
    EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(QStringLiteral("Unreadable.txt"), NoteStorageInbox)),
              undecodable);
}
