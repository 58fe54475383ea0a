#include "Note.h"

#include "AppleCloud.h"
#include "FolderListing.h"
#include "NoteServices.h"
#include "NoteStorageListener.h"

#include "Dispatch.h"
#include "Log.h"
#include "files/FileCoordinator.h"

void Note::makeReadableFileNameUsingBlock(const ErrorCompletion& completion)
{
    {
        const Fields held = fields();
        // Text the file does not hold would be read over from the file.
        const bool unsaved = held.onDisk && qHash(held.text) != held.onDisk->textHash;
        if (held.key.isNull() || isReadableFileName(held.key) || unsaved) {
            completion(Error());
            return;
        }
    }
    restoreText();
    restoreHeader();
    restoreMeta();
    // The header on disk may predate the text (another program wrote it while we were not running):
    // the name comes from the text.
    _reloadHeader();
    const Fields f = fields();
    const QString newKey = findUnusedReadableFileNameForDirectory(documentDirectoryForStorage(f.storage));
    const QString to = documentFileForKey(newKey, f.storage);
    if (newKey.startsWith(QLatin1String("Untitled")) || to.isEmpty()) {
        completion(Error());
        return;
    }
    const MoveDescriptors d = announceMove(newKey, f.storage, f.createdOn, f.updatedOn);

    detach(true);
    Error error;
    bool moved;
    {
        const QString from = documentFileForKey(f.key, f.storage);
        FileCoordinator::Access access = FileCoordinator::coordinate(from, to);
        createImmediateDirectoryForFilePath(to);
        moved = moveTextFile(from, to, &error);
    }
    if (moved)
        setKey(newKey);
    // Under the new key, or again under the old one when the file stayed.
    reattach();
    if (!moved) {
        completion(error);
        return;
    }
    LogInfo("note:makeReadable %1", newKey);

    const NotePtr me = self();
    const auto finish = [me, d, completion](const Error& cloudError) {
        if (me)
            me->setUpdatedOn(d.after->updatedOn());
        // The local rename happened either way, so the listeners hear of it.
        DispatchQueue::main()->async([before = d.before, me] {
            if (NoteStorageListener* const events = relay())
                events->noteDidMoveTo(before, me);
        });
        completion(cloudError);
    };
    NoteServices* const core = services();
    if (core)
        core->appleCloud()->renameNote(d.before, d.after, finish);
    else
        finish(Error());
}

void Note::makeReadableFileNames()
{
    for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
        QStringList names;
        listFolderNames(documentDirectoryForStorage(storage), &names);
        for (const QString& name : std::as_const(names)) {
            if (!isReadableFileName(name))
                std::make_shared<Note>(name, storage)->makeReadableFileNameUsingBlock([](const Error&) {});
        }
    }
}
