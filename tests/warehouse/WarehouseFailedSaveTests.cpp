#include "DiskFault.h"
#include "WarehouseTestSupport.h"

#include <iostream>

namespace {

using WarehouseFailedSave = WarehouseTest;

const DiskFault::Kind AllFaults[] = {DiskFault::Kind::InjectedFull, DiskFault::Kind::InjectedReadOnly,
                                     DiskFault::Kind::FullTmpfs, DiskFault::Kind::ReadOnlyMount};

QString inbox() { return Note::documentDirectoryForStorage(NoteStorageInbox); }

// Typed into a note, then a new note, while no save works; space comes back
// and the user quits: every character is on disk, and each failure was told
// once, however often it was tried again.
TEST_F(WarehouseFailedSave, NothingTypedIsLostWhenSavesFailAcrossASwitchAndAQuit)
{
    QStringList skipped;
    for (const DiskFault::Kind kind : AllFaults) {
        SCOPED_TRACE(DiskFault::name(kind));
        QString refusal;
        const auto fault = DiskFault::make(kind, inbox(), &refusal);
        if (!fault) {
            skipped.append(refusal);
            continue;
        }
        const int toldBefore = editor->count(QStringLiteral("saveFailed"));
        const NotePtr old = startSaved(QStringLiteral("Shopping list.txt"), QStringLiteral("Shopping list\nmilk"));
        fault->fail();
        const QString typed = QStringLiteral("\neggs, flour, butter and a bag of lemons"); // 39 characters
        type(typed);
        for (int tick = 0; tick < 3; ++tick)
            advance(2.0);
        EXPECT_EQ(editor->count(QStringLiteral("saveFailed")) - toldBefore, 1);
        EXPECT_EQ(warehouse->editingChanges(), 1);

        // Ctrl+N: the old note's save fails again, and a new note's first write fails.
        finishAndWait(Ending::End);
        const auto fresh = std::make_shared<Note>();
        start(fresh);
        const QString newText = QStringLiteral("Call the plumber\nabout the kitchen tap before Friday noon"); // 60
        editor->text.clear();
        type(newText);
        Dispatch::waitUntilIdle();
        EXPECT_EQ(editor->count(QStringLiteral("saveFailed")) - toldBefore, 2);
        EXPECT_EQ(warehouse->unsavedNotes().size(), 2);
        EXPECT_TRUE(fresh->key().isEmpty()) << "a new note that was never written stays new";

        fault->heal();
        finishAndWait(Ending::Emergency);
        EXPECT_TRUE(warehouse->unsavedNotes().isEmpty());
        EXPECT_EQ(textOnDisk(old), QStringLiteral("Shopping list\nmilk") + typed);
        ASSERT_FALSE(fresh->key().isEmpty());
        EXPECT_EQ(textOnDisk(fresh), newText);
        EXPECT_EQ(editor->count(QStringLiteral("saveFailed")) - toldBefore, 2);
        QFile::remove(Note::documentFileForKey(fresh->key(), NoteStorageInbox));
    }
    if (!skipped.isEmpty())
        std::cout << "[   NOTE   ] mounted variants skipped: " << qPrintable(skipped.join(QStringLiteral("; "))) << "\n";
}

// A note left while its save fails: opened again it shows the text the save
// could not write, not the older file, and saves it; left alone, the retry
// timer saves it once space is back.
TEST_F(WarehouseFailedSave, AnUnsavedNoteComesBackWithItsTextOrIsSavedByTheTimer)
{
    for (const bool comesBack : {true, false}) {
        SCOPED_TRACE(comesBack ? "opened again" : "left alone");
        QString refusal;
        const auto fault = DiskFault::make(DiskFault::Kind::InjectedFull, inbox(), &refusal);
        const QString key = comesBack ? QStringLiteral("Reopened.txt") : QStringLiteral("Left alone.txt");
        const NotePtr left = startSaved(key, QStringLiteral("Draft"));
        fault->fail();
        type(QStringLiteral(" with more words"));
        finishAndWait(Ending::End);
        startSaved(QStringLiteral("Elsewhere.txt"), QStringLiteral("Elsewhere"));
        finishAndWait(Ending::End);

        if (comesBack) {
            const auto again = std::make_shared<Note>(key, NoteStorageInbox);
            start(again);
            EXPECT_EQ(again->text(), QStringLiteral("Draft with more words"));
            // What the editor does once it shows the text: the session is still dirty.
            warehouse->resetEditingChanges();
            EXPECT_EQ(warehouse->editingChanges(), 1);
            type(QStringLiteral("!"));
            fault->heal();
            advance(2.0);
        } else {
            advance(Warehouse::RetryDelay);
            EXPECT_EQ(textOnDisk(left), QStringLiteral("Draft")) << "tried while the disk is still full";
            fault->heal();
            advance(Warehouse::RetryDelay);
        }
        Dispatch::waitUntilIdle();
        EXPECT_EQ(textOnDisk(left), comesBack ? QStringLiteral("Draft with more words!")
                                              : QStringLiteral("Draft with more words"));
        EXPECT_TRUE(warehouse->unsavedNotes().isEmpty());
        // A later save of an older object of the note can no longer write over it.
        advance(Warehouse::RetryDelay);
        EXPECT_EQ(textOnDisk(left), comesBack ? QStringLiteral("Draft with more words!")
                                              : QStringLiteral("Draft with more words"));
    }
}

// An editor that holds another note's text (it is still loading this one)
// gives none, and no way of ending the session writes anything.
TEST_F(WarehouseFailedSave, ASaveWithoutTheNotesTextWritesNothing)
{
    for (const Ending ending : {Ending::End, Ending::MoveOrDelete, Ending::Emergency, Ending::Commit}) {
        SCOPED_TRACE(int(ending));
        const NotePtr note = startSaved(QStringLiteral("Precious.txt"), QStringLiteral("Small note\nprecious words"));
        type(QStringLiteral(" typed"));
        editor->textAvailable = false;
        editor->text = QStringLiteral("another note's text");
        finishAndWait(ending);
        EXPECT_EQ(textOnDisk(note), QStringLiteral("Small note\nprecious words"));
        editor->textAvailable = true;
    }
}

// Typing on without a pause is saved at most ten seconds after its first
// unsaved change; a pause still saves after two seconds.
TEST_F(WarehouseFailedSave, ContinuousTypingIsSavedAtLeastEveryTenSeconds)
{
    const NotePtr note = startSaved(QStringLiteral("Long typing.txt"), QStringLiteral("Long typing\n"));
    QString onDisk = textOnDisk(note);
    double lastSave = 0;
    double longestGap = 0;
    int saves = 0;
    for (int step = 1; step <= 120; ++step) {
        type(QStringLiteral("a"));
        advance(0.5);
        if (textOnDisk(note) != onDisk) {
            onDisk = textOnDisk(note);
            longestGap = std::max(longestGap, step * 0.5 - lastSave);
            lastSave = step * 0.5;
            ++saves;
            EXPECT_TRUE(editor->text.startsWith(onDisk));
        }
    }
    EXPECT_LE(longestGap, Warehouse::AutoSaveMaxDelay);
    EXPECT_GE(saves, 6);
    advance(2.0);
    EXPECT_EQ(textOnDisk(note), editor->text);
}

} // namespace
