#pragma once

#include "OneAtATime.h"

#include "Store/Note.h"

#include <functional>

// The conflict rule's answers that the drive and record-store sides share.
namespace SyncConflict {

// True when the note's text file was changed here after its last exchange
// with both the drive and the record store: its modification date (whole
// seconds, as a commit writes updatedOn there) is later than each of its
// Cloud and CloudKit link dates; a missing link counts as never exchanged.
// A missing text file has no changes.
bool hasUnexchangedLocalChanges(const QString& key, int storage);

// Keeps the local text of a note about to be overwritten from elsewhere:
// commits it as a new note (a key of its own, the same storage and dates),
// then saves that note's record. The completion gets the new note, or null
// when the text could not be read or committed, and is called once.
void forkLocalNote(const QString& key, int storage, std::function<void(const NotePtr& forked)> completion);

// Writes from elsewhere that may fork a local note take turns, process-wide:
// two of them seeing the same unexchanged edit at once would fork it twice.
void takeTurn(OneAtATime::Job job);

} // namespace SyncConflict
