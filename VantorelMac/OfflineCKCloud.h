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
};
