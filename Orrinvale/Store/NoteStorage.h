#pragma once

#include "NoteStorageListener.h"

#include <QList>

#include <mutex>

// Hands each note event to every listener in registration order, synchronously
// on the sender's thread. A delivery walks the list as it stood when the event
// began, so listeners may come and go meanwhile, from any thread.
class NoteStorage : public NoteStorageListener {
public:
    // Appends; a listener added twice hears every event twice.
    void addNoteStorageListener(const NoteStorageListenerPtr& listener);
    // Removes every entry of the listener.
    void removeNoteStorageListener(const NoteStorageListener* listener);

    QList<NoteStorageListenerPtr> listeners() const;
    void setListeners(const QList<NoteStorageListenerPtr>& listeners);

    void noteDidUpdateFromRemoteServer(const NotePtr& note) override;
    void noteDidDeleteFromRemoteServer(const NotePtr& note) override;
    void noteDidAddToStorage(const NotePtr& note, int storage, const QString& tag) override;
    void noteDidDeleteFromStorage(const NotePtr& note, int storage, const QString& tag) override;
    void noteDidMoveTo(const NotePtr& before, const NotePtr& after) override;
    void noteWillMoveTo(const NotePtr& before, const NotePtr& after) override;
    void noteTagDidDeleteFromStorage(const QString& name, int tag) override;
    void noteTagDidAddToStorage(const QString& name, int tag) override;

private:
    template <typename Call>
    void deliver(const Call& call) const;

    mutable std::mutex mutex_;
    QList<NoteStorageListenerPtr> listeners_;
};
