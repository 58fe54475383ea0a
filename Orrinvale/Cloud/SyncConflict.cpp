#include "SyncConflict.h"

#include "LinkFiles.h"

#include "Store/AppleCloud.h"
#include "Store/NoteServices.h"

#include "files/FileDates.h"

#include <QFileInfo>

namespace SyncConflict {

bool hasUnexchangedLocalChanges(const QString& key, int storage)
{
    const QString path = Note::documentFileForKey(key, storage);
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return false;
    const FileTime changed = FileTime::fromWholeSeconds(FileDates::modificationDate(path));
    for (const int service : {NoteServiceCloud, NoteServiceCloudKit}) {
        if (LinkFiles::isNewerOrEqualTo(key, service, storage, changed))
            return false;
    }
    return true;
}

void forkLocalNote(const QString& key, int storage, std::function<void(const NotePtr& forked)> completion)
{
    const auto local = std::make_shared<Note>(key, storage);
    local->restoreMeta();
    if (!local->restoreText()) {
        if (completion)
            completion(nullptr);
        return;
    }
    auto forked = std::make_shared<Note>();
    forked->setText(local->text());
    forked->setStorage(storage);
    forked->setCreatedOn(local->createdOn());
    forked->setUpdatedOn(local->updatedOn());
    // The drive may answer later, on its own queue.
    forked->commitAndCloseNote([forked, completion = std::move(completion)](bool ok) {
        NoteServices* const services = Note::services();
        if (!ok || !services) {
            if (completion)
                completion(ok ? forked : nullptr);
            return;
        }
        services->appleCloud()->ckCloud()->saveNote(forked, [forked, completion](bool) {
            if (completion)
                completion(forked);
        });
    });
}

void takeTurn(OneAtATime::Job job)
{
    static const auto* const turns = new std::shared_ptr<OneAtATime>(OneAtATime::create());
    (*turns)->run(std::move(job));
}

} // namespace SyncConflict
