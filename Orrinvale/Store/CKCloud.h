#pragma once

#include "Note.h"

#include "files/FileTimes.h"

#include <functional>

// The CloudKit side of cloud sync as the note store calls it. Each write calls
// its block exactly once (an empty block is allowed) with true only when the
// record was written.
class CKCloud {
public:
    using Completion = std::function<void(bool ok)>;

    virtual ~CKCloud() = default;

    // Saves the note's text as its record, asynchronously.
    virtual void saveNote(const NotePtr& note, Completion block) = 0;
    // Carries the note's record over to the new storage and key.
    virtual void moveNote(const NotePtr& from, const NotePtr& to, Completion block) = 0;
    // Marks the note's record as deleted.
    virtual void deleteNote(const NotePtr& note, Completion block) = 0;
    // The drive found the note deleted as of the date: marks its record
    // deleted unless the record changed later. Writes no link file.
    virtual void notifyDeleteNote(const NotePtr& note, const FileTime& date, Completion block) = 0;
    // Runs the block on the file queue once every block queued before on the
    // cloud's queue and then on the file queue has run; writes in flight are not waited for.
    virtual void wait(std::function<void()> block) = 0;
};
