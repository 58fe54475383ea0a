// FolderAppleCloud's outgoing writes: the note store's saves, moves, renames
// and deletions repeated in the folder, on the ".cloud" queue, with writes held
// while the folder is being changed.
#include "FolderAppleCloud.h"

#include "AppleDocument.h"
#include "NoteHistory.h"
#include "SyncConflict.h"

#include "Store/NoteServices.h"

#include "Log.h"
#include "files/AtomicFile.h"
#include "files/FileDates.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Error pathError(int code, const QString& description, const QString& path)
{
    Error error = Error::make(QStringLiteral("NSCocoaErrorDomain"), code, description.arg(path));
    error.userInfo.insert(QStringLiteral("FileURL"), path);
    return error;
}

Error alreadyExists(const QString& destination)
{
    Error error;
    error.domain = QStringLiteral("The document, already exists at path: %1").arg(destination);
    error.code = 512;
    error.userInfo.insert(QStringLiteral("FileURL"), destination);
    return error;
}

bool isRegularOrMissing(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) != 0 || S_ISREG(info.st_mode);
}

// Check and move in one step, so a document appearing meantime is never replaced.
int moveNoReplace(const QString& source, const QString& destination)
{
    const QByteArray from = QFile::encodeName(source);
    const QByteArray to = QFile::encodeName(destination);
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: the link refuses an existing name just as well.
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    return ::unlink(from.constData()) == 0 ? 0 : errno;
}

// A millisecond on: a date every file system here keeps apart from the one before.
FileTime justAfter(const FileTime& date)
{
    constexpr int32_t Millisecond = 1000000;
    return date.nanoseconds < 1000000000 - Millisecond ? FileTime{date.seconds, date.nanoseconds + Millisecond}
                                                        : FileTime{date.seconds + 1, date.nanoseconds + Millisecond - 1000000000};
}

} // namespace

// A document another computer changed with a text this one never held would
// be lost under the save: it is taken in first, and the conflict rule says
// which text the document holds then.
bool FolderAppleCloud::takesInFirst(const NotePtr& note, const QString& path)
{
    const std::optional<FileTime> date = FileTimes::modificationTime(path);
    if (!date || !isImportableFile(path)
        || LinkFiles::isNewerOrEqualTo(note->key(), NoteServiceCloud, note->storage(), *date))
        return false;
    const std::optional<AppleDocument> document = AppleDocument::open(path);
    if (!document || document->text() == note->text() || document->text().isEmpty()
        || NoteHistory::load(note->key(), note->storage()).contains(NoteHistory::hashOf(document->text())))
        return false;
    LogInfo("apcloud:save takes in first %1", note->key());
    importText(note->key(), note->storage(), *date, document->text(), historyOf(path, document->text()), [] {});
    return true;
}

std::optional<AppleDocument> FolderAppleCloud::saveDocument(const NotePtr& note, Error* error)
{
    const QString path = fileURLForKey(note->key(), note->storage());
    const QString folder = storageName(note->storage());
    if (path.isEmpty() || !isRegularOrMissing(path)) {
        setError(error, pathError(4, QStringLiteral("No document at %1"), path.isEmpty() ? note->key() : path));
        LogError("apcloud:save failed %1/%2", folder, note->key());
        return std::nullopt;
    }
    if (takesInFirst(note, path)) {
        setError(error, pathError(StoodAsideCode, QStringLiteral("%1 changed elsewhere: taken in first"), path));
        return std::nullopt;
    }
    const std::optional<QString> sent = SyncConflict::sendingHeld(note->key(), note->storage(), note->text());
    if (!sent) {
        setError(error, pathError(StoodAsideCode, QStringLiteral("%1 holds another text here now"), path));
        LogInfo("apcloud:save skipped, written over here %1/%2", folder, note->key());
        return std::nullopt;
    }
    AppleDocument document(path);
    document.setText(note->text());
    Note::createImmediateDirectoryForFilePath(path);
    // Dated by the project's clock, as the notes and records are, and never before the note's own date
    // (a change can be dated after its last exchange): the link it leaves must count the text as sent.
    // Always after the document it replaces: within a second the clock lags, both would carry the note's
    // second, and a computer linked to the first would take the second for it, unread.
    FileTime date = std::max(FileTime::now(), FileTime::fromWholeSeconds(note->updatedOn()));
    if (const std::optional<FileTime> replaced = FileTimes::modificationTime(path); replaced && *replaced >= date)
        date = justAfter(*replaced);
    if (!document.save(error, date)) {
        LogError("apcloud:save failed %1/%2", folder, note->key());
        return std::nullopt;
    }
    const QString history = historyFileFor(path);
    Note::createImmediateDirectoryForFilePath(history);
    AtomicFile::write(history, (NoteHistory::hashOf(note->text()) + QLatin1Char('\n') + *sent).toLatin1());
    LogInfo("apcloud:save ok %1/%2", folder, note->key());
    return document;
}

std::optional<FileTime> FolderAppleCloud::commitNow(const NotePtr& note, Error* error)
{
    std::optional<AppleDocument> document = saveDocument(note, error);
    const std::optional<FileTime> date = document ? document->fileModificationDate() : std::nullopt;
    if (date)
        links_.write(note->key(), NoteServiceCloud, note->storage(), date);
    else
        LogError("apcloud:save failed %1", note->key());
    return date;
}

void FolderAppleCloud::save(const NotePtr& note, CommitHandler handler)
{
    Error error;
    const std::optional<FileTime> date = commitNow(note, &error);
    if (handler)
        handler(date ? date->toDateTime() : QDateTime(), date ? Error() : error);
}

bool FolderAppleCloud::hasDocuments() const
{
    std::lock_guard lock(mutex_);
    return !documents_.isEmpty();
}

// Off, or no folder yet: the handler gets empty values at once.
void FolderAppleCloud::onQueue(std::function<void()> work, std::function<void()> off)
{
    if (held_.keep([self = shared_from_this(), work, off] { self->onQueue(work, off); }))
        return;
    if (!quickCloudCheck())
        return off();
    queue_->async([self = shared_from_this(), work = std::move(work), off = std::move(off)] {
        self->hasDocuments() ? work() : off();
    });
}

void FolderAppleCloud::holdWrites()
{
    held_.hold();
}

void FolderAppleCloud::releaseWrites()
{
    // The new folder's account and path come first, so no held write
    // reaches the old folder or is linked under its account.
    identityDidChange();
    queue_->async([self = shared_from_this()] { self->lookUpContainer(); });
    held_.release();
}

void FolderAppleCloud::commitNote(const NotePtr& note, CommitHandler handler)
{
    onQueue([self = shared_from_this(), note, handler] { self->save(note, handler); },
            [handler] {
                if (handler)
                    handler(QDateTime(), Error());
            });
}

void FolderAppleCloud::commitAndCloseNote(const NotePtr& note, CommitHandler handler)
{
    commitNote(note, std::move(handler));
}

void FolderAppleCloud::prepareNote(const NotePtr& note, CommitHandler handler)
{
    auto answer = [handler](const QDateTime& date, const Error& error) {
        if (handler)
            handler(date, error);
    };
    onQueue([self = shared_from_this(), note, answer] { self->prepareNow(note, answer); },
            [answer] { answer(QDateTime(), Error()); });
}

void FolderAppleCloud::prepareNow(const NotePtr& note, const CommitHandler& handler)
{
    const QString key = note->key();
    const int storage = note->storage();
    const QString folder = storageName(storage);
    // A note not read as its file holds it (unreadable, or too large to read
    // whole) has no text to give the folder.
    if (exists(fileURLForKey(key, storage)) || !note->readFailure().isEmpty())
        return handler(QDateTime(), Error());
    const std::optional<FileTime> ckDate = LinkFiles::modificationDate(key, NoteServiceCloudKit, storage);
    if (!ckDate) {
        LogInfo("apcloud:prepare resist (ckcloud) %1/%2", folder, key);
        return handler(QDateTime(), Error());
    }
    if (LinkFiles::isNewerOrEqualTo(key, NoteServiceTrash, storage, *ckDate)) {
        LogInfo("apcloud:prepare resist (trash) %1/%2", folder, key);
        return handler(QDateTime(), Error());
    }
    Error error;
    const std::optional<AppleDocument> document = saveDocument(note, &error);
    if (!document) {
        LogError("apcloud:prepare failed %1/%2", folder, key);
        return handler(QDateTime(), error);
    }
    const std::optional<FileTime> date = document->fileModificationDate();
    if (!date) {
        LogError("apcloud:prepare error file not exists: %1/%2", folder, key);
        return handler(QDateTime(), Error());
    }
    links_.write(key, NoteServiceCloud, storage, ckDate);
    LogInfo("apcloud:prepare ok %1/%2", folder, key);
    handler(date->toDateTime(), Error());
}

Error FolderAppleCloud::moveFile(const QString& source, const QString& destination)
{
    if (!exists(source))
        return Error();
    if (exists(destination))
        return alreadyExists(destination);
    Note::createImmediateDirectoryForFilePath(destination);
    if (const int code = moveNoReplace(source, destination)) {
        const Error error = code == EEXIST ? alreadyExists(destination)
                                           : pathError(512, QStringLiteral("Cannot move to %1"), destination);
        LogError("apcloud:move failed %1 error: %2", QFileInfo(source).fileName(), error.description());
        return error;
    }
    LogInfo("apcloud:move ok %1 -> %2", QFileInfo(source).fileName(), QFileInfo(destination).fileName());
    return Error();
}

Error FolderAppleCloud::deleteFile(const QString& path)
{
    LogInfo("apcloud:delete start %1", path);
    if (!exists(path))
        return Error();
    if (::unlink(QFile::encodeName(path).constData()) != 0) {
        const Error error = pathError(513, QStringLiteral("Cannot delete %1"), path);
        LogError("apcloud:delete failed %1 error: %2", path, error.description());
        return error;
    }
    LogInfo("apcloud:delete ok %1", path);
    return Error();
}

Error FolderAppleCloud::deleteNow(const NotePtr& note)
{
    const QString path = fileURLForKey(note->key(), note->storage());
    keepTextNeverHeld(note, path);
    const Error error = deleteFile(path);
    if (error.isNull()) {
        LinkFiles::remove(note->key(), NoteServiceCloud, note->storage());
        if (!path.isEmpty())
            QFile::remove(historyFileFor(path));
    }
    return error;
}

// A side file left under the old name would speak for a later document there.
void FolderAppleCloud::moveHistoryFile(const QString& source, const QString& destination) const
{
    const QString from = historyFileFor(source);
    const QString to = historyFileFor(destination);
    QFile::remove(to);
    if (!QFileInfo::exists(from))
        return;
    Note::createImmediateDirectoryForFilePath(to);
    if (!QFile::rename(from, to))
        QFile::remove(from);
}

// A move carries the document only when it holds the moved text; another
// one goes as a deletion would.
bool FolderAppleCloud::holdsAnotherText(const NotePtr& note, const QString& path) const
{
    const std::optional<AppleDocument> document = exists(path) ? AppleDocument::open(path) : std::nullopt;
    return document && document->text() != note->text();
}

// Another computer's edit waiting in the document, never held here, stays
// beside, as a fork of the note it was written to: its writer counts it as
// sent, and takes the document's going for a deletion of it.
void FolderAppleCloud::keepTextNeverHeld(const NotePtr& note, const QString& path) const
{
    const std::optional<AppleDocument> document = exists(path) ? AppleDocument::open(path) : std::nullopt;
    if (!document || document->text() == note->text())
        return;
    const auto keep = [&] {
        const std::optional<FileTime> date = document->fileModificationDate();
        if (!document->text().isEmpty() && date
            && !NoteHistory::load(note->key(), note->storage()).contains(NoteHistory::hashOf(document->text())))
            SyncConflict::keepAsFork(note->key(), note->storage(), document->text(), date->seconds, date->seconds);
    };
    if (NoteServices* const services = Note::services())
        services->fileQueue()->sync(keep);
    else
        keep();
}

// A document moved to another storage keeps its date, which a computer that
// saw it leave that storage has as the date it went: moved back, it would be
// held back there for good. It is dated at the move, after its last write.
void FolderAppleCloud::dateMovedDocument(const NotePtr& to, const QString& path) const
{
    const std::optional<FileTime> written = FileTimes::modificationTime(path);
    FileTime moved = FileTime::fromWholeSeconds(to->updatedOn());
    if (written && *written >= moved)
        moved = FileTime::fromWholeSeconds(written->seconds + 1);
    if (FileTimes::setModificationTime(path, moved))
        links_.write(to->key(), NoteServiceCloud, to->storage(), moved);
}

void FolderAppleCloud::relocate(const NotePtr& from, const NotePtr& to, bool rename, Handler handler)
{
    auto answer = [handler] {
        if (handler)
            handler(Error());
    };
    onQueue(
        [self = shared_from_this(), from, to, rename, answer] {
            const QString source = self->fileURLForKey(from->key(), from->storage());
            const QString destination = self->fileURLForKey(to->key(), to->storage());
            // A folder left alone keeps what it holds; the other side's document stays too.
            if (source.isEmpty() || destination.isEmpty())
                return answer();
            if (!self->holdsAnotherText(from, source) && self->moveFile(source, destination).isNull()) {
                self->links_.moveCloudLink(from->key(), from->storage(), to->key(), to->storage());
                self->moveHistoryFile(source, destination);
                // The document holds a text the note held: without its history, it would pass
                // for another computer's edit of the note (kept as a fork at its deletion).
                NoteHistory::copy(from->key(), from->storage(), to->key(), to->storage());
                if (!rename)
                    self->dateMovedDocument(to, destination);
                return answer();
            }
            // Delete and save afresh; a failed save here only shows in the log.
            self->deleteNow(from);
            const std::optional<FileTime> date = self->commitNow(to, nullptr);
            if (rename && date)
                to->setUpdatedOn(date->seconds);
            answer();
        },
        answer);
}

void FolderAppleCloud::renameNote(const NotePtr& from, const NotePtr& to, Handler handler)
{
    relocate(from, to, true, std::move(handler));
}

void FolderAppleCloud::moveNote(const NotePtr& from, const NotePtr& to, Handler handler)
{
    relocate(from, to, false, std::move(handler));
}

void FolderAppleCloud::deleteNote(const NotePtr& note, Handler handler)
{
    auto answer = [handler](const Error& error) {
        if (handler)
            handler(error);
    };
    onQueue([self = shared_from_this(), note, answer] { answer(self->deleteNow(note)); },
            [answer] { answer(Error()); });
}

void FolderAppleCloud::wait(std::function<void()> block)
{
    queue_->async([self = shared_from_this(), block = std::move(block)] {
        NoteServices* const services = Note::services();
        if (!services)
            return self->ckCloud_->wait(block);
        services->fileQueue()->async([self, block] { self->ckCloud_->wait(block); });
    });
}
