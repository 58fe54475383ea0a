#pragma once

#include "drive/FolderQuery.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>

class Core;

// Takes in what other programs do to the note folders. A text file added or
// changed outside is indexed (so its tags reach the sidebar) and reported as
// a remote update, so an open note reloads, or forks when it has unsaved
// edits, as for a sync; a removed one leaves the index and is reported as a
// remote delete. The store's own writes leave index markers that match their
// files, so they are passed over. Call it on the main thread.
class NoteFolderWatch : public std::enable_shared_from_this<NoteFolderWatch> {
public:
    static std::shared_ptr<NoteFolderWatch> create(Core& core);
    ~NoteFolderWatch();
    NoteFolderWatch(const NoteFolderWatch&) = delete;
    NoteFolderWatch& operator=(const NoteFolderWatch&) = delete;

    // False when the documents folder is missing.
    bool start();
    void stop();

private:
    explicit NoteFolderWatch(Core& core);
    void folderDidChange(bool gathering);
    // File queue.
    void takeIn(const QString& key, int storage, bool added);
    void takeOut(const QString& key, int storage);

    Core& core_;
    std::shared_ptr<FolderQuery> query_;
    // The notes' text files at the last listing, with their dates.
    QHash<QString, std::optional<FileTime>> listed_;
};
