#pragma once

#include "Note.h"
#include "WarehouseEditingDelegate.h"

#include "Dispatch.h"

#include <QDateTime>
#include <QList>
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
// Saves are tied to the note the editor holds: the editor supplies text only
// for the note it shows, and a save it gives no text for writes nothing. A
// note whose save failed keeps its text in memory until a save works: the
// session saves it again while it edits the note, a timer retries every such
// note, the quit-time commit does too, and a session started on the note
// again takes its text from memory rather than from the older file.
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
    // Typing without a pause is saved at most this long after its first unsaved change.
    static constexpr double AutoSaveMaxDelay = 10.0;
    // How often notes whose save failed are saved again.
    static constexpr double RetryDelay = 10.0;

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

    // Notes whose last save failed, their text kept in memory; after the
    // file work queued before, which the caller waits for.
    QList<NotePtr> unsavedNotes();

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
    // After the pause, or sooner when the first unsaved change would
    // otherwise wait longer than AutoSaveMaxDelay.
    double localSaveDelay() const;
    // Counts a save from its queuing until its local outcome is in.
    Note::Completion underWay(Note::Completion written);
    // Typing not yet saved, or a save under way or failed: quitting then
    // waits for the file queue. Main thread.
    bool hasUnsavedWork() const;
    // The local completion of a save: a failed one keeps its changes pending
    // in the session and its note among the unsaved ones. File queue.
    Note::Completion watchSave(const NotePtr& note, uint64_t session, int64_t changes);
    // File queue: the outcome of a save of the note.
    void noteSaveOutcome(const NotePtr& note, bool ok);
    // File queue: a note of a new session takes over the text of an unsaved
    // one with the same file; true when there was one.
    bool takeUnsavedText(const NotePtr& note);
    void scheduleRetry();
    // File queue: saves every unsaved note again; answers how many remain.
    size_t retryUnsavedNotes();

    // Copies the editor's text and caret into the note and stamps it; false
    // when the editor does not hold the note's text (nothing to save then).
    bool reloadForSave(const NotePtr& note, int64_t updatedOn);
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
    // Changes of failed saves, until the main thread takes them back.
    std::atomic<int64_t> failedChanges_ = 0;
    // The session's note came with text no save has written yet.
    bool startsUnsaved_ = false;
    // Dispatch time of the first change not yet saved; negative when none.
    double firstUnsavedChange_ = -1;
    DispatchHandle autoSave_;
    DispatchHandle autoSaveCK_;
    DispatchHandle retry_;
    // Notes whose last save failed. File queue only: reads and saves of one
    // note run there in order, so a session sees every earlier outcome.
    QList<NotePtr> unsaved_;
    // Its size, for any thread.
    std::atomic<qsizetype> unsavedCount_ = 0;
    // Saves queued whose local outcome is not in yet.
    std::atomic<int> savesUnderWay_ = 0;
};
