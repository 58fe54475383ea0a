#pragma once

#include "Store/ListItem.h"
#include "Store/NoteStorageListener.h"

#include <QList>
#include <QStringList>

#include <cstdint>
#include <mutex>
#include <optional>

// The display spellings of the hashtags and mentions, read from their folders once and again only
// after a tag event, so that rating them on each key press reads no file. Any thread.
class TagNameCache : public NoteStorageListener {
public:
    // The tags of the kind (4 or 5) whose "#" or "@" name rates above 0 against the query, best first,
    // as tag entries.
    QList<ListItemPtr> search(const QString& query, int kind);

    void noteTagDidDeleteFromStorage(const QString&, int kind) override { invalidate(kind); }
    void noteTagDidAddToStorage(const QString&, int kind) override { invalidate(kind); }
    void noteDidUpdateFromRemoteServer(const NotePtr&) override {}
    void noteDidDeleteFromRemoteServer(const NotePtr&) override {}
    void noteDidAddToStorage(const NotePtr&, int, const QString&) override {}
    void noteDidDeleteFromStorage(const NotePtr&, int, const QString&) override {}
    void noteDidMoveTo(const NotePtr&, const NotePtr&) override {}
    void noteWillMoveTo(const NotePtr&, const NotePtr&) override {}

private:
    QStringList names(int kind);
    void invalidate(int kind);

    std::mutex mutex_;
    std::optional<QStringList> names_[2];
    // Bumped by every event: a read that an event overtook is not kept.
    uint64_t generation_[2] = {};
};
