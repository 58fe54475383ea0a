#include "WarehouseTestSupport.h"

#include "files/AtomicFile.h"

#include <QFileInfo>

#include <chrono>
#include <future>
#include <utility>

namespace {

class WarehouseRemote : public WarehouseTest {
protected:
    // The cloud wrote the note's new text locally and reports it, as it does,
    // from the file queue.
    void remoteUpdate(const NotePtr& note, const QString& text)
    {
        const auto remote = std::make_shared<Note>(note->key(), note->storage());
        remote->setText(text);
        TestSupport::writeFile(Note::documentFileForKey(note->key(), note->storage()), text.toUtf8());
        Core::shared().fileQueue()->async([warehouse = warehouse, remote] { warehouse->remoteServerDidUpdateNote(remote); });
        Dispatch::waitUntilIdle();
    }

    void remoteDelete(const NotePtr& note)
    {
        const auto remote = std::make_shared<Note>(note->key(), note->storage());
        QFile::remove(Note::documentFileForKey(note->key(), note->storage()));
        Core::shared().fileQueue()->async([warehouse = warehouse, remote] { warehouse->remoteServerDidDeleteNote(remote); });
        Dispatch::waitUntilIdle();
    }
};

TEST_F(WarehouseRemote, TextsTheSessionAlreadyHasAreIgnored)
{
    const NotePtr note = startSaved(QStringLiteral("Shared list.txt"), QStringLiteral("Shared list\nv1"));
    type(QStringLiteral(" more"));
    advance(2.0);
    ASSERT_EQ(note->text(), QStringLiteral("Shared list\nv1 more"));

    remoteUpdate(note, QStringLiteral("Shared list\nv1 more"));
    remoteUpdate(note, QStringLiteral("Shared list\nv1 more\n "));
    // The text read when the session started: the drive catching up.
    remoteUpdate(note, QStringLiteral("Shared list\nv1"));
    // Another note altogether.
    const auto other = std::make_shared<Note>(QStringLiteral("Other list.txt"), NoteStorageInbox);
    other->setText(QStringLiteral("Other list"));
    warehouse->remoteServerDidUpdateNote(other);
    warehouse->remoteServerDidDeleteNote(other);
    Dispatch::waitUntilIdle();

    EXPECT_EQ(note->key(), QStringLiteral("Shared list.txt"));
    EXPECT_EQ(editor->count(QStringLiteral("userIsEditing")), 0);
    EXPECT_EQ(editor->count(QStringLiteral("remoteUpdate")), 0);
    EXPECT_EQ(editor->count(QStringLiteral("remoteDelete")), 0);
    EXPECT_EQ(editor->text, QStringLiteral("Shared list\nv1 more"));
}

TEST_F(WarehouseRemote, WithNothingPendingTheRemoteTextIsTakenLive)
{
    const NotePtr note = startSaved(QStringLiteral("Live note.txt"), QStringLiteral("Live note\nv1"));
    type(QStringLiteral("!"));
    advance(2.0); // saved; the CloudKit timer is still armed
    ASSERT_EQ(warehouse->editingChangesCK(), 1);

    remoteUpdate(note, QStringLiteral("Live note\nv2 from the laptop"));
    EXPECT_EQ(editor->count(QStringLiteral("remoteUpdate")), 1);
    EXPECT_EQ(editor->text, QStringLiteral("Live note\nv2 from the laptop"));
    EXPECT_EQ(note->key(), QStringLiteral("Live note.txt"));
    EXPECT_EQ(warehouse->editingChangesCK(), 0);
    advance(60.0);
    EXPECT_TRUE(newCKCalls().isEmpty());
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Live note\nv2 from the laptop"));
}

// The remote text comes while the typed text's save is under way (the other window saved first): the
// file keeps the remote text and the typed one is saved as a note of its own, still in the editor.
TEST_F(WarehouseRemote, ASaveUnderWayForksTheNoteInsteadOfTakingTheRemoteText)
{
    const NotePtr note = startSaved(QStringLiteral("Busy note.txt"), QStringLiteral("Busy note\nv1"));
    const QString path = QFileInfo(Note::documentFileForKey(note->key(), NoteStorageInbox)).absoluteFilePath();
    const QString remoteText = QStringLiteral("Busy note\nv2 from the other window");
    type(QStringLiteral(" typed"));
    // When the save asks the disk, the other window's save lands and its news reaches this session.
    bool delivered = false;
    AtomicFile::setFaultCheck([&, done = false](const QString& target) mutable {
        if (target != path || std::exchange(done, true))
            return 0;
        TestSupport::writeFile(path, remoteText.toUtf8());
        const auto remote = std::make_shared<Note>(note->key(), NoteStorageInbox);
        remote->setText(remoteText);
        warehouse->remoteServerDidUpdateNote(remote);
        std::promise<void> handled;
        DispatchQueue::main()->async([&handled] { handled.set_value(); });
        delivered = handled.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
        return 0;
    });
    advance(2.0);
    Dispatch::waitUntilIdle();
    AtomicFile::setFaultCheck({});

    ASSERT_TRUE(delivered);
    EXPECT_EQ(TestSupport::readFile(path), remoteText.toUtf8());
    EXPECT_NE(note->key(), QStringLiteral("Busy note.txt"));
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Busy note\nv1 typed"));
    EXPECT_EQ(editor->text, QStringLiteral("Busy note\nv1 typed"));
    EXPECT_EQ(editor->count(QStringLiteral("remoteUpdate")), 0);
}

TEST_F(WarehouseRemote, PendingChangesForkTheNoteUnderTheNextNameOfItsTitle)
{
    const NotePtr note = startSaved(QStringLiteral("Weekly plan.txt"), QStringLiteral("Weekly plan\nmonday"));
    type(QStringLiteral(" tuesday"));

    remoteUpdate(note, QStringLiteral("Weekly plan\nmonday wednesday"));
    EXPECT_EQ(note->key(), QStringLiteral("Weekly plan 2.txt"));
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Weekly plan\nmonday tuesday"));
    // The remote version keeps the old file.
    EXPECT_EQ(TestSupport::readFile(Note::documentFileForKey(QStringLiteral("Weekly plan.txt"), NoteStorageInbox)),
              QByteArray("Weekly plan\nmonday wednesday"));
    EXPECT_EQ(editor->count(QStringLiteral("remoteUpdate")), 0);
    EXPECT_EQ(warehouse->editingChanges(), 0);
    EXPECT_EQ(editor->text, QStringLiteral("Weekly plan\nmonday tuesday"));
}

TEST_F(WarehouseRemote, TheUserTypingForksToo)
{
    const NotePtr note = startSaved(QStringLiteral("Typing note.txt"), QStringLiteral("Typing note\nv1"));
    editor->userIsEditing = true;
    editor->text = QStringLiteral("Typing note\nv1 unsaved");

    remoteUpdate(note, QStringLiteral("Typing note\nv2"));
    EXPECT_EQ(editor->count(QStringLiteral("userIsEditing")), 1);
    EXPECT_EQ(note->key(), QStringLiteral("Typing note 2.txt"));
    EXPECT_EQ(textOnDisk(note), QStringLiteral("Typing note\nv1 unsaved"));
}

TEST_F(WarehouseRemote, AnEditorAlreadyHoldingTheRemoteTextIsLeftAlone)
{
    const NotePtr note = startSaved(QStringLiteral("Caught up.txt"), QStringLiteral("Caught up\nv1"));
    editor->text = QStringLiteral("Caught up\nv2");

    remoteUpdate(note, QStringLiteral("Caught up\nv2"));
    EXPECT_EQ(editor->count(QStringLiteral("text")), 1);
    EXPECT_EQ(editor->count(QStringLiteral("userIsEditing")), 0);
    EXPECT_EQ(editor->count(QStringLiteral("remoteUpdate")), 0);
    EXPECT_EQ(note->key(), QStringLiteral("Caught up.txt"));
}

TEST_F(WarehouseRemote, ADeleteLeavesTheEditorOrSavesItsTextAsANewNote)
{
    const NotePtr quiet = startSaved(QStringLiteral("Deleted quietly.txt"), QStringLiteral("Deleted quietly"));
    remoteDelete(quiet);
    EXPECT_EQ(editor->count(QStringLiteral("remoteDelete")), 1);
    EXPECT_EQ(quiet->key(), QStringLiteral("Deleted quietly.txt"));
    EXPECT_FALSE(QFileInfo::exists(Note::documentFileForKey(quiet->key(), NoteStorageInbox)));

    const NotePtr busy = startSaved(QStringLiteral("Deleted while typing.txt"), QStringLiteral("Deleted while typing"));
    type(QStringLiteral("\nkeep this"));
    remoteDelete(busy);
    EXPECT_EQ(editor->count(QStringLiteral("remoteDelete")), 1);
    ASSERT_FALSE(busy->key().isEmpty());
    EXPECT_EQ(textOnDisk(busy), QStringLiteral("Deleted while typing\nkeep this"));
    // Its pending local timer went with the fork; only CloudKit remains.
    advance(2.0);
    EXPECT_EQ(editor->count(QStringLiteral("shouldAutoSave")), 0);
}

} // namespace
