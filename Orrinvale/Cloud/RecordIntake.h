#pragma once

#include "NoteRecord.h"

#include <optional>

// The checks every reader of a note record makes before the record's state,
// logged with the reader's word ("fetch", "reload").
namespace RecordIntake {

// The note the record names; nothing when its version, size or name refuses it.
std::optional<NoteRecord::Name> admit(const Record& record, const char* reader);
// True when a link file of the note is dated at or after the record's
// commit (this computer holds that change or a later one), or the record
// has no commit date to compare. The Cloud and CloudKit links count only for
// a text this computer held: another goes on to the conflict rule.
bool resisted(const Record& record, const NoteRecord::Name& name, const char* reader);
// resisted's answer, unlogged: this computer exchanged the record's change or a later one.
bool exchangedHere(const Record& record, const NoteRecord::Name& name);

} // namespace RecordIntake
