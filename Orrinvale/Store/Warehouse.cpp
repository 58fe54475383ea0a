#include "Warehouse.h"

#include "NoteServices.h"

#include "Clock.h"
#include "Log.h"

#include <algorithm>
#include <utility>

namespace {

NoteServices& core()
{
    NoteServices* const services = Note::services();
    if (!services)
        qFatal("warehouse: used before the shared Core exists");
    return *services;
}

const DispatchQueuePtr& fileQueue() { return core().fileQueue(); }

bool enabledAppleCloud() { return core().enabledAppleCloud(); }

// CloudKit takes a record only under a key, and keeps only readable names.
bool hasReadableKey(const NotePtr& note)
{
    const QString key = note->key();
    return !key.isEmpty() && Note::isReadableFileName(key);
}

// A placeholder name that the rename replaces once the title allows.
bool hasPlaceholderKey(const NotePtr& note)
{
    const QString key = note->key();
    return !key.isEmpty() && !Note::isReadableFileName(key);
}

// What follows every save of the session once the drive has the note, a
// fork's first save and the retried saves included: a note still under a
// placeholder name takes the name its title allows (a save that failed
// leaves it as it is), then the block runs. Any thread.
void nameAfterTitle(const NotePtr& note, const Warehouse::Block& then)
{
    const auto done = [then] {
        if (then)
            then();
    };
    if (!hasPlaceholderKey(note))
        return done();
    // The drive answers on its own queue; the rename is file work.
    fileQueue()->async([note, done] { note->makeReadableFileNameUsingBlock([done](const Error&) { done(); }); });
}

// A save's date in whole seconds; now when the save brought none.
int64_t secondsOrNow(const QDateTime& date)
{
    return date.isValid() ? date.toSecsSinceEpoch() : Clock::now();
}

// Every CloudKit save of the session: a note that lost its key (forked
// meanwhile) is never sent.
void saveToCloudKit(const NotePtr& note, const Warehouse::Block& block)
{
    if (note->key().isEmpty()) {
        if (block)
            block();
        return;
    }
    CKCloud::Completion completion;
    if (block)
        completion = [block](bool) { block(); };
    core().appleCloud()->ckCloud()->saveNote(note, std::move(completion));
}

} // namespace

std::shared_ptr<Warehouse> Warehouse::create()
{
    return std::shared_ptr<Warehouse>(new Warehouse);
}

Warehouse::~Warehouse()
{
    autoSave_.cancel();
    autoSaveCK_.cancel();
    retry_.cancel();
}

void Warehouse::startEditingNote(const NotePtr& note, Block completion)
{
    editingChanges_ = 0;
    editingChangesCK_ = 0;
    firstUnsavedChange_ = -1;
    startsUnsaved_ = false;
    lastSaveDate_ = QDateTime();
    editingNote_ = note;
    // The start text of the previous note must not hide a remote change of this one.
    textWhenStartEditing_ = QString();
    const uint64_t session = ++session_;
    if (!note || note->key().isEmpty()) {
        completion();
        return;
    }
    auto self = shared_from_this();
    fileQueue()->async([self, note, session, completion = std::move(completion)] {
        Error error;
        if (!note->restoreMeta(&error))
            LogError("note:meta error: %1", error.localizedDescription());
        // A save of this note that failed holds newer text than its file.
        const bool unsaved = self->takeUnsavedText(note);
        if (unsaved)
            LogInfo("warehouse:%1 opens with its unsaved text", note->key());
        else
            note->_openLocalNote({});
        const QString failure = note->readFailure();
        if (!failure.isEmpty())
            LogError("warehouse:read-only %1: %2", note->key(), failure);
        DispatchQueue::main()->async([self, session, unsaved, text = note->text()] {
            if (self->session_ != session)
                return;
            self->textWhenStartEditing_ = text;
            self->startsUnsaved_ = unsaved;
        });
        completion();
    });
}

void Warehouse::addEditingChanges(int64_t count)
{
    const NotePtr note = editingNote_;
    // A note that could not be read as it is on disk is shown read-only: nothing to save.
    if (!note || !note->readFailure().isEmpty() || !note->readCaution().isEmpty())
        return;
    if (editingChanges_ == 0 && firstUnsavedChange_ < 0)
        firstUnsavedChange_ = DispatchTime::now();
    editingChanges_ += count;
    editingChangesCK_ += count;
    if (hasChangedInThisFrame_)
        return;
    hasChangedInThisFrame_ = true;
    auto self = shared_from_this();
    DispatchQueue::main()->async([self, note, count] {
        self->hasChangedInThisFrame_ = false;
        if (auto delegate = self->editingDelegate())
            delegate->warehouseEditingNote(*self, note, count);
    });
    cancelScheduleEditingAutoSave();
    cancelScheduleEditingAutoSaveCK();
    if (!note->key().isEmpty()) {
        scheduleEditingAutoSaveCK(AutoSaveCKDelay);
        scheduleEditingAutoSave(localSaveDelay());
        return;
    }
    // A note never saved (or just forked) gets its file at once.
    editingChanges_ = 0;
    firstUnsavedChange_ = -1;
    DispatchQueue::main()->async([self, note, session = session_] {
        if (!self->reloadForSave(note, Clock::now()))
            return;
        fileQueue()->async([note, written = self->underWay(self->watchSave(note, session, 1))] {
            note->commitNote(Note::Completion(), [note](const QDateTime&) { nameAfterTitle(note, {}); }, written);
        });
    });
    scheduleEditingAutoSaveCK(AutoSaveCKDelay);
}

void Warehouse::resetEditingChanges()
{
    cancelScheduleEditingAutoSave();
    cancelScheduleEditingAutoSaveCK();
    editingChanges_ = 0;
    editingChangesCK_ = 0;
    firstUnsavedChange_ = -1;
    // The text the editor now shows came from a failed save: still to be written.
    if (std::exchange(startsUnsaved_, false))
        addEditingChanges(1);
}

double Warehouse::localSaveDelay() const
{
    const double pause = editingChanges_ < AutoSaveBusyChanges ? AutoSaveDelay : AutoSaveBusyDelay;
    if (firstUnsavedChange_ < 0)
        return pause;
    return std::clamp(firstUnsavedChange_ + AutoSaveMaxDelay - DispatchTime::now(), 0.0, pause);
}

bool Warehouse::isEditingNote(const NotePtr& note) const
{
    if (!note || !editingNote_)
        return false;
    const QString key = note->key();
    return !key.isEmpty() && note->storage() == editingNote_->storage() && key == editingNote_->key();
}

// --- Finishing pending work

void Warehouse::endEditingNote(Block block)
{
    cancelScheduleEditingAutoSave();
    cancelScheduleEditingAutoSaveCK();
    const NotePtr note = editingNote_;
    if (!note) {
        block();
        return;
    }
    if (editingChanges_ > 0) {
        LogInfo("warehouse:endEditing.. (save)");
        auto self = shared_from_this();
        const uint64_t session = session_;
        const int64_t changes = std::exchange(editingChanges_, 0);
        editingChangesCK_ = 0;
        firstUnsavedChange_ = -1;
        if (!reloadForSave(note, Clock::now())) {
            block();
            return;
        }
        fileQueue()->async([self, note, session, block = std::move(block),
                            written = underWay(watchSave(note, session, changes))] {
            note->commitAndCloseNote(
                Note::Completion(),
                [self, note, session, block](const QDateTime& date) {
                    self->takeSaveDate(note, session, date);
                    nameAfterTitle(note, [note, block] {
                        block();
                        saveToCloudKit(note, Block());
                    });
                },
                written);
        });
        return;
    }
    if (editingChangesCK_ > 0 && enabledAppleCloud() && hasReadableKey(note)) {
        LogInfo("warehouse:endEditing.. (cloudkit)");
        editingChangesCK_ = 0;
        saveRecordOnFileQueue(note, Block());
    }
    if (note->key().isEmpty()) {
        block();
        return;
    }
    if (auto delegate = editingDelegate())
        delegate->warehouseReloadScrollPositionForNote(*this, note);
    fileQueue()->async([note, block = std::move(block)] {
        note->writeMetaFile();
        block();
    });
}

void Warehouse::endEditingNoteForMoveOrDelete(Block block)
{
    const int64_t now = Clock::now();
    cancelScheduleEditingAutoSave();
    cancelScheduleEditingAutoSaveCK();
    const NotePtr note = editingNote_;
    if (!note) {
        block();
        return;
    }
    // No CloudKit save for a note about to move or go.
    editingChangesCK_ = 0;
    if (editingChanges_ < 1) {
        block();
        return;
    }
    LogInfo("warehouse:endEditingForMoveOrDelete.. (save)");
    editingChanges_ = 0;
    firstUnsavedChange_ = -1;
    if (!reloadForSave(note, now)) {
        block();
        return;
    }
    fileQueue()->async([note, block = std::move(block), written = underWay({})] {
        note->commitAndCloseNote(Note::Completion(), [block](const QDateTime&) { block(); }, written);
    });
}

void Warehouse::emergencyCommitEditingNote(Block block)
{
    const Block done = block ? std::move(block) : Block([] {});
    // After every save queued before (an autosave may yet fail: its changes
    // count here too), the notes whose save failed are tried again. With
    // none of either, whatever else the file queue is busy with is not waited for.
    if (hasUnsavedWork())
        fileQueue()->sync([this] { retryUnsavedNotes(); });
    const NotePtr note = editingNote_;
    if (!note) {
        done();
        return;
    }
    cancelScheduleEditingAutoSave();
    cancelScheduleEditingAutoSaveCK();
    editingChanges_ += failedChanges_.exchange(0);
    if (editingChanges_ >= 1) {
        const int64_t changes = std::exchange(editingChanges_, 0);
        editingChangesCK_ = 0;
        firstUnsavedChange_ = -1;
        LogInfo("warehouse:emergency commit..");
        auto self = shared_from_this();
        if (!reloadForSave(note, Clock::now())) {
            done();
            return;
        }
        // On the file queue itself, after everything queued before it: work
        // queued later cannot run beside it, and the files are written when
        // this returns.
        const uint64_t session = session_;
        fileQueue()->sync([&] {
            note->commitAndCloseNote(
                Note::Completion(),
                [self, note, session, done](const QDateTime& date) {
                    self->takeSaveDate(note, session, date);
                    nameAfterTitle(note, [note, done] { saveToCloudKit(note, done); });
                },
                watchSave(note, session, changes));
        });
        return;
    }
    if (editingChangesCK_ > 0 && enabledAppleCloud() && hasReadableKey(note)) {
        LogInfo("warehouse:emergency commit.. (cloudkit)");
        editingChangesCK_ = 0;
        saveRecordOnFileQueue(note, done);
        return;
    }
    done();
}

void Warehouse::commitEditingNote(Block block)
{
    cancelScheduleEditingAutoSave();
    cancelScheduleEditingAutoSaveCK();
    const NotePtr note = editingNote_;
    if (!note || editingChanges_ < 1) {
        block();
        return;
    }
    const int64_t changes = std::exchange(editingChanges_, 0);
    firstUnsavedChange_ = -1;
    LogInfo("warehouse:commitEditing.. (save)");
    if (!reloadForSave(note, Clock::now())) {
        block();
        return;
    }
    fileQueue()->async([note, block = std::move(block), written = underWay(watchSave(note, session_, changes))] {
        note->commitAndCloseNote([note, block](bool) { nameAfterTitle(note, block); }, {}, written);
    });
}

// --- Changes from elsewhere

void Warehouse::remoteServerDidUpdateNote(const NotePtr& note)
{
    // The counters, the timers and the delegate belong to the main thread.
    DispatchQueue::main()->async([self = shared_from_this(), note] { self->handleRemoteUpdate(note); });
}

void Warehouse::remoteServerDidDeleteNote(const NotePtr& note)
{
    DispatchQueue::main()->async([self = shared_from_this(), note] { self->handleRemoteDelete(note); });
}

void Warehouse::handleRemoteUpdate(const NotePtr& remote)
{
    if (!isEditingNote(remote))
        return;
    // Not the file's text (the head of one too large to read whole): the
    // editor keeps its own, which the next save finds changed on disk.
    if (!remote->readFailure().isEmpty())
        return;
    const NotePtr note = editingNote_;
    const QString text = remote->text();
    const auto matchesNote = [&] {
        const QString current = note->text();
        return text == current || text == current + QStringLiteral("\n ");
    };
    // The editor holds the remote text (or starts from it): the file as the
    // remote left it is no outside change for the next save.
    if (matchesNote() || (!textWhenStartEditing_.isNull() && text == textWhenStartEditing_)) {
        note->takeDiskIdentityOf(*remote);
        return;
    }
    // A save still under way holds text the file has not taken: showing the
    // remote text instead would leave that text to write over it.
    if (editingChanges_ >= 1 || savesUnderWay_ > 0) {
        LogInfo("note:update from apple cloud, but user is editing -> fork.");
        fork(note);
        return;
    }
    const auto delegate = editingDelegate();
    if (delegate)
        delegate->warehouseReloadTextForNote(*this, note);
    if (matchesNote()) {
        note->takeDiskIdentityOf(*remote);
        return;
    }
    if (delegate && delegate->warehouseUserIsEditingNote(*this, note)) {
        LogInfo("note:update from apple cloud, but user is editing -> fork.");
        fork(note);
        return;
    }
    cancelScheduleEditingAutoSave();
    cancelScheduleEditingAutoSaveCK();
    LogInfo("note:update from apple cloud, and keyboard is down -> live update.");
    note->setStorage(remote->storage());
    note->takeDiskIdentityOf(*remote);
    if (delegate)
        delegate->warehouseRemoteServerDidUpdateEditingNote(*this, note, text);
}

void Warehouse::handleRemoteDelete(const NotePtr& remote)
{
    if (!isEditingNote(remote))
        return;
    cancelScheduleEditingAutoSave();
    cancelScheduleEditingAutoSaveCK();
    const NotePtr note = editingNote_;
    const auto delegate = editingDelegate();
    if (editingChanges_ >= 1 || (delegate && delegate->warehouseUserIsEditingNote(*this, note))) {
        // The editor's text is saved as a new note.
        LogInfo("note:delete from apple cloud, but user is editing -> fork.");
        fork(note);
        return;
    }
    LogInfo("note:delete from apple cloud, and keyboard is down -> back to list.");
    if (delegate)
        delegate->warehouseRemoteServerDidDeleteEditingNote(*this, note);
}

void Warehouse::fork(const NotePtr& note)
{
    note->forkNote();
    addEditingChanges(1);
}

// --- Timers and helpers

void Warehouse::scheduleEditingAutoSave(double delay)
{
    autoSave_.cancel();
    autoSave_ = DispatchQueue::main()->after(delay, [weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->editingAutoSave();
    });
}

void Warehouse::scheduleEditingAutoSaveCK(double delay)
{
    autoSaveCK_.cancel();
    autoSaveCK_ = DispatchQueue::main()->after(delay, [weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->editingAutoSaveCK();
    });
}

void Warehouse::cancelScheduleEditingAutoSave()
{
    autoSave_.cancel();
    autoSave_ = DispatchHandle();
}

void Warehouse::cancelScheduleEditingAutoSaveCK()
{
    autoSaveCK_.cancel();
    autoSaveCK_ = DispatchHandle();
}

void Warehouse::editingAutoSave()
{
    const NotePtr note = editingNote_;
    const auto delegate = editingDelegate();
    if (!note || !delegate || !delegate->warehouseShouldAutoSaveEditingNote(*this, note))
        return;
    if (editingChanges_ < 1)
        return;
    LogInfo("warehouse:autosave");
    if (!delegate->warehouseReloadTextForNote(*this, note))
        return;
    const int64_t saving = std::exchange(editingChanges_, 0);
    firstUnsavedChange_ = -1;
    delegate->warehouseReloadScrollPositionForNote(*this, note);
    note->setUpdatedOnForChange(Clock::now());
    auto self = shared_from_this();
    const uint64_t session = session_;
    fileQueue()->async([self, note, session, written = underWay(watchSave(note, session, saving))] {
        note->commitNote(
            Note::Completion(),
            [self, note, session](const QDateTime& date) {
                self->takeSaveDate(note, session, date);
                nameAfterTitle(note, {});
            },
            written);
    });
}

// --- Failed saves

Note::Completion Warehouse::underWay(Note::Completion written)
{
    ++savesUnderWay_;
    return [self = shared_from_this(), written = std::move(written)](bool ok) {
        if (written)
            written(ok);
        --self->savesUnderWay_;
    };
}

bool Warehouse::hasUnsavedWork() const
{
    return editingChanges_ > 0 || failedChanges_ > 0 || savesUnderWay_ > 0 || unsavedCount_ > 0;
}

Note::Completion Warehouse::watchSave(const NotePtr& note, uint64_t session, int64_t changes)
{
    return [self = shared_from_this(), note, session, changes](bool ok) {
        self->noteSaveOutcome(note, ok);
        if (ok)
            return;
        // Counted at once for an emergency commit; the session saves again at
        // its next tick while it still edits the note.
        LogError("warehouse:save of %1 failed, its text is kept", note->key());
        self->failedChanges_ += std::max<int64_t>(changes, 1);
        DispatchQueue::main()->async([self, session] {
            const int64_t failed = self->failedChanges_.exchange(0);
            if (self->session_ != session || failed == 0)
                return;
            if (self->editingChanges_ == 0)
                self->firstUnsavedChange_ = DispatchTime::now();
            self->editingChanges_ += failed;
            self->scheduleEditingAutoSave(AutoSaveDelay);
        });
    };
}

void Warehouse::noteSaveOutcome(const NotePtr& note, bool ok)
{
    const bool known = unsaved_.contains(note);
    if (ok) {
        if (known)
            LogInfo("warehouse:%1 saved after a failed save", note->key());
        unsaved_.removeAll(note);
        unsavedCount_ = unsaved_.size();
        if (known && unsaved_.isEmpty())
            DispatchQueue::main()->async([self = shared_from_this()] {
                if (auto delegate = self->editingDelegate())
                    delegate->warehouseDidSaveUnsavedNotes(*self);
            });
        return;
    }
    if (known)
        return;
    unsaved_.append(note);
    unsavedCount_ = unsaved_.size();
    DispatchQueue::main()->async([self = shared_from_this(), note] {
        if (auto delegate = self->editingDelegate())
            delegate->warehouseDidFailToSaveNote(*self, note);
        self->scheduleRetry();
    });
}

bool Warehouse::takeUnsavedText(const NotePtr& note)
{
    const QString key = note->key();
    for (NotePtr& entry : unsaved_) {
        if (entry != note && !key.isEmpty() && entry->key() == key && entry->storage() == note->storage()) {
            note->takeUnsavedTextOf(*entry);
            // Still unsaved, and the user has been told.
            entry = note;
            return true;
        }
    }
    return false;
}

void Warehouse::scheduleRetry()
{
    if (retry_.isValid())
        return;
    retry_ = DispatchQueue::main()->after(RetryDelay, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self)
            return;
        self->retry_ = DispatchHandle();
        fileQueue()->async([self] {
            if (self->retryUnsavedNotes() > 0)
                DispatchQueue::main()->async([self] { self->scheduleRetry(); });
        });
    });
}

size_t Warehouse::retryUnsavedNotes()
{
    const QList<NotePtr> notes = unsaved_;
    for (const NotePtr& note : notes) {
        LogInfo("warehouse:saving %1 again", note->key());
        note->commitNote(Note::Completion(), [note](const QDateTime&) { nameAfterTitle(note, {}); },
                         [this, note](bool ok) { noteSaveOutcome(note, ok); });
    }
    return size_t(unsaved_.size());
}

QList<NotePtr> Warehouse::unsavedNotes()
{
    // Every save's outcome is in: the file queue, busy as it may be, has none to add.
    if (savesUnderWay_ == 0 && unsavedCount_ == 0)
        return {};
    QList<NotePtr> notes;
    fileQueue()->sync([&] { notes = unsaved_; });
    return notes;
}

void Warehouse::editingAutoSaveCK()
{
    const NotePtr note = editingNote_;
    if (!note || editingChangesCK_ < 1 || !enabledAppleCloud())
        return;
    // Not before the first save of the session is in: the changes stay counted.
    if (!hasReadableKey(note) || !lastSaveDate_.isValid())
        return;
    editingChangesCK_ = 0;
    LogInfo("warehouse:autosaveck");
    fileQueue()->async([note] { saveToCloudKit(note, Block()); });
}

bool Warehouse::reloadForSave(const NotePtr& note, int64_t updatedOn)
{
    const auto delegate = editingDelegate();
    if (delegate && !delegate->warehouseReloadTextForNote(*this, note)) {
        LogInfo("warehouse:the editor holds no text of %1, nothing saved", note->key());
        return false;
    }
    if (delegate)
        delegate->warehouseReloadScrollPositionForNote(*this, note);
    note->setUpdatedOnForChange(updatedOn);
    return true;
}

void Warehouse::takeSaveDate(const NotePtr& note, uint64_t session, const QDateTime& date)
{
    note->setUpdatedOn(secondsOrNow(date));
    DispatchQueue::main()->async([self = shared_from_this(), session, date] {
        if (self->session_ == session)
            self->lastSaveDate_ = date;
    });
}

void Warehouse::saveRecordOnFileQueue(const NotePtr& note, Block block)
{
    // The record is dated by the last save; the note's own carets stay as the
    // editor left them.
    auto record = std::make_shared<Note>(note->key(), note->storage());
    record->setText(note->text());
    const QDateTime date = lastSaveDate_;
    fileQueue()->async([record, date, block = std::move(block)] {
        record->restoreMeta();
        record->setUpdatedOn(secondsOrNow(date));
        saveToCloudKit(record, block);
    });
}

