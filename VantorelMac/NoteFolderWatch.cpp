#include "NoteFolderWatch.h"

#include "Core.h"
#include "Store/NoteIndexMarker.h"

#include "Log.h"

#include <QFileInfo>

#include <algorithm>

namespace {

constexpr int Storages[] = {NoteStorageInbox, NoteStorageArchive};

// The storage whose folder holds the path; 0 for anything else, hidden names included.
int storageOfPath(const QString& path)
{
    const QFileInfo info(path);
    if (info.fileName().startsWith(QLatin1Char('.')))
        return 0;
    for (const int storage : Storages) {
        if (info.path() == Note::documentDirectoryForStorage(storage))
            return storage;
    }
    return 0;
}

} // namespace

std::shared_ptr<NoteFolderWatch> NoteFolderWatch::create(Core& core)
{
    return std::shared_ptr<NoteFolderWatch>(new NoteFolderWatch(core));
}

NoteFolderWatch::NoteFolderWatch(Core& core) : core_(core) {}

NoteFolderWatch::~NoteFolderWatch()
{
    stop();
}

bool NoteFolderWatch::start()
{
    if (query_)
        return true;
    auto query = FolderQuery::create(core_.documentDirectory());
    std::weak_ptr<NoteFolderWatch> weak = weak_from_this();
    query->setDidFinishGathering([weak] {
        if (auto self = weak.lock())
            self->folderDidChange(true);
    });
    query->setDidUpdate([weak] {
        if (auto self = weak.lock())
            self->folderDidChange(false);
    });
    if (!query->start())
        return false;
    query_ = std::move(query);
    return true;
}

void NoteFolderWatch::stop()
{
    if (query_)
        query_->stop();
    query_.reset();
}

void NoteFolderWatch::folderDidChange(bool gathering)
{
    if (!query_)
        return;
    QHash<QString, std::optional<FileTime>> listed;
    for (const DriveItem& item : query_->results()) {
        if (storageOfPath(item.path) != 0)
            listed.insert(item.path, item.changeDate);
    }
    // The first listing is what the start-up indexing covers.
    if (!gathering) {
        const auto self = shared_from_this();
        for (auto it = listed.cbegin(); it != listed.cend(); ++it) {
            const auto before = listed_.constFind(it.key());
            const bool added = before == listed_.cend();
            if (!added && *before == it.value())
                continue;
            core_.fileQueue()->async([self, path = it.key(), added] {
                self->takeIn(QFileInfo(path).fileName(), storageOfPath(path), added);
            });
        }
        for (auto it = listed_.cbegin(); it != listed_.cend(); ++it) {
            if (!listed.contains(it.key()))
                core_.fileQueue()->async([self, path = it.key()] {
                    self->takeOut(QFileInfo(path).fileName(), storageOfPath(path));
                });
        }
    }
    listed_ = std::move(listed);
}

void NoteFolderWatch::takeIn(const QString& key, int storage, bool added)
{
    const NoteIndexMarker::Stamp stamp = NoteIndexMarker::stampOf(Note::documentFileForKey(key, storage));
    // The store's own commits mark what they wrote; a stale or missing marker is someone else's.
    if (!stamp.regular || stamp == NoteIndexMarker::stampOf(Note::indexFileForKey(key, storage)))
        return;
    auto note = std::make_shared<Note>(key, storage);
    note->restoreMeta();
    if (!note->restoreTextOrHead())
        return;
    LogInfo("watch:outside change %1/%2", Note::resourceNameForStorage(storage), key);
    note->setUpdatedOn(std::max(note->updatedOn(), stamp.recordSeconds()));
    note->writeMetaFile();
    note->writeHeaderFile();
    note->writeTagLinkAndIndexFiles(true);
    if (added)
        core_.noteDidAddToStorage(note, storage, QString());
    core_.noteDidUpdateFromRemoteServer(note);
}

void NoteFolderWatch::takeOut(const QString& key, int storage)
{
    const QString marker = Note::indexFileForKey(key, storage);
    // Gone with its marker still there: no move, rename or trash of ours took it.
    if (QFileInfo(Note::documentFileForKey(key, storage)).exists() || !QFileInfo::exists(marker))
        return;
    LogInfo("watch:outside removal %1/%2", Note::resourceNameForStorage(storage), key);
    auto note = std::make_shared<Note>(key, storage);
    note->removeFromIndex();
    core_.noteDidDeleteFromStorage(note, storage, QString());
    core_.noteDidDeleteFromRemoteServer(note);
}
