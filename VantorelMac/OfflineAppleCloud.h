#pragma once

#include "Store/AppleCloud.h"

// The drive with no account: every handler is called once, at once, with
// empty values. The sync subsystem supplies the real object to Core.
class OfflineAppleCloud : public AppleCloud {
public:
    OfflineAppleCloud();
    // No sync folder, but the record store on: the default on Linux.
    explicit OfflineAppleCloud(std::shared_ptr<CKCloud> ckCloud);

    std::shared_ptr<CKCloud> ckCloud() const override { return ckCloud_; }
    void prepareNote(const NotePtr& note, CommitHandler handler) override;
    void commitNote(const NotePtr& note, CommitHandler handler) override;
    void commitAndCloseNote(const NotePtr& note, CommitHandler handler) override;
    void renameNote(const NotePtr& from, const NotePtr& to, Handler handler) override;
    void moveNote(const NotePtr& from, const NotePtr& to, Handler handler) override;
    void deleteNote(const NotePtr& note, Handler handler) override;

private:
    std::shared_ptr<CKCloud> ckCloud_;
};
