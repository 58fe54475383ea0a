#pragma once

#include "Store/CKCloud.h"

// CloudKit with no account: every write answers false at once.
class OfflineCKCloud : public CKCloud {
public:
    void saveNote(const NotePtr& note, Completion block) override;
    void moveNote(const NotePtr& from, const NotePtr& to, Completion block) override;
    void deleteNote(const NotePtr& note, Completion block) override;
    void notifyDeleteNote(const NotePtr& note, const FileTime& date, Completion block) override;
    // Runs the block at once.
    void wait(std::function<void()> block) override;
    // With the cloud off a fetch has nothing to do and succeeds; the rest
    // answers at once with no error and handles no push.
    void fetchStorage(Completion block) override;
    void optimizeStorageIfLucky() override {}
    void subscribeUsingBlock(ErrorBlock block) override;
    void unsubscribeUsingBlock(ErrorBlock block) override;
    bool handleRemoteNotification(const QVariantMap&) override { return false; }
};
