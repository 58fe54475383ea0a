#pragma once

#include "Note.h"

#include "files/FileTimes.h"

#include <QVariantMap>

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
    // cloud's queue and then on the file queue has run, and every write started
    // before it has answered.
    virtual void wait(std::function<void()> block) = 0;

    using ErrorBlock = std::function<void(const Error& error)>;
    // Takes in the records changed since the last fetch. False at once while
    // a fetch runs, and when the store could not be asked.
    virtual void fetchStorage(Completion block) = 0;
    // Now and then, deletes the records of more than a week ago.
    virtual void optimizeStorageIfLucky() = 0;
    // One standing query on the note records, so other clients' saves arrive as pushes.
    virtual void subscribeUsingBlock(ErrorBlock block) = 0;
    virtual void unsubscribeUsingBlock(ErrorBlock block) = 0;
    // True when the push named a note record and its reload was started.
    virtual bool handleRemoteNotification(const QVariantMap& userInfo) = 0;
    // The process's pushes on or off; before subscribing and unsubscribing.
    static void registerUserNotification();
    static void unregisterUserNotification();
    // The text shown for a store error; another error's own description.
    static QString localizedErrorString(const Error& error);
};
