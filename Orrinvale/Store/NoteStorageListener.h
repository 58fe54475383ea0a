#pragma once

#include "Note.h"

#include <QString>

// Receives the note events that Core relays. Events arrive on the sender's
// thread (the file queue, the main queue or a cloud queue); a listener moves
// its own work to the main queue.
class NoteStorageListener {
public:
    virtual ~NoteStorageListener() = default;

    // A cloud service wrote a changed note into the local files.
    virtual void noteDidUpdateFromRemoteServer(const NotePtr& note) = 0;
    // A cloud service removed a note locally because it was deleted elsewhere.
    virtual void noteDidDeleteFromRemoteServer(const NotePtr& note) = 0;
    // A storage (1, 2) with a null tag: the text file was created; a tag kind
    // (4, 5) with a name: the note now carries that tag.
    virtual void noteDidAddToStorage(const NotePtr& note, int storage, const QString& tag) = 0;
    // The same, for a note that left the storage or lost the tag.
    virtual void noteDidDeleteFromStorage(const NotePtr& note, int storage, const QString& tag) = 0;
    // A move between storages or a rename is done; after has the new storage and key.
    virtual void noteDidMoveTo(const NotePtr& before, const NotePtr& after) = 0;
    // The same move, announced before the files change.
    virtual void noteWillMoveTo(const NotePtr& before, const NotePtr& after) = 0;
    // The last note of that kind lost the tag; its folder is gone.
    virtual void noteTagDidDeleteFromStorage(const QString& name, int tag) = 0;
    // A tag no note carried before now has a folder.
    virtual void noteTagDidAddToStorage(const QString& name, int tag) = 0;
};

using NoteStorageListenerPtr = std::shared_ptr<NoteStorageListener>;
