#include "OfflineAppleCloud.h"

#include "OfflineCKCloud.h"

OfflineAppleCloud::OfflineAppleCloud() : ckCloud_(std::make_shared<OfflineCKCloud>()) {}

OfflineAppleCloud::OfflineAppleCloud(std::shared_ptr<CKCloud> ckCloud) : ckCloud_(std::move(ckCloud)) {}

void OfflineAppleCloud::prepareNote(const NotePtr& note, CommitHandler handler)
{
    commitNote(note, std::move(handler));
}

void OfflineAppleCloud::commitNote(const NotePtr&, CommitHandler handler)
{
    if (handler)
        handler(QDateTime(), Error());
}

void OfflineAppleCloud::commitAndCloseNote(const NotePtr& note, CommitHandler handler)
{
    commitNote(note, std::move(handler));
}

void OfflineAppleCloud::renameNote(const NotePtr&, const NotePtr&, Handler handler)
{
    if (handler)
        handler(Error());
}

void OfflineAppleCloud::moveNote(const NotePtr&, const NotePtr&, Handler handler)
{
    if (handler)
        handler(Error());
}

void OfflineAppleCloud::deleteNote(const NotePtr&, Handler handler)
{
    if (handler)
        handler(Error());
}
