#pragma once

#include "LinkFiles.h"

#include "Store/CKCloud.h"

#include "Container.h"
#include "Dispatch.h"

#include <QString>

#include <functional>
#include <memory>

class Database;
class Record;
class UserDefaults;

// The record-store side of cloud sync: each note's change goes into its
// record of the private database and is stamped in the note's CloudKit and
// Trash link files. Work starts on the ".ckcloud" queue; blocks are called on
// the database's queue (on the caller's thread when a write stops before it
// reaches the store).
class StoreCKCloud : public CKCloud {
public:
    struct Configuration {
        QString containerIdentifier; // empty: "iCloud." + the product identifier
        BackendConfig backend;       // empty: the defaults' connection, else SQLite
        UserDefaults* defaults = nullptr; // the standard defaults
        // Wraps the database once opened (a test's fault injector).
        std::function<std::shared_ptr<Database>(std::shared_ptr<Database>)> wrapDatabase;
    };

    // The store whose records the link files describe.
    static inline const char* const StoreAccountKey = "cloud/storeAccount";

    StoreCKCloud();
    explicit StoreCKCloud(Configuration configuration);
    ~StoreCKCloud() override;
    StoreCKCloud(const StoreCKCloud&) = delete;
    StoreCKCloud& operator=(const StoreCKCloud&) = delete;

    // The iCloud setting switches the record store as well.
    bool quickCloudCheck() const;
    const DispatchQueuePtr& queue() const { return queue_; }

    // Refused when the record already holds this change or a later one, or a
    // change this computer never took in.
    void saveNote(const NotePtr& note, Completion block) override;
    // The old record becomes a tombstone, the new one holds the text.
    void moveNote(const NotePtr& from, const NotePtr& to, Completion block) override;
    void deleteNote(const NotePtr& note, Completion block) override;
    void notifyDeleteNote(const NotePtr& note, const FileTime& date, Completion block) override;
    void wait(std::function<void()> block) override;

private:
    using Fetched = std::function<void(const std::shared_ptr<Database>& db, std::optional<Record> record,
                                       const Error& error)>;

    // Queue only: the database, opened on first use; null with the error while it cannot be.
    std::shared_ptr<Database> database(Error* error);
    // Another store's links would block uploads to this one: they go first.
    void adoptStore(const QString& containerID);
    // Queue only: fetches the record; the block runs on the database's queue.
    void fetch(const RecordID& id, Fetched fetched);

    Configuration configuration_;
    DispatchQueuePtr queue_;
    LinkFiles links_{LinkFiles::Owner::CKCloud};
    std::shared_ptr<Container> container_;
    std::shared_ptr<Database> database_;
};
