#include "NoteStorage.h"

void NoteStorage::addNoteStorageListener(const NoteStorageListenerPtr& listener)
{
    if (!listener)
        return;
    std::lock_guard lock(mutex_);
    listeners_.append(listener);
}

void NoteStorage::removeNoteStorageListener(const NoteStorageListener* listener)
{
    std::lock_guard lock(mutex_);
    listeners_.removeIf([listener](const NoteStorageListenerPtr& entry) { return entry.get() == listener; });
}

QList<NoteStorageListenerPtr> NoteStorage::listeners() const
{
    std::lock_guard lock(mutex_);
    return listeners_;
}

void NoteStorage::setListeners(const QList<NoteStorageListenerPtr>& listeners)
{
    std::lock_guard lock(mutex_);
    listeners_ = listeners;
    listeners_.removeAll(nullptr);
}

template <typename Call>
void NoteStorage::deliver(const Call& call) const
{
    // The snapshot also keeps each listener alive until its call returns.
    const QList<NoteStorageListenerPtr> snapshot = listeners();
    for (const NoteStorageListenerPtr& listener : snapshot)
        call(*listener);
}

void NoteStorage::noteDidUpdateFromRemoteServer(const NotePtr& note)
{
    deliver([&](NoteStorageListener& l) { l.noteDidUpdateFromRemoteServer(note); });
}

void NoteStorage::noteDidDeleteFromRemoteServer(const NotePtr& note)
{
    deliver([&](NoteStorageListener& l) { l.noteDidDeleteFromRemoteServer(note); });
}

void NoteStorage::noteDidAddToStorage(const NotePtr& note, int storage, const QString& tag)
{
    deliver([&](NoteStorageListener& l) { l.noteDidAddToStorage(note, storage, tag); });
}

void NoteStorage::noteDidDeleteFromStorage(const NotePtr& note, int storage, const QString& tag)
{
    deliver([&](NoteStorageListener& l) { l.noteDidDeleteFromStorage(note, storage, tag); });
}

void NoteStorage::noteDidMoveTo(const NotePtr& before, const NotePtr& after)
{
    deliver([&](NoteStorageListener& l) { l.noteDidMoveTo(before, after); });
}

void NoteStorage::noteWillMoveTo(const NotePtr& before, const NotePtr& after)
{
    deliver([&](NoteStorageListener& l) { l.noteWillMoveTo(before, after); });
}

void NoteStorage::noteTagDidDeleteFromStorage(const QString& name, int tag)
{
    deliver([&](NoteStorageListener& l) { l.noteTagDidDeleteFromStorage(name, tag); });
}

void NoteStorage::noteTagDidAddToStorage(const QString& name, int tag)
{
    deliver([&](NoteStorageListener& l) { l.noteTagDidAddToStorage(name, tag); });
}
