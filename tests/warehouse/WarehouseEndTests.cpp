#include "WarehouseTestSupport.h"

namespace {

using WarehouseEnd = WarehouseTest;

TEST_F(WarehouseEnd, NothingPendingWritesOnlyTheMetaFile)
{
    const NotePtr note = savedNote(QStringLiteral("Quiet note.txt"), QStringLiteral("Quiet note\nunchanged"));
    const QString path = Note::documentFileForKey(note->key(), NoteStorageInbox);
    const QDateTime modified = QFileInfo(path).lastModified();
    start(note);
    editor->caret = 5;

    finishAndWait(Ending::End);
    EXPECT_EQ(TestSupport::readFile(path), QByteArray("Quiet note\nunchanged"));
    EXPECT_EQ(QFileInfo(path).lastModified(), modified);
    EXPECT_FALSE(QFileInfo::exists(Note::headerFileForKey(note->key(), NoteStorageInbox)));
    EXPECT_FALSE(QFileInfo::exists(Note::indexFileForKey(note->key(), NoteStorageInbox)));
    EXPECT_TRUE(newDriveCalls().isEmpty());
    EXPECT_TRUE(newCKCalls().isEmpty());

    const auto reread = std::make_shared<Note>(note->key(), NoteStorageInbox);
    ASSERT_TRUE(reread->restoreMeta());
    EXPECT_EQ(reread->selectedCaret(), 5);
    // The session stays on the note until the next one starts.
    EXPECT_EQ(warehouse->editingNote(), note);
}

TEST_F(WarehouseEnd, ACommitKeepsTheCloudKitCountThatTheEndCommitsAndSends)
{
    const NotePtr note = startSaved(QStringLiteral("Ending note.txt"), QStringLiteral("Ending note"));
    type(QStringLiteral(" with"), 2);
    finishAndWait(Ending::Commit);
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Ending note with"));
    EXPECT_EQ(warehouse->editingChanges(), 0);
    EXPECT_EQ(warehouse->editingChangesCK(), 2);
    EXPECT_TRUE(newCKCalls().isEmpty());

    type(QStringLiteral(" more"));
    int ended = 0;
    warehouse->endEditingNote([&] { ++ended; });
    EXPECT_EQ(warehouse->editingChanges(), 0);
    EXPECT_EQ(warehouse->editingChangesCK(), 0);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Ending note with more"));
    EXPECT_TRUE(QFileInfo::exists(Note::headerFileForKey(note->key(), NoteStorageInbox)));
    EXPECT_EQ(newDriveCalls(), (QStringList{"commitAndClose", "commitAndClose"}));
    EXPECT_EQ(newCKCalls(), QStringList{"save"});
    EXPECT_EQ(warehouse->lastSaveDate(), cloud->commitDate);

    // Its timers are gone.
    advance(60.0);
    EXPECT_EQ(editor->count(QStringLiteral("shouldAutoSave")), 0);
    EXPECT_EQ(newCKCalls(), QStringList{"save"});
}

TEST_F(WarehouseEnd, OnlyCloudKitPendingSendsTheRecordAndKeepsTheEditorsCaret)
{
    const NotePtr note = startSaved(QStringLiteral("Record only.txt"), QStringLiteral("Record only"));
    type(QStringLiteral("!"));
    advance(2.0);
    ASSERT_EQ(warehouse->editingChanges(), 0);
    ASSERT_EQ(warehouse->editingChangesCK(), 1);

    editor->caret = 9;
    finishAndWait(Ending::End);
    EXPECT_EQ(newDriveCalls(), QStringList{"commit"});
    EXPECT_EQ(newCKCalls(), QStringList{"save"});
    const auto reread = std::make_shared<Note>(note->key(), NoteStorageInbox);
    ASSERT_TRUE(reread->restoreMeta());
    EXPECT_EQ(reread->selectedCaret(), 9);
}

TEST_F(WarehouseEnd, LateAnswersOfAnEndedSessionLeaveTheNextOneAlone)
{
    const NotePtr first = savedNote(QStringLiteral("Earlier session.txt"), QStringLiteral("Earlier session"));
    const NotePtr second = savedNote(QStringLiteral("Next session.txt"), QStringLiteral("Next session"));
    start(first);
    type(QStringLiteral(" ends"));
    warehouse->endEditingNote([] {});
    warehouse->startEditingNote(second, [] {});
    Dispatch::waitUntilIdle();
    EXPECT_EQ(textOnDisk(first), QStringLiteral("Earlier session ends"));
    // The first note's save does not count as a save of the second.
    EXPECT_FALSE(warehouse->lastSaveDate().isValid());
    EXPECT_EQ(warehouse->textWhenStartEditing(), QStringLiteral("Next session"));

    // A session replaced before its read finished: a new note has no start text.
    const auto fresh = std::make_shared<Note>();
    warehouse->startEditingNote(first, [] {});
    warehouse->startEditingNote(fresh, [] {});
    Dispatch::waitUntilIdle();
    EXPECT_EQ(warehouse->editingNote(), fresh);
    EXPECT_TRUE(warehouse->textWhenStartEditing().isNull());
}

TEST_F(WarehouseEnd, MoveOrDeleteNeverSavesToCloudKit)
{
    const NotePtr note = startSaved(QStringLiteral("Leaving note.txt"), QStringLiteral("Leaving note"));
    type(QStringLiteral(" soon"));

    finishAndWait(Ending::MoveOrDelete);
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Leaving note soon"));
    EXPECT_EQ(note->updatedOn(), WarehouseNowSeconds);
    EXPECT_EQ(newDriveCalls(), QStringList{"commitAndClose"});

    // Only CloudKit changes pending: dropped, not sent.
    type(QStringLiteral("."));
    advance(2.0);
    ASSERT_EQ(warehouse->editingChangesCK(), 1);
    int ended = 0;
    warehouse->endEditingNoteForMoveOrDelete([&] { ++ended; });
    EXPECT_EQ(warehouse->editingChangesCK(), 0);
    advance(120.0);
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(newCKCalls().isEmpty());
}

TEST_F(WarehouseEnd, TheEmergencyCommitHasWrittenTheFilesWhenItReturns)
{
    const NotePtr note = startSaved(QStringLiteral("Quitting note.txt"), QStringLiteral("Quitting note"));
    type(QStringLiteral(" last words"));
    // Work queued before runs first.
    const QString path = Note::documentFileForKey(note->key(), NoteStorageInbox);
    Core::shared().fileQueue()->async(
        [path] { Note::writeText(QStringLiteral("queued earlier"), QUrl::fromLocalFile(path)); });

    int done = 0;
    warehouse->emergencyCommitEditingNote([&] { ++done; });
    // That write came first and is kept; the typed text went to a note of its own.
    EXPECT_EQ(TestSupport::readFile(path), QByteArray("queued earlier"));
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Quitting note last words"));
    EXPECT_TRUE(QFileInfo::exists(Note::metaFileForKey(note->key(), NoteStorageInbox)));
    Dispatch::waitUntilIdle();
    EXPECT_EQ(done, 1);
    EXPECT_EQ(newDriveCalls(), QStringList{"commitAndClose"});
    EXPECT_EQ(newCKCalls(), QStringList{"save"});

    // With nothing at all pending, and with no block.
    warehouse->emergencyCommitEditingNote({});
    finishAndWait(Ending::Emergency);
}

// Each way to end, in each state, with the cloud answering or failing: the
// block runs once, and never again later.
TEST_F(WarehouseEnd, EveryBlockRunsExactlyOnceAlsoWhenTheCloudFails)
{
    const Ending endings[] = {Ending::End, Ending::MoveOrDelete, Ending::Emergency, Ending::Commit};
    int round = 0;
    for (const bool cloudFails : {false, true}) {
        cloud->commitDate = cloudFails ? QDateTime() : QDateTime::fromSecsSinceEpoch(WarehouseNowSeconds, Qt::UTC);
        cloud->error = cloudFails ? Error::make(QStringLiteral("Drive"), 5, QStringLiteral("offline")) : Error();
        cloud->scriptedCKCloud->result = !cloudFails;
        for (const Ending ending : endings) {
            for (const QString state : {"idle", "typed", "cloudkit", "placeholder"}) {
                SCOPED_TRACE(QStringLiteral("%1 ending %2 %3").arg(cloudFails ? "failing" : "working")
                                 .arg(int(ending)).arg(state).toStdString());
                ++round;
                const bool placeholder = state == QStringLiteral("placeholder");
                const NotePtr note = placeholder
                    ? savedNote(QStringLiteral("Untitled Note round %1.txt").arg(round), QStringLiteral("Hi"))
                    : savedNote(QStringLiteral("Round %1 note.txt").arg(round), QStringLiteral("Round note"));
                start(note);
                if (state != QStringLiteral("idle")) {
                    editor->text = QStringLiteral("Round %1 has a long enough title\n").arg(round);
                    warehouse->addEditingChanges(1);
                }
                if (state == QStringLiteral("cloudkit"))
                    advance(2.0);

                int calls = 0;
                finish(*warehouse, ending, [&] { ++calls; });
                advance(120.0);
                EXPECT_EQ(calls, 1);
                // Every ending but the one before a move or delete gives the note its readable name.
                if (placeholder) {
                    EXPECT_EQ(Note::isReadableFileName(note->key()), ending != Ending::MoveOrDelete);
                }
                if (state != QStringLiteral("idle")) {
                    EXPECT_EQ(textOnDisk(note), QStringLiteral("Round %1 has a long enough title\n").arg(round));
                }
            }
        }
    }
}

} // namespace
