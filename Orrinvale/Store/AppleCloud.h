#pragma once

#include "CKCloud.h"
#include "Note.h"

#include "Error.h"

#include <QDateTime>

#include <functional>
#include <memory>

// The cloud-drive side of cloud sync as the note store calls it. Every handler
// is called exactly once; a null error means success. While the drive is
// unavailable each handler is called at once with empty values.
class AppleCloud {
public:
    // The saved file's modification date (null when nothing was saved) and the error.
    using CommitHandler = std::function<void(const QDateTime& fileModificationDate, const Error& error)>;
    using Handler = std::function<void(const Error& error)>;

    virtual ~AppleCloud() = default;

    // The CloudKit object this one owns.
    virtual std::shared_ptr<CKCloud> ckCloud() const = 0;

    // The editor opened the note: a note that came in through CloudKit and
    // has no drive file yet gets one. The handler may be empty.
    virtual void prepareNote(const NotePtr& note, CommitHandler handler) = 0;
    // Saves the note's text into the drive under its storage and key.
    virtual void commitNote(const NotePtr& note, CommitHandler handler) = 0;
    virtual void commitAndCloseNote(const NotePtr& note, CommitHandler handler) = 0;
    // Renames the drive file from the old key to the new one; may change
    // to's updatedOn, which the caller copies back into its note.
    virtual void renameNote(const NotePtr& from, const NotePtr& to, Handler handler) = 0;
    // Moves the drive file to the new storage and key.
    virtual void moveNote(const NotePtr& from, const NotePtr& to, Handler handler) = 0;
    virtual void deleteNote(const NotePtr& note, Handler handler) = 0;

    // The watch on the drive, from the application's activation to its end;
    // main thread. Without a drive there is nothing to watch.
    virtual void startQuery() {}
    virtual void stopQuery() {}
    // One line for the sync settings.
    virtual QString localizedStatus() const { return QStringLiteral("Disabled"); }

    // Runs block on the file queue once the work queued before it has run.
    virtual void wait(std::function<void()> block) { ckCloud()->wait(std::move(block)); }
    // The record store's push notifications, passed on unchanged.
    bool handleRemoteNotification(const QVariantMap& userInfo) { return ckCloud()->handleRemoteNotification(userInfo); }
    void subscribeRemoteNotification(CKCloud::ErrorBlock block)
    {
        CKCloud::registerUserNotification();
        ckCloud()->subscribeUsingBlock(std::move(block));
    }
    void unsubscribeRemoteNotification(CKCloud::ErrorBlock block)
    {
        CKCloud::unregisterUserNotification();
        ckCloud()->unsubscribeUsingBlock(std::move(block));
    }
};
