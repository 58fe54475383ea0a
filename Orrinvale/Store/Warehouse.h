#pragma once

#include "Note.h"
#include "WarehouseEditingDelegate.h"

#include "Dispatch.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// The session that edits one note at a time: counts the editor's changes,
// saves the note locally shortly after typing pauses and to CloudKit about a
// minute later, commits at once when the application quits, and decides
// whether a change made elsewhere is taken live or forks the note.
//
// Its state belongs to the main thread: call it there (the two remote events
// may come from any queue). File work goes to Core's file queue in call order;
// the shared Core must exist before the first session starts.
class Warehouse : public std::enable_shared_from_this<Warehouse> {
public:
    using Block = std::function<void()>;

    static constexpr double AutoSaveDelay = 2.0;
    static constexpr double AutoSaveBusyDelay = 1.0;
    static constexpr int64_t AutoSaveBusyChanges = 513;
    static constexpr double AutoSaveCKDelay = 60.0;

    static std::shared_ptr<Warehouse> create();
    ~Warehouse();
    Warehouse(const Warehouse&) = delete;
    Warehouse& operator=(const Warehouse&) = delete;

    // Makes the note the editing note. With a key, its meta file and text are
    // read on the file queue and the completion runs there; without one, the
    // completion runs at once.
    void startEditingNote(const NotePtr& note, Block completion);
    void addEditingChanges(int64_t count);
    // The editor replaced the whole text itself: nothing is pending.
    void resetEditingChanges();
    // Same storage and an equal key; false when either key is null.
    bool isEditingNote(const NotePtr& note) const;

    // The ways to finish pending work. Each block runs exactly once, when the
    // work is done; only the emergency commit accepts an empty block.
    void endEditingNote(Block block);
    void endEditingNoteForMoveOrDelete(Block block);
    // At termination: blocks until the local files are written.
    void emergencyCommitEditingNote(Block block);
    void commitEditingNote(Block block);

    // A cloud service wrote or removed a note locally; any thread.
    void remoteServerDidUpdateNote(const NotePtr& note);
    void remoteServerDidDeleteNote(const NotePtr& note);

    NotePtr editingNote() const { return editingNote_; }
    WarehouseEditingDelegatePtr editingDelegate() const { return editingDelegate_.lock(); }
    void setEditingDelegate(const WarehouseEditingDelegatePtr& delegate) { editingDelegate_ = delegate; }
    QString textWhenStartEditing() const { return textWhenStartEditing_; }
    // Of the last completed local-and-drive save of this session; null before.
    QDateTime lastSaveDate() const { return lastSaveDate_; }
    int64_t editingChanges() const { return editingChanges_; }
    int64_t editingChangesCK() const { return editingChangesCK_; }
    int selectedStorage() const { return selectedStorage_; }
    void setSelectedStorage(int storage) { selectedStorage_ = storage; }

private:
    Warehouse() = default;

    void scheduleEditingAutoSave(double delay);
    void scheduleEditingAutoSaveCK(double delay);
    void cancelScheduleEditingAutoSave();
    void cancelScheduleEditingAutoSaveCK();
    void editingAutoSave();
    void editingAutoSaveCK();
    // File queue: a failed autosave's changes become pending again.
    void keepFailedChanges(uint64_t session, int64_t changes);

    // Copies the editor's text and caret into the note and stamps it.
    void reloadForSave(const NotePtr& note, int64_t updatedOn);
    // What every save's cloud completion does first: dates the note by the
    // drive's answer and keeps that date for the session it belongs to.
    void takeSaveDate(const NotePtr& note, uint64_t session, const QDateTime& date);
    // The CloudKit save of a note already saved locally, dated by that save.
    void saveRecordOnFileQueue(const NotePtr& note, Block block);
    void fork(const NotePtr& note);
    void handleRemoteUpdate(const NotePtr& remote);
    void handleRemoteDelete(const NotePtr& remote);

    bool hasChangedInThisFrame_ = false;
    int64_t editingChangesCK_ = 0;
    int64_t editingChanges_ = 0;
    int selectedStorage_ = 0;
    NotePtr editingNote_;
    std::weak_ptr<WarehouseEditingDelegate> editingDelegate_;
    QString textWhenStartEditing_;
    QDateTime lastSaveDate_;
    // Counts sessions, so a late answer of an earlier one changes nothing.
    uint64_t session_ = 0;
    // Changes of failed autosaves, until the main thread takes them back.
    std::atomic<int64_t> failedChanges_ = 0;
    DispatchHandle autoSave_;
    DispatchHandle autoSaveCK_;
};
