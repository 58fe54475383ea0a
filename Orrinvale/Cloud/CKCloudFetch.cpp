#include "StoreCKCloud.h"

#include "NoteRecord.h"
#include "RecordIntake.h"
#include "SyncConflict.h"

#include "Store/NoteServices.h"

#include "Log.h"
#include "RecordStoreError.h"
#include "UserDefaults.h"
#include "files/FileDates.h"

#include <QDir>
#include <QRandomGenerator>

#include <algorithm>
#include <utility>

namespace {

const QString FetchKey = QStringLiteral("ckfetch");
const QString SkipKey = QStringLiteral("ckskip");
constexpr int64_t Week = 604800;
// Records saved just before the last fetch started may have been committed
// after its query read: the next window reaches back this far.
constexpr int64_t WindowOverlap = 300;
constexpr qsizetype FullFetchBatch = 100;
constexpr int64_t SkipLimit = 200;
constexpr uint32_t ChanceRange = 50;
constexpr uint32_t PruneBelow = 2;

const DesiredKeys QueryKeys = QStringList{NoteRecord::CommitDateKey, NoteRecord::VersionKey, NoteRecord::FileSizeKey,
                                          NoteRecord::StateKey, NoteRecord::HistoryKey,
                                          NoteRecord::FileNameKey};

QString logDate(const QDateTime& date)
{
    return date.toUTC().toString(Qt::ISODateWithMs);
}

void answer(const CKCloud::Completion& block, bool ok)
{
    if (block)
        block(ok);
}

} // namespace

struct StoreCKCloud::FetchRun {
    const char* word; // "fetch", "bgfetch": how its messages read
    std::shared_ptr<Database> db;
    QDateTime start; // the store's time
    Query query;
    QList<Record> live;
    QList<Record> tombstones;
    int64_t sorted = 0; // records the two lists held when the query completed
    Error error; // the last failure
    std::function<void(bool ok, int64_t sorted, const Error& error)> done;
    LinkFiles links{LinkFiles::Owner::CKCloud}; // of the store the run asks

    // The first arbitration, on the query's thread: a record known here or
    // refused never costs a full fetch.
    void sort(const Record& record)
    {
        const auto name = RecordIntake::admit(record, word);
        if (!name || RecordIntake::resisted(record, *name, word))
            return;
        switch (NoteRecord::change(record)) {
        case NoteRecord::Change::Write:
            live.append(record);
            break;
        case NoteRecord::Change::RefusedEmpty:
            LogInfo("ckcloud:%1 update error (file size <= 0) %2", word, name->key);
            break;
        case NoteRecord::Change::Delete:
            tombstones.append(record);
            break;
        case NoteRecord::Change::RefusedDeleteWithText:
            LogInfo("ckcloud:%1 purge error (fileSize > 0) %2", word, name->key);
            break;
        case NoteRecord::Change::UnknownState:
            break;
        }
    }
};

// --- Fetch

void StoreCKCloud::fetchStorage(Completion block)
{
    if (!quickCloudCheck())
        return answer(block, true);
    int idle = 0;
    if (!fetchState_.compare_exchange_strong(idle, 1))
        return answer(block, false);
    startFetch("fetch", [this, block = std::move(block)](bool ok, int64_t, const Error&) {
        fetchState_ = 0;
        answer(block, ok);
    });
}

void StoreCKCloud::backgroundFetchStorage(CountBlock block)
{
    const auto report = [block = std::move(block)](bool, int64_t sorted, const Error& error) {
        if (block)
            block(sorted, error);
    };
    if (!quickCloudCheck())
        return report(true, 0, Error());
    startFetch("bgfetch", report);
}

void StoreCKCloud::startFetch(const char* word, std::function<void(bool ok, int64_t sorted, const Error& error)> done)
{
    inFlight_->enter();
    queue_->async([this, word, done = std::move(done)] {
        auto run = std::make_shared<FetchRun>();
        run->word = word;
        run->done = done;
        Error error;
        run->db = database(&error);
        run->links = links_;
        if (!run->db) {
            LogError("ckcloud:%1 error %2", word, error.localizedDescription());
            run->error = error;
            return finishFetch(run, false);
        }
        run->start = run->db->serverTime();
        const double previous = configuration_.defaults->doubleForKey(FetchKey);
        const QDateTime windowStart =
            previous == 0 ? run->start.addSecs(-Week)
                          : QDateTime::fromMSecsSinceEpoch(qint64(previous * 1000), Qt::UTC).addSecs(-WindowOverlap);
        LogInfo("ckcloud:%1 date %2", word, logDate(windowStart));
        run->query = Query { NoteRecord::RecordType,
            Predicate::where(Predicate::modificationDateKey(), Predicate::Comparison::GreaterOrEqual, windowStart) };
        queryChanges(run, std::nullopt);
    });
}

Error StoreCKCloud::lastFetchFailure() const
{
    std::lock_guard lock(failureMutex_);
    return lastFetchFailure_;
}

void StoreCKCloud::queryChanges(const std::shared_ptr<FetchRun>& run, const std::optional<QueryCursor>& cursor)
{
    const auto fetched = [run](const Record& record) { run->sort(record); };
    const auto completed = [this, run](std::optional<QueryCursor> next, QDateTime, Error error) {
        if (!error.isNull()) {
            LogError("ckcloud:%1 query error %2", run->word, error.localizedDescription());
            run->error = error;
            return finishFetch(run, false);
        }
        if (next)
            return queryChanges(run, next);
        run->sorted = run->live.size() + run->tombstones.size();
        queue_->async([this, run] { fetchNextLive(run); });
    };
    const int limit = std::max(configuration_.fetchPageSize, 1);
    if (cursor)
        run->db->continueQuery(*cursor, QueryKeys, limit, fetched, completed);
    else
        run->db->addQueryOperation(run->query, QueryKeys, limit, fetched, completed);
}

void StoreCKCloud::fetchNextLive(const std::shared_ptr<FetchRun>& run)
{
    if (run->live.isEmpty()) {
        auto tombstones = std::make_shared<QList<Record>>();
        while (!run->tombstones.isEmpty())
            tombstones->append(run->tombstones.takeLast());
        return applyInTurn(tombstones, run->links, [this, run] { finishFetch(run, true); });
    }
    // The query gave no text: the last records first, in full, a batch at a time.
    auto batch = std::make_shared<QList<Record>>();
    QList<RecordID> ids;
    while (!run->live.isEmpty() && batch->size() < FullFetchBatch) {
        batch->append(run->live.takeLast());
        ids.append(batch->last().recordID());
    }
    fetchInFull(run, ids, [this, run, batch](const QList<Record>& full) {
        QHash<RecordID, const Record*> byID;
        for (const Record& record : full)
            byID.insert(record.recordID(), &record);
        auto ready = std::make_shared<QList<Record>>();
        for (Record& record : *batch) {
            const Record* const found = byID.value(record.recordID());
            if (!found)
                continue; // gone meanwhile, or the fetch failed
            for (const QString& key : {NoteRecord::TextKey, NoteRecord::CreatedDateKey}) {
                if (const auto value = found->value(key))
                    record.setValue(key, *value);
            }
            ready->append(std::move(record));
        }
        applyInTurn(ready, run->links, [this, run] { fetchNextLive(run); });
    });
}

void StoreCKCloud::fetchInFull(const std::shared_ptr<FetchRun>& run, const QList<RecordID>& ids,
                               std::function<void(const QList<Record>& full)> then)
{
    run->db->fetchRecords(ids, [this, run, ids, then](QList<Record> full, Error error) {
        // One record that cannot be read fails its whole batch: the halves are
        // asked again, so it costs only itself.
        if (!error.isNull() && error.code != RecordStoreError::PartialFailure && ids.size() > 1) {
            const qsizetype half = ids.size() / 2;
            return fetchInFull(run, ids.mid(0, half), [this, run, rest = ids.mid(half), then](const QList<Record>& first) {
                fetchInFull(run, rest, [first, then](const QList<Record>& second) { then(first + second); });
            });
        }
        if (!error.isNull()) {
            LogError("ckcloud:fetch:worker error %1", error.localizedDescription());
            run->error = error;
        }
        then(full);
    });
}

void StoreCKCloud::applyInTurn(Records records, const LinkFiles& links, std::function<void()> then)
{
    queue_->async([this, records = std::move(records), links, then = std::move(then)] {
        if (records->isEmpty())
            return then();
        const Record record = records->takeFirst();
        applyRecord(record, links, [this, records, links, then] { applyInTurn(records, links, then); });
    });
}

void StoreCKCloud::finishFetch(const std::shared_ptr<FetchRun>& run, bool ok)
{
    // A run of a store given up meanwhile leaves the new store's fetch date alone.
    const bool complete = ok && run->error.isNull() && run->links.isCurrentAccount();
    if (complete) {
        configuration_.defaults->setDouble(double(run->start.toMSecsSinceEpoch()) / 1000.0, FetchKey);
        configuration_.defaults->synchronize();
    }
    if (ok)
        LogInfo("ckcloud:%1 done!", run->word);
    {
        std::lock_guard lock(failureMutex_);
        lastFetchFailure_ = run->error;
    }
    run->done(ok, run->sorted, run->error);
    if (complete)
        queue_->async([this] { sendUnexchangedNotes(); });
    inFlight_->leave();
}

// --- Sending what changed here while no service took it

// One pass over the note folders: the names still to look at, and the notes
// found changed here that still wait for their batch.
struct StoreCKCloud::UnexchangedRun {
    QList<std::pair<QString, int>> names;
    qsizetype next = 0;
    QList<std::pair<QString, int>> unsent;
    bool sending = false;
    // Counts the whole pass among the writes in flight, so that a wait
    // started meanwhile does not end between two batches.
    Completion done;
};

void StoreCKCloud::sendUnexchangedNotes()
{
    NoteServices* const services = Note::services();
    if (!services)
        return;
    carryOfflineRemovals(*services);
    auto run = std::make_shared<UnexchangedRun>();
    services->fileQueue()->sync([&] {
        for (const int storage : {NoteStorageInbox, NoteStorageArchive}) {
            const QDir folder(Note::documentDirectoryForStorage(storage));
            for (const QString& key : folder.entryList(QDir::Files | QDir::Hidden, QDir::NoSort))
                run->names.append({key, storage});
        }
    });
    run->done = countedWrite({});
    lookForUnexchanged(run);
}

void StoreCKCloud::carryOfflineRemovals(NoteServices& services)
{
    QList<std::pair<QString, int>> gone;
    services.fileQueue()->sync([&] { gone = SyncConflict::notesGoneSinceExchange(NoteServiceCloudKit); });
    for (const auto& [key, storage] : gone) {
        if (LinkFiles::modificationDate(key, NoteServiceCloudKit, storage))
            deleteRecord(std::make_shared<Note>(key, storage), true, {});
    }
}

// A batch of names at a time: the file queue is held for one batch only, so
// that the user's saves do not wait for the whole folder, and each batch
// found goes out while the next is looked at.
void StoreCKCloud::lookForUnexchanged(const std::shared_ptr<UnexchangedRun>& run)
{
    const qsizetype end = std::min(run->names.size(), run->next + qsizetype(configuration_.sendBatchSize));
    if (NoteServices* const services = Note::services()) {
        services->fileQueue()->sync([&] {
            for (; run->next < end; ++run->next) {
                const auto& [key, storage] = run->names[run->next];
                SyncConflict::repairCutCommit(key, storage);
                if (!key.startsWith(QLatin1Char('.')) && Note::isReadableFileName(key)
                    && SyncConflict::hasUnsentChanges(key, storage, NoteServiceCloudKit))
                    run->unsent.append({key, storage});
            }
        });
    }
    run->next = end;
    if (run->next < run->names.size())
        queue_->async([this, run] { lookForUnexchanged(run); });
    if (!run->sending)
        sendInTurn(run);
}

void StoreCKCloud::sendInTurn(const std::shared_ptr<UnexchangedRun>& run)
{
    QList<NotePtr> batch;
    const auto readBatch = [&] {
        while (!run->unsent.isEmpty() && batch.size() < configuration_.sendBatchSize) {
            const auto [key, storage] = run->unsent.takeFirst();
            auto note = std::make_shared<Note>(key, storage);
            note->restoreMeta();
            if (!note->restoreText())
                continue;
            // The file's date is what the links are compared with.
            note->setUpdatedOn(FileDates::modificationDate(Note::documentFileForKey(key, storage)));
            batch.append(std::move(note));
        }
    };
    // Text and date are read on the file queue, so that no save comes between
    // them: an older text sent with a newer save's date would have every link
    // take the newer text as exchanged.
    if (NoteServices* const services = Note::services())
        services->fileQueue()->sync(readBatch);
    else
        run->unsent.clear();
    run->sending = !batch.isEmpty();
    if (run->sending)
        sendMany(batch, [this, run] { queue_->async([this, run] { sendInTurn(run); }); });
    else if (run->next >= run->names.size() && run->done)
        std::exchange(run->done, {})(true);
}

// --- Every record

void StoreCKCloud::queryWithCompletionHandler(QueryBlock block)
{
    queue_->async([this, block = std::move(block)] {
        const auto fail = [block](const Error& error) {
            LogError("ckcloud:query error %1", error.localizedDescription());
            block(std::nullopt, error);
        };
        Error error;
        const auto db = database(&error);
        if (!db)
            return fail(error);
        auto records = std::make_shared<QList<Record>>();
        db->addQueryOperation(
            Query{NoteRecord::RecordType, Predicate::alwaysTrue()}, QStringList{NoteRecord::CommitDateKey}, 0,
            [records](const Record& record) { records->append(record); },
            [records, block, fail](std::optional<QueryCursor>, QDateTime, Error error) {
                if (!error.isNull())
                    return fail(error);
                block(*records, Error());
            });
    });
}

// --- Pruning

void StoreCKCloud::optimizeStorageIfLucky()
{
    const uint32_t draw = (configuration_.random ? configuration_.random() : QRandomGenerator::system()->generate())
                          % ChanceRange;
    UserDefaults& defaults = *configuration_.defaults;
    const int64_t skipped = defaults.integerForKey(SkipKey);
    if (skipped <= SkipLimit && draw >= PruneBelow) {
        defaults.setInteger(skipped + 1, SkipKey);
        defaults.synchronize();
        LogInfo("ckcloud:optimizeStorage skip:%1 (%2/%3)", qint64(draw), qint64(skipped + 1), qint64(SkipLimit));
        return;
    }
    defaults.setInteger(0, SkipKey);
    defaults.synchronize();
    LogInfo("ckcloud:optimizeStorage.. (%1)", qint64(draw));
    optimizeStorage({});
}

void StoreCKCloud::optimizeStorage(PruneBlock block)
{
    const auto report = [block](int64_t deleted, const Error& error) {
        if (block)
            block(deleted, error);
    };
    if (!quickCloudCheck())
        return report(0, Error());
    queue_->async([this, report] {
        Error error;
        const auto db = database(&error);
        if (!db)
            return report(0, error);
        const QDateTime cutoff = db->serverTime().addSecs(-Week).toLocalTime().date().startOfDay();
        LogInfo("ckcloud:optimizeStorage date %1", logDate(cutoff));
        const Query query{NoteRecord::RecordType, Predicate::where(Predicate::modificationDateKey(),
                                                                   Predicate::Comparison::Less, cutoff.toUTC())};
        auto ids = std::make_shared<QList<RecordID>>();
        db->addQueryOperation(
            query, QStringList(), 0, [ids](const Record& record) { ids->append(record.recordID()); },
            [db, ids, report](std::optional<QueryCursor>, QDateTime, Error error) {
                if (!error.isNull()) {
                    LogError("ckcloud:optimizeStorage query error %1", error.localizedDescription());
                    return report(0, error);
                }
                if (ids->isEmpty()) {
                    LogInfo("ckcloud:optimizeStorage ok (already clean)");
                    return report(0, Error());
                }
                db->modifyRecords({}, *ids, [ids, report](QList<Record>, QList<RecordID>, Error error) {
                    if (!error.isNull()) {
                        LogError("ckcloud:optimizeStorage delete error %1", error.localizedDescription());
                        return report(0, error);
                    }
                    LogInfo("ckcloud:optimizeStorage delete ok (%1)", qint64(ids->size()));
                    report(ids->size(), Error());
                });
            });
    });
}
