#pragma once

#include "HeldWrites.h"
#include "LinkFiles.h"

#include "Store/CKCloud.h"

#include "Container.h"
#include "Dispatch.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <mutex>

#include <QHash>

class Database;
class NoteServices;
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
        // Draws the clean-up chance; empty: the system's random generator.
        std::function<uint32_t()> random;
        // Records per page of the fetch's query.
        int fetchPageSize = 400;
        // Notes per record-store transaction when many wait to be sent.
        int sendBatchSize = 200;
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
    const QString& containerIdentifier() const { return configuration_.containerIdentifier; }
    // This relay's container in another store; null with the error when it cannot be used, which
    // is kept as the last refusal until a store is taken.
    std::shared_ptr<Container> openContainer(const BackendConfig& backend, Error* error) const;
    // Work queued from now on goes to that container (backend: where it came from).
    void setContainer(std::shared_ptr<Container> container, BackendConfig backend);
    // Writes asked for from now on wait for the next setContainer and go to
    // that container: none reaches the store being given up.
    void holdWrites();

    // Refused when the record already holds this change or a later one, or a
    // change this computer never took in.
    void saveNote(const NotePtr& note, Completion block) override;
    // The old record becomes a tombstone, the new one holds the text.
    void moveNote(const NotePtr& from, const NotePtr& to, Completion block) override;
    void deleteNote(const NotePtr& note, Completion block) override;
    void notifyDeleteNote(const NotePtr& note, const FileTime& date, Completion block) override;
    // Also waits for every write started before it.
    void wait(std::function<void()> block) override;

    // Fetches on the store's modification dates, from 300 s before the
    // store's time at the last good fetch's start (a week back at first).
    // Any failure keeps that start; only a failed query answers false. A
    // good fetch then sends the notes changed here that no service took.
    void fetchStorage(Completion block) override;
    // The same fetch without the guard against one already running; the
    // block (may be empty) gets the number of records sorted for applying and
    // the last failure. With the cloud off: 0 and no error.
    using CountBlock = std::function<void(int64_t sorted, const Error& error)>;
    void backgroundFetchStorage(CountBlock block);
    // Every note record with its commit date alone, or nothing and the error.
    using QueryBlock = std::function<void(std::optional<QList<Record>> records, const Error& error)>;
    void queryWithCompletionHandler(QueryBlock block);
    // Why the last fetch failed (the store could not be opened or asked); null after a good one.
    Error lastFetchFailure() const;
    // Where records go: the location of the store in use; empty until one was opened.
    QString storeInUse() const;
    // The last store asked for that could not be used, with the reason; empty once another is taken.
    struct Refusal {
        QString location;
        Error error;
    };
    std::optional<Refusal> lastRefusal() const;
    void optimizeStorageIfLucky() override;
    // Deletes every record last saved before the local start of the day a
    // week ago; the block (may be empty) gets the number deleted and the error.
    using PruneBlock = std::function<void(int64_t deleted, const Error& error)>;
    void optimizeStorage(PruneBlock block);
    void subscribeUsingBlock(ErrorBlock block) override;
    // Waits for every deletion; the block gets the first failure.
    void unsubscribeUsingBlock(ErrorBlock block) override;
    bool handleRemoteNotification(const QVariantMap& userInfo) override;
    // Fetches the record in full, then applies it. The block may be empty.
    void _reloadNoteWithRecordID(const RecordID& id, std::function<void()> block);
    // Writes the record's change into the local note unless a link shows it
    // known here; local changes no service has seen are forked first. The
    // block (may be empty) is called once, when done or refused.
    void _reloadNoteWithRecord(const Record& record, std::function<void()> block);

private:
    struct FetchRun;
    using Records = std::shared_ptr<QList<Record>>;
    void startFetch(const char* word, std::function<void(bool ok, int64_t sorted, const Error& error)> done);
    void queryChanges(const std::shared_ptr<FetchRun>& run, const std::optional<QueryCursor>& cursor);
    void fetchNextLive(const std::shared_ptr<FetchRun>& run);
    void fetchInFull(const std::shared_ptr<FetchRun>& run, const QList<RecordID>& ids,
                     std::function<void(const QList<Record>& full)> then);
    void applyInTurn(Records records, const LinkFiles& links, std::function<void()> then);
    // Applies the record with links of the account it came from: nothing once that account was given up.
    void applyRecord(const Record& record, const LinkFiles& links, std::function<void()> block);
    void finishFetch(const std::shared_ptr<FetchRun>& run, bool ok);
    // A tombstone for the note, now; a deletion carried (made while the store was off) only while
    // this computer's links hold the record (RecordIntake::exchangedHere), else the record's
    // change is taken in instead.
    void deleteRecord(const NotePtr& note, bool carried, Completion block);
    // Queue only: records of notes moved or deleted here while the store was off become tombstones.
    void carryOfflineRemovals(NoteServices& services);
    // Queue only: saves, a batch at a time, each readable-named note changed here since its last exchange.
    struct UnexchangedRun;
    void sendUnexchangedNotes();
    void lookForUnexchanged(const std::shared_ptr<UnexchangedRun>& run);
    void sendInTurn(const std::shared_ptr<UnexchangedRun>& run);
    // Queue only: saves many notes' records in one transaction; then runs once every note was tried.
    void sendMany(const QList<NotePtr>& notes, std::function<void()> then);
    // Saves the notes one after another through saveNote; done(true) after the last.
    void sendAlone(std::shared_ptr<QList<NotePtr>> notes, Completion done);

    using Fetched = std::function<void(const std::shared_ptr<Database>& db, std::optional<Record> record,
                                       const Error& error)>;

    // Queue only: the database, opened on first use; null with the error while it cannot be.
    std::shared_ptr<Database> database(Error* error);
    // Another store's links would block uploads to this one: they go first.
    void adoptStore(const QString& containerID);
    // Queue only.
    void install(std::shared_ptr<Container> container);
    // The block, counted among the writes in flight until it has run.
    Completion countedWrite(Completion block);
    // Queue only: fetches the record; the block runs on the database's queue.
    void fetch(const RecordID& id, Fetched fetched);
    // Any thread. Writes are numbered as they are asked for: a save asked for
    // before the deletion (or move away) of its record is dropped, however
    // long the store kept it waiting.
    uint64_t askWrite(const QString& deletedName = QString());
    bool deletedSince(const QString& recordName, uint64_t asked) const;

    Configuration configuration_;
    DispatchQueuePtr queue_;
    LinkFiles links_{LinkFiles::Owner::CKCloud};
    std::shared_ptr<Container> container_;
    std::shared_ptr<Database> database_;
    std::atomic<int> fetchState_{0};
    // Guards what the status shows: the last fetch failure, the store in use and the last refusal.
    mutable std::mutex failureMutex_;
    Error lastFetchFailure_;
    QString storeInUse_;
    mutable std::optional<Refusal> lastRefusal_;
    std::shared_ptr<DispatchGroup> inFlight_ = DispatchGroup::create();
    mutable std::mutex askedMutex_;
    uint64_t writesAsked_ = 0;
    QHash<QString, uint64_t> deletionsAsked_;
    // Not in flight, so waiting for the writes in flight does not wait for the swap.
    HeldWrites held_;
};
