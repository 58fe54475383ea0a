#include "Note.h"

#include "AppleCloud.h"
#include "NoteSearchRow.h"
#include "NoteServices.h"
#include "NoteStorageListener.h"

#include "Clock.h"
#include "Dispatch.h"
#include "Folders.h"
#include "Log.h"
#include "files/FileCoordinator.h"
#include "files/FileDates.h"
#include "files/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString ErrorDomain = QStringLiteral("NSCocoaErrorDomain");
constexpr int NoSuchFileError = 4;
constexpr int WriteUnknownError = 512;
constexpr int FileExistsError = 516;

bool existsAt(const QString& path)
{
    return !path.isEmpty() && (QFileInfo::exists(path) || QFileInfo(path).isSymLink());
}

} // namespace

bool Note::moveTextFile(const QString& from, const QString& to, Error* error)
{
    const auto fail = [&](int code) {
        setError(error, Error::make(ErrorDomain, code,
                                    QStringLiteral("\u201C%1\u201D couldn\u2019t be moved to \u201C%2\u201D.")
                                        .arg(QFileInfo(from).fileName(), QFileInfo(QFileInfo(to).path()).fileName())));
        return false;
    };
    if (!existsAt(from))
        return fail(NoSuchFileError);
    if (to.isEmpty())
        return fail(WriteUnknownError);
    if (existsAt(to))
        return fail(FileExistsError);
    return QFile::rename(from, to) || fail(WriteUnknownError);
}

void Note::detach(bool linksFirst)
{
    const Fields f = fields();
    if (f.key.isNull())
        return;
    // The marker goes first whatever the order: interrupted later, the note
    // is indexed again at the next start.
    removeIndexFile();
    const auto removeSideFiles = [this] {
        removeHeaderFile();
        removeMetaFile();
    };
    if (!linksFirst)
        removeSideFiles();
    writeTag(NoteTagHashtag, QStringList(), f.storage, false);
    writeTag(NoteTagMention, QStringList(), f.storage, false);
    if (linksFirst)
        removeSideFiles();
    IndexBatch::drop(NoteSearchRow::searchKey(f.storage, f.key));
    if (NoteServices* const core = services())
        core->asyncDatabase([searchKey = NoteSearchRow::searchKey(f.storage, f.key)](SLDatabase& db) {
            NoteSearchRow::remove(db, searchKey);
        });
}

void Note::removeFromIndex()
{
    detach(false);
}

void Note::reattach()
{
    writeMetaFile();
    writeHeaderFile();
    writeTagLinkAndIndexFiles(false);
}

Note::MoveDescriptors Note::announceMove(const QString& newKey, int newStorage, int64_t created, int64_t updated)
{
    const Fields f = fields();
    MoveDescriptors d{std::make_shared<Note>(f.key, f.storage), std::make_shared<Note>(newKey, newStorage)};
    d.before->setText(f.text);
    d.after->setText(f.text);
    d.after->setCreatedOn(created);
    d.after->setUpdatedOn(updated);
    if (NoteStorageListener* const events = relay())
        events->noteWillMoveTo(d.before, d.after);
    return d;
}

// --- Move

bool Note::moveNoteToStorage(int storage, Error* error)
{
    if (this->storage() == storage)
        return true;
    restoreText();
    restoreHeader();
    restoreMeta();
    const Fields f = fields();
    const QString newKey = isReadableFileName(f.key)
                               ? findUnusedFileNameForKey(f.key, storage)
                               : findUnusedReadableFileNameForDirectory(documentDirectoryForStorage(storage));
    const QString to = newKey.isNull() ? QString() : documentFileForKey(newKey, storage);
    if (to.isEmpty()) {
        setError(error, Error::make(ErrorDomain, FileExistsError,
                                    QStringLiteral("No free file name for \u201C%1\u201D.").arg(f.key)));
        return false;
    }
    const int64_t now = Clock::now();
    const MoveDescriptors d = announceMove(newKey, storage, now, now);

    detach(true);
    bool moved;
    {
        const QString from = documentFileForKey(f.key, f.storage);
        FileCoordinator::Access access = FileCoordinator::coordinate(from, to);
        createImmediateDirectoryForFilePath(to);
        moved = moveTextFile(from, to, error);
    }
    if (!moved) {
        // The file stayed where it was: so do its side files and row.
        reattach();
        return false;
    }
    {
        // A moved note counts as created at the moment of the move; its record
        // is never older than the file it keeps, which a sync may have dated
        // into the current second's end.
        const int64_t fileDate = FileDates::modificationDate(to);
        std::lock_guard lock(mutex_);
        fields_.key = newKey;
        fields_.storage = storage;
        fields_.createdOn = now;
        fields_.updatedOn = std::max(now, fileDate);
    }
    reattach();

    const NotePtr me = self();
    const auto didMove = [before = d.before, me] {
        DispatchQueue::main()->async([before, me] {
            if (NoteStorageListener* const events = relay())
                events->noteDidMoveTo(before, me);
        });
    };
    NoteServices* const core = services();
    if (!core) {
        didMove();
        return true;
    }
    const std::shared_ptr<AppleCloud> cloud = core->appleCloud();
    cloud->moveNote(d.before, d.after, [cloud, d, didMove](const Error& cloudError) {
        // The local move happened either way, so the listeners hear of it.
        didMove();
        if (!cloudError.isNull()) {
            LogError("note:move error %1", cloudError.localizedDescription());
            return;
        }
        cloud->ckCloud()->moveNote(d.before, d.after, [](bool) {});
    });
    return true;
}

// --- Trash and delete

void Note::detachForRemoval()
{
    // A failed removal puts the side files back: they need the note's record.
    if (!key().isNull() && createdOn() == 0)
        restoreMeta();
    detach(false);
}

void Note::reattachAfterFailedRemoval()
{
    // Still there, so it stays findable.
    if (text().isNull())
        restoreText();
    reattach();
}

Error Note::trashLocal()
{
    detachForRemoval();
    const Fields f = fields();
    const QString path = f.key.isNull() ? QString() : documentFileForKey(f.key, f.storage);
    if (!existsAt(path))
        return Error();
    Error error;
    bool trashed;
    {
        FileCoordinator::Access access = FileCoordinator::coordinate(path);
        trashed = Trash::moveToTrash(path, nullptr, &error);
    }
    if (!trashed && existsAt(path)) {
        LogError("note:trash local error %1", error.localizedDescription());
        reattachAfterFailedRemoval();
        return error;
    }
    if (NoteStorageListener* const events = relay())
        events->noteDidDeleteFromStorage(self(), f.storage, QString());
    return Error();
}

void Note::_trashLocalNote(const ErrorCompletion& completion)
{
    const Error error = trashLocal();
    if (completion)
        completion(error);
}

void Note::_deleteLocalNote(const ErrorCompletion& completion)
{
    _trashLocalNote(completion);
}

void Note::trashNote(const ErrorCompletion& completion)
{
    const Error error = trashLocal();
    NoteServices* const core = services();
    if (!error.isNull() || !core || !core->enabledAppleCloud()) {
        if (completion)
            completion(error);
        return;
    }
    const auto descriptor = std::make_shared<Note>(key(), storage());
    const std::shared_ptr<AppleCloud> cloud = core->appleCloud();
    cloud->deleteNote(descriptor, [cloud, descriptor, completion](const Error& cloudError) {
        if (completion)
            completion(cloudError);
        cloud->ckCloud()->deleteNote(descriptor, [](bool) {});
    });
}

void Note::deleteNote(const ErrorCompletion& completion)
{
    trashNote(completion);
}

// --- Purge

Error Note::purgeLocal()
{
    detachForRemoval();
    const Fields f = fields();
    const QString target =
        QDir(Folders::temporary()).filePath(QStringLiteral("Purged/") + uniqueClassicKeyFromURL());
    createImmediateDirectoryForFilePath(target);
    const QString path = f.key.isNull() ? QString() : documentFileForKey(f.key, f.storage);
    if (!existsAt(path))
        return Error();
    removeItemIfExistsAtPath(target);
    Error error;
    bool moved;
    {
        FileCoordinator::Access access = FileCoordinator::coordinate(path, target);
        moved = moveTextFile(path, target, &error);
        if (moved) {
            const int64_t now = Clock::now();
            FileDates::setCreationDate(target, now);
            FileDates::setModificationDate(target, now);
        }
    }
    if (!moved) {
        LogError("note:purge local error %1", error.localizedDescription());
        reattachAfterFailedRemoval();
        return error;
    }
    if (NoteStorageListener* const events = relay())
        events->noteDidDeleteFromStorage(self(), f.storage, QString());
    return Error();
}

void Note::_purgeLocalNote(const ErrorCompletion& completion)
{
    const Error error = purgeLocal();
    if (completion)
        completion(error);
}

void Note::purgeNote(const ErrorCompletion& completion)
{
    const Error error = purgeLocal();
    NoteServices* const core = services();
    if (!error.isNull() || !core || !core->enabledAppleCloud()) {
        if (completion)
            completion(error);
        return;
    }
    const auto descriptor = std::make_shared<Note>(key(), storage());
    const std::shared_ptr<AppleCloud> cloud = core->appleCloud();
    cloud->deleteNote(descriptor, [completion](const Error& cloudError) {
        if (completion)
            completion(cloudError);
    });
    cloud->ckCloud()->deleteNote(descriptor, [](bool) {});
}
