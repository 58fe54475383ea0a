#include "StoreCKCloud.h"

#include "NoteHistory.h"
#include "NoteRecord.h"
#include "RecordIntake.h"
#include "SyncConflict.h"

#include "Store/NoteServices.h"

#include "Database.h"
#include "Folders.h"
#include "Log.h"
#include "RecordStoreError.h"
#include "UserDefaults.h"

#include <QDir>
#include <QHash>

namespace {

// What a write needs of a note, copied on the calling thread.
struct Target {
    QString key;
    int storage = 0;
    RecordID id;

    QString resourceName() const { return Note::resourceNameForStorage(storage); }
    const QString& recordName() const { return id.recordName; }
};

// Nothing for a placeholder or unsafe key or a storage without records.
std::optional<Target> targetOf(const NotePtr& note)
{
    const QString key = note->key();
    const int storage = note->storage();
    const QString name = NoteRecord::recordName(storage, key);
    if (key.isNull() || !Note::isReadableFileName(key) || name.isEmpty())
        return std::nullopt;
    return Target{key, storage, RecordID{name}};
}

bool isUnknownItem(const Error& error)
{
    return error.code == RecordStoreError::UnknownItem && error.domain == QLatin1String(RecordStoreError::Domain);
}

// A missing record is made afresh on a fetch; over a tombstone's save it
// means the record went meanwhile, which changes nothing.
bool failedBeyondMissing(const Error& error)
{
    return !error.isNull() && !isUnknownItem(error);
}

// The fetched record, or a new one of the note's name, dated created when given.
Record fetchedOrNew(std::optional<Record> record, const Target& target, const std::optional<FileTime>& created)
{
    Record made = record ? std::move(*record) : Record(NoteRecord::RecordType, target.id);
    if (!record && created)
        NoteRecord::setCreatedDate(made, *created);
    NoteRecord::setFileName(made, target.key);
    return made;
}

void answer(const CKCloud::Completion& block, bool ok)
{
    if (block)
        block(ok);
}

// The text of a live record; nothing for a tombstone or one that does not decode.
std::optional<QString> liveText(const Record& record)
{
    if (record.integer(NoteRecord::StateKey).value_or(NoteRecord::StateLive) != NoteRecord::StateLive)
        return std::nullopt;
    return NoteRecord::stringFromData(record.data(NoteRecord::TextKey).value_or(QByteArray()),
                                      record.integer(NoteRecord::VersionKey).value_or(0));
}

// A live record whose text differs from the note's and is none this
// computer held: another computer's change it never took in.
bool isUnseenChange(const Record& record, const QString& text, const Target& target)
{
    const auto theirs = liveText(record);
    return theirs && !theirs->isEmpty() && *theirs != text
           && !NoteHistory::load(target.key, target.storage).contains(NoteHistory::hashOf(*theirs));
}

// A note moved to a name another computer moved or deleted it from in the same
// second would be dated no later than that name's tombstone, and every computer
// that took the tombstone would hold the note back as the one that went: it is
// dated the second after.
FileTime datedAfterTombstone(const std::optional<Record>& record, const FileTime& date)
{
    if (!record || record->integer(NoteRecord::StateKey) != NoteRecord::StateDeleted)
        return date;
    const std::optional<FileTime> gone = NoteRecord::commitDate(*record);
    if (!gone || *gone < date)
        return date;
    return FileTime::fromWholeSeconds(NoteRecord::wholeSeconds(*gone) + 1);
}

// What a save of a note sends, copied on the calling thread.
struct Outgoing {
    Target target;
    QString text;
    QByteArray data;
    FileTime commitDate;
    FileTime createdDate;
};

Outgoing outgoingOf(const NotePtr& note, const Target& target)
{
    const QString text = note->text();
    return {target, text, NoteRecord::dataFromString(text), FileTime::fromWholeSeconds(note->updatedOn()),
            FileTime::fromWholeSeconds(note->createdOn())};
}

enum class Verdict { Send, Unseen, AsNew };

// A live record holding a text this computer held before the one its note
// holds now: that text was made over it (or over a later one), whatever the
// dates say. A note object whose text the note no longer holds proves nothing.
bool isMadeOver(const Record& record, const Outgoing& out)
{
    const auto theirs = liveText(record);
    if (!theirs || *theirs == out.text
        || !NoteHistory::load(out.target.key, out.target.storage).contains(NoteHistory::hashOf(*theirs)))
        return false;
    Note local(out.target.key, out.target.storage);
    return local.restoreText() && local.text() == out.text;
}

// Whether the note's text may go over the fetched record.
Verdict verdictOn(const std::optional<Record>& record, const Outgoing& out)
{
    if (record && isUnseenChange(*record, out.text, out.target))
        return Verdict::Unseen;
    if (record && NoteRecord::dateIsNewerOrEqualTo(NoteRecord::commitDate(*record), out.commitDate)
        && !isMadeOver(*record, out))
        return Verdict::AsNew;
    return Verdict::Send;
}

// The record holding the note's text: the fetched one, whose change tag makes
// the save fail if another client saved in between, or a new one. Nothing
// when the note holds another text here by now.
std::optional<Record> liveRecord(std::optional<Record> record, const Outgoing& out)
{
    const std::optional<QString> history = SyncConflict::sendingHeld(out.target.key, out.target.storage, out.text);
    if (!history) {
        LogInfo("ckcloud:save resist save %1/%2 (written over here)", out.target.resourceName(), out.target.key);
        return std::nullopt;
    }
    Record live = fetchedOrNew(std::move(record), out.target, out.createdDate);
    NoteRecord::setLive(live, out.data, out.commitDate);
    live.setValue(NoteRecord::HistoryKey, *history);
    return live;
}

void markSent(const LinkFiles& links, const Outgoing& out)
{
    links.write(out.target.key, NoteServiceCloudKit, out.target.storage, out.commitDate);
}

} // namespace

StoreCKCloud::StoreCKCloud() : StoreCKCloud(Configuration()) {}

StoreCKCloud::StoreCKCloud(Configuration configuration)
    : configuration_(std::move(configuration))
    , queue_(DispatchQueue::createSerial(Folders::queueLabel(QStringLiteral(".ckcloud"))))
{
    if (configuration_.containerIdentifier.isEmpty())
        configuration_.containerIdentifier = QStringLiteral("iCloud.") + Folders::productIdentifier();
    if (!configuration_.defaults)
        configuration_.defaults = &UserDefaults::standard();
}

StoreCKCloud::~StoreCKCloud()
{
    queue_->sync([] {});
}

bool StoreCKCloud::quickCloudCheck() const
{
    NoteServices* const services = Note::services();
    return services && services->enabledAppleCloud();
}

std::shared_ptr<Database> StoreCKCloud::database(Error* error)
{
    if (database_)
        return database_;
    auto container = Container::open(configuration_.containerIdentifier, configuration_.backend, error);
    if (!container)
        return nullptr;
    install(std::move(container));
    return database_;
}

void StoreCKCloud::install(std::shared_ptr<Container> container)
{
    adoptStore(container->containerID());
    container_ = std::move(container);
    database_ = container_->privateDatabase();
    if (configuration_.wrapDatabase)
        database_ = configuration_.wrapDatabase(database_);
    std::lock_guard lock(failureMutex_);
    storeInUse_ = container_->location();
}

std::shared_ptr<Container> StoreCKCloud::openContainer(const BackendConfig& backend, Error* error) const
{
    Error failure;
    std::shared_ptr<Container> container = Container::open(configuration_.containerIdentifier, backend, &failure);
    if (!container) {
        std::lock_guard lock(failureMutex_);
        lastRefusal_ = Refusal{backend.connection.isEmpty() ? backend.sqlitePath : backend.connection, failure};
    }
    setError(error, failure);
    return container;
}

QString StoreCKCloud::storeInUse() const
{
    std::lock_guard lock(failureMutex_);
    return storeInUse_;
}

std::optional<StoreCKCloud::Refusal> StoreCKCloud::lastRefusal() const
{
    std::lock_guard lock(failureMutex_);
    return lastRefusal_;
}

void StoreCKCloud::setContainer(std::shared_ptr<Container> container, BackendConfig backend)
{
    {
        // The status says where records go from now on, before the queue gets to the swap.
        std::lock_guard lock(failureMutex_);
        lastRefusal_.reset();
        storeInUse_ = container->location();
    }
    queue_->async([this, container = std::move(container), backend = std::move(backend)]() mutable {
        configuration_.backend = std::move(backend);
        install(std::move(container));
        held_.release();
    });
}

void StoreCKCloud::holdWrites()
{
    held_.hold();
}

void StoreCKCloud::adoptStore(const QString& containerID)
{
    UserDefaults& defaults = *configuration_.defaults;
    const QString key = QString::fromLatin1(StoreAccountKey);
    if (defaults.stringForKey(key) == containerID)
        return;
    LogInfo("ckcloud:store account %1", containerID);
    links_.changeAccount(NoteServiceCloudKit);
    defaults.removeObject(QStringLiteral("ckfetch"));
    defaults.removeObject(QStringLiteral("subscribed"));
    defaults.setString(containerID, key);
    defaults.synchronize();
}

void StoreCKCloud::fetch(const RecordID& id, Fetched fetched)
{
    Error error;
    const auto db = database(&error);
    if (!db) {
        fetched(nullptr, std::nullopt, error);
        return;
    }
    db->fetchRecord(id, [db, fetched = std::move(fetched)](std::optional<Record> record, Error error) {
        fetched(db, std::move(record), error);
    });
}

uint64_t StoreCKCloud::askWrite(const QString& deletedName)
{
    std::lock_guard lock(askedMutex_);
    ++writesAsked_;
    if (!deletedName.isEmpty())
        deletionsAsked_.insert(deletedName, writesAsked_);
    return writesAsked_;
}

bool StoreCKCloud::deletedSince(const QString& recordName, uint64_t asked) const
{
    std::lock_guard lock(askedMutex_);
    return deletionsAsked_.value(recordName, 0) > asked;
}

// --- Save

void StoreCKCloud::saveNote(const NotePtr& note, Completion block)
{
    if (held_.keep([=, this] { saveNote(note, block); }))
        return;
    block = countedWrite(std::move(block));
    if (!quickCloudCheck()) {
        LogError("ckcloud:save error cloudkit disabled");
        return answer(block, false);
    }
    const auto target = targetOf(note);
    if (!target) {
        LogError("ckcloud:save ignore unreadable file name %1", note->key());
        return answer(block, false);
    }
    const Outgoing out = outgoingOf(note, *target);
    if (out.data.isEmpty()) {
        LogError("ckcloud:save error data.length <= 0");
        return answer(block, false);
    }
    const uint64_t asked = askWrite();
    queue_->async([=, this] {
        fetch(target->id, [=, this](const std::shared_ptr<Database>& db, std::optional<Record> record,
                                    const Error& error) {
            // Taken once the store is open: opening it may change the account, and the link files with it.
            const LinkFiles links = links_;
            if (failedBeyondMissing(error)) {
                LogError("ckcloud:save fetch error %1", error.localizedDescription());
                return answer(block, false);
            }
            if (deletedSince(target->recordName(), asked)) {
                LogInfo("ckcloud:save dropped, deleted since %1", target->recordName());
                return answer(block, false);
            }
            switch (verdictOn(record, out)) {
            case Verdict::Unseen:
                LogInfo("ckcloud:save resist save %1/%2 (unseen)", target->resourceName(), target->key);
                _reloadNoteWithRecord(*record, {}); // the conflict rule decides which text goes out
                return answer(block, false);
            case Verdict::AsNew:
                LogInfo("ckcloud:save resist save %1/%2 (ckcloud)", target->resourceName(), target->key);
                // The store holds this very text, only dated later: it is exchanged, and the send pass
                // stops offering it.
                if (liveText(*record) == out.text)
                    links.write(target->key, NoteServiceCloudKit, target->storage, NoteRecord::commitDate(*record));
                return answer(block, false);
            case Verdict::Send:
                break;
            }
            std::optional<Record> live = liveRecord(std::move(record), out);
            if (!live)
                return answer(block, false);
            db->saveRecord(*live, [=](std::optional<Record>, Error error) {
                if (!error.isNull()) {
                    LogError("ckcloud:save save error %1", error.localizedDescription());
                    return answer(block, false);
                }
                markSent(links, out);
                LogInfo("ckcloud:save ok %1", out.target.recordName());
                answer(block, true);
            });
        });
    });
}

// Many notes at once: a fetch and a save of all their records. Only what a
// save would send plainly goes in the batch; saveNote handles the rest, and
// every record the store refuses, with its own fetch and checks.
void StoreCKCloud::sendMany(const QList<NotePtr>& notes, std::function<void()> then)
{
    if (held_.keep([=, this] { queue_->async([=, this] { sendMany(notes, then); }); }))
        return;
    const Completion done = countedWrite([then](bool) { then(); });
    auto alone = std::make_shared<QList<NotePtr>>();
    QList<std::pair<NotePtr, Outgoing>> batch;
    for (const NotePtr& note : notes) {
        const auto target = targetOf(note);
        std::optional<Outgoing> out;
        if (target)
            out = outgoingOf(note, *target);
        if (out && !out->data.isEmpty() && quickCloudCheck())
            batch.append({note, *out});
        else
            alone->append(note);
    }
    Error error;
    const auto db = batch.size() > 1 ? database(&error) : nullptr;
    if (!db) {
        for (const auto& [note, out] : batch)
            alone->append(note);
        return sendAlone(alone, done);
    }
    QList<RecordID> ids;
    for (const auto& [note, out] : batch)
        ids.append(out.target.id);
    db->fetchRecords(ids, [=, this](QList<Record> found, Error error) {
        const LinkFiles links = links_;
        if (!error.isNull() && error.code != RecordStoreError::PartialFailure) {
            LogError("ckcloud:save batch fetch error %1", error.localizedDescription());
            for (const auto& [note, out] : batch)
                alone->append(note);
            return sendAlone(alone, done);
        }
        QHash<QString, Record> byName;
        for (Record& record : found)
            byName.insert(record.recordID().recordName, std::move(record));
        QList<Record> saves;
        QList<std::pair<NotePtr, Outgoing>> sending;
        for (const auto& [note, out] : batch) {
            std::optional<Record> record;
            if (const auto it = byName.constFind(out.target.recordName()); it != byName.cend())
                record = *it;
            if (verdictOn(record, out) != Verdict::Send) {
                alone->append(note);
                continue;
            }
            if (std::optional<Record> live = liveRecord(std::move(record), out)) {
                saves.append(std::move(*live));
                sending.append({note, out});
            }
        }
        db->saveRecords(saves, [=, this](QList<Database::SaveOutcome> outcomes) {
            // One line for the batch: a first start sends thousands of notes, a line each was thousands of lines.
            QStringList sent;
            for (qsizetype i = 0; i < sending.size(); ++i) {
                if (outcomes[i].error.isNull()) {
                    markSent(links, sending[i].second);
                    sent.append(sending[i].second.target.recordName());
                    continue;
                }
                LogInfo("ckcloud:save batch refused %1 (%2)", sending[i].second.target.recordName(),
                        outcomes[i].error.localizedDescription());
                alone->append(sending[i].first);
            }
            if (!sent.isEmpty())
                LogInfo("ckcloud:save ok %1 in a batch: %2", qint64(sent.size()), sent.join(QStringLiteral(", ")));
            sendAlone(alone, done);
        });
    });
}

void StoreCKCloud::sendAlone(std::shared_ptr<QList<NotePtr>> notes, Completion done)
{
    if (notes->isEmpty())
        return done(true);
    saveNote(notes->takeFirst(), [this, notes, done](bool) { queue_->async([=, this] { sendAlone(notes, done); }); });
}

// --- Move

void StoreCKCloud::moveNote(const NotePtr& from, const NotePtr& to, Completion block)
{
    if (held_.keep([=, this] { moveNote(from, to, block); }))
        return;
    block = countedWrite(std::move(block));
    if (!quickCloudCheck())
        return answer(block, false);
    const auto source = targetOf(from);
    const auto target = targetOf(to);
    if (!source || !target) {
        LogError("ckcloud:move ignore unreadable file name %1", to->key());
        return answer(block, false);
    }
    askWrite(source->recordName());
    const QString text = to->text();
    const QByteArray data = NoteRecord::dataFromString(text);
    const FileTime commitDate = FileTime::fromWholeSeconds(to->updatedOn());
    const FileTime createdDate = FileTime::fromWholeSeconds(to->createdOn());
    // Milliseconds are what the record keeps; the Trash link gets the same date.
    const FileTime requested = FileTime::fromDateTime(FileTime::now().toDateTime());
    queue_->async([=, this] {
        fetch(source->id, [=, this](const std::shared_ptr<Database>& db, std::optional<Record> old, const Error& error) {
            const LinkFiles links = links_;
            if (failedBeyondMissing(error)) {
                LogError("ckcloud:move oldNote fetch error %1", error.localizedDescription());
                return answer(block, false);
            }
            Record tombstone = fetchedOrNew(std::move(old), *source, requested);
            NoteRecord::setTombstone(tombstone, requested);
            tombstone.setValue(NoteRecord::HistoryKey, SyncConflict::sending(source->key, source->storage, text));
            db->saveRecord(tombstone, [=](std::optional<Record>, Error error) {
                if (failedBeyondMissing(error)) {
                    LogError("ckcloud:move oldNote delete error: %1", error.localizedDescription());
                    return answer(block, false);
                }
                links.retire(source->key, NoteServiceCloudKit, source->storage, requested);
                db->fetchRecord(target->id, [=](std::optional<Record> record, Error error) {
                    if (failedBeyondMissing(error)) {
                        LogError("ckcloud:move newNote fetch error %1", error.localizedDescription());
                        return answer(block, false);
                    }
                    const FileTime dated = datedAfterTombstone(record, commitDate);
                    // The target of a move takes the note's creation date even when it existed.
                    Record live = fetchedOrNew(std::move(record), *target, std::nullopt);
                    NoteRecord::setLive(live, data, dated);
                    NoteRecord::setCreatedDate(live, createdDate);
                    live.setValue(NoteRecord::HistoryKey, SyncConflict::sending(target->key, target->storage, text));
                    db->saveRecord(live, [=](std::optional<Record>, Error error) {
                        if (!error.isNull()) {
                            LogError("ckcloud:move newNote save error %1", error.localizedDescription());
                            return answer(block, false);
                        }
                        links.write(target->key, NoteServiceCloudKit, target->storage, dated);
                        LogInfo("ckcloud:move ok %1 -> %2", source->recordName(), target->recordName());
                        answer(block, true);
                    });
                });
            });
        });
    });
}

// --- Delete and notify-delete

void StoreCKCloud::deleteNote(const NotePtr& note, Completion block)
{
    deleteRecord(note, false, std::move(block));
}

void StoreCKCloud::deleteRecord(const NotePtr& note, bool carried, Completion block)
{
    if (held_.keep([=, this] { deleteRecord(note, carried, block); }))
        return;
    block = countedWrite(std::move(block));
    if (!quickCloudCheck())
        return answer(block, false);
    const auto target = targetOf(note);
    if (!target) {
        LogError("ckcloud:delete ignore unreadable file name %1", note->key());
        return answer(block, false);
    }
    askWrite(target->recordName());
    const FileTime requested = FileTime::fromDateTime(FileTime::now().toDateTime());
    const QString text = note->text();
    queue_->async([=, this] {
        fetch(target->id, [=, this](const std::shared_ptr<Database>& db, std::optional<Record> record, const Error& error) {
            const LinkFiles links = links_;
            if (failedBeyondMissing(error)) {
                LogError("ckcloud:delete fetch error %1", error.localizedDescription());
                return answer(block, false);
            }
            // Judged by the links as a fetch judges the record: the store's own link lags behind a
            // text the folder brought in, and dates alike a text written in its second.
            if (carried && record
                && !RecordIntake::exchangedHere(*record, {target->key, target->resourceName(), target->storage})) {
                // Changed elsewhere since this computer last saw it: that change comes in instead.
                LogInfo("ckcloud:delete resist (changed since) %1/%2", target->resourceName(), target->key);
                _reloadNoteWithRecord(*record, {});
                return answer(block, false);
            }
            Record tombstone = fetchedOrNew(std::move(record), *target, requested);
            NoteRecord::setTombstone(tombstone, requested);
            tombstone.setValue(NoteRecord::HistoryKey, SyncConflict::sending(target->key, target->storage, text));
            db->saveRecord(tombstone, [=](std::optional<Record>, Error error) {
                // The note is gone here whatever the store answered; a deletion carried later keeps its
                // link to be carried again.
                if (!carried || !failedBeyondMissing(error)) {
                    links.retire(target->key, NoteServiceCloudKit, target->storage, requested);
                }
                if (failedBeyondMissing(error)) {
                    LogError("ckcloud:delete error: %1", error.localizedDescription());
                    return answer(block, false);
                }
                LogError("ckcloud:delete ok: %1", target->recordName());
                answer(block, true);
            });
        });
    });
}

void StoreCKCloud::notifyDeleteNote(const NotePtr& note, const FileTime& date, Completion block)
{
    if (held_.keep([=, this] { notifyDeleteNote(note, date, block); }))
        return;
    block = countedWrite(std::move(block));
    if (!quickCloudCheck())
        return answer(block, false);
    const auto target = targetOf(note);
    if (!target) {
        LogError("ckcloud:notifyDelete ignore unreadable file name %1", note->key());
        return answer(block, false);
    }
    queue_->async([=, this] {
        fetch(target->id, [=](const std::shared_ptr<Database>& db, std::optional<Record> record, const Error& error) {
            if (isUnknownItem(error)) {
                LogError("ckcloud:notifyDelete not existed");
                return answer(block, false);
            }
            if (!error.isNull()) {
                LogError("ckcloud:notifyDelete fetch error %1", error.localizedDescription());
                return answer(block, false);
            }
            if (NoteRecord::dateIsNewerThan(NoteRecord::commitDate(*record), date)) {
                LogInfo("ckcloud:notifyDelete resist update %1/%2", target->resourceName(), target->key);
                return answer(block, false);
            }
            NoteRecord::setTombstone(*record, date);
            db->saveRecord(*record, [=](std::optional<Record>, Error error) {
                if (failedBeyondMissing(error)) {
                    LogError("ckcloud:notifyDelete error: %1", error.localizedDescription());
                    return answer(block, false);
                }
                LogError("ckcloud:notifyDelete ok: %1", target->recordName());
                answer(block, true);
            });
        });
    });
}

// --- Wait

CKCloud::Completion StoreCKCloud::countedWrite(Completion block)
{
    inFlight_->enter();
    return [writes = inFlight_, block = std::move(block)](bool ok) {
        if (block)
            block(ok);
        writes->leave();
    };
}

void StoreCKCloud::wait(std::function<void()> block)
{
    queue_->async([writes = inFlight_, block = std::move(block)] {
        NoteServices* const services = Note::services();
        writes->notify(services ? services->fileQueue() : DispatchQueue::global(), block);
    });
}
