#include "StoreCKCloud.h"

#include "NoteHistory.h"
#include "NoteRecord.h"
#include "SyncConflict.h"

#include "Store/NoteServices.h"

#include "Database.h"
#include "Folders.h"
#include "Log.h"
#include "RecordStoreError.h"
#include "UserDefaults.h"

#include <QDir>

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
Record fetchedOrNew(std::optional<Record> record, const RecordID& id, const std::optional<FileTime>& created)
{
    if (record)
        return std::move(*record);
    Record made(NoteRecord::RecordType, id);
    if (created)
        NoteRecord::setCreatedDate(made, *created);
    return made;
}

void answer(const CKCloud::Completion& block, bool ok)
{
    if (block)
        block(ok);
}

// A live record whose text differs from the note's and is none this
// computer held: another computer's change it never took in.
// The text of a live record; nothing for a tombstone or one that does not decode.
std::optional<QString> liveText(const Record& record)
{
    if (record.integer(NoteRecord::StateKey).value_or(NoteRecord::StateLive) != NoteRecord::StateLive)
        return std::nullopt;
    return NoteRecord::stringFromData(record.data(NoteRecord::TextKey).value_or(QByteArray()),
                                      record.integer(NoteRecord::VersionKey).value_or(0));
}

bool isUnseenChange(const Record& record, const QString& text, const Target& target)
{
    const auto theirs = liveText(record);
    return theirs && !theirs->isEmpty() && *theirs != text
           && !NoteHistory::load(target.key, target.storage).contains(NoteHistory::hashOf(*theirs));
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
}

std::shared_ptr<Container> StoreCKCloud::openContainer(const BackendConfig& backend, Error* error) const
{
    return Container::open(configuration_.containerIdentifier, backend, error);
}

void StoreCKCloud::setContainer(std::shared_ptr<Container> container, BackendConfig backend)
{
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
    const QString text = note->text();
    const QByteArray data = NoteRecord::dataFromString(text);
    if (data.isEmpty()) {
        LogError("ckcloud:save error data.length <= 0");
        return answer(block, false);
    }
    const FileTime commitDate = FileTime::fromWholeSeconds(note->updatedOn());
    const FileTime createdDate = FileTime::fromWholeSeconds(note->createdOn());
    queue_->async([=, this] {
        fetch(target->id, [=, this](const std::shared_ptr<Database>& db, std::optional<Record> record,
                                    const Error& error) {
            // Taken once the store is open: opening it may change the account, and the link files with it.
            const LinkFiles links = links_;
            if (failedBeyondMissing(error)) {
                LogError("ckcloud:save fetch error %1", error.localizedDescription());
                return answer(block, false);
            }
            if (record && isUnseenChange(*record, text, *target)) {
                LogInfo("ckcloud:save resist save %1/%2 (unseen)", target->resourceName(), target->key);
                _reloadNoteWithRecord(*record, {}); // the conflict rule decides which text goes out
                return answer(block, false);
            }
            if (record && NoteRecord::dateIsNewerOrEqualTo(NoteRecord::commitDate(*record), commitDate)) {
                LogInfo("ckcloud:save resist save %1/%2 (ckcloud)", target->resourceName(), target->key);
                // The store holds this very text, only dated later: it is exchanged, and the send pass
                // stops offering it.
                if (liveText(*record) == text)
                    links.write(target->key, NoteServiceCloudKit, target->storage, NoteRecord::commitDate(*record));
                return answer(block, false);
            }
            Record live = fetchedOrNew(std::move(record), target->id, createdDate);
            NoteRecord::setLive(live, data, commitDate);
            live.setValue(NoteRecord::HistoryKey, SyncConflict::sending(target->key, target->storage, text));
            // The fetched change tag makes the save fail if another client saved in between.
            db->saveRecord(live, [=](std::optional<Record>, Error error) {
                if (!error.isNull()) {
                    LogError("ckcloud:save save error %1", error.localizedDescription());
                    return answer(block, false);
                }
                links.write(target->key, NoteServiceCloudKit, target->storage, commitDate);
                LogInfo("ckcloud:save ok %1", target->recordName());
                answer(block, true);
            });
        });
    });
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
            Record tombstone = fetchedOrNew(std::move(old), source->id, requested);
            NoteRecord::setTombstone(tombstone, requested);
            tombstone.setValue(NoteRecord::HistoryKey, SyncConflict::sending(source->key, source->storage, text));
            db->saveRecord(tombstone, [=](std::optional<Record>, Error error) {
                if (failedBeyondMissing(error)) {
                    LogError("ckcloud:move oldNote delete error: %1", error.localizedDescription());
                    return answer(block, false);
                }
                LinkFiles::remove(source->key, NoteServiceCloudKit, source->storage);
                links.write(source->key, NoteServiceTrash, source->storage, requested);
                db->fetchRecord(target->id, [=](std::optional<Record> record, Error error) {
                    if (failedBeyondMissing(error)) {
                        LogError("ckcloud:move newNote fetch error %1", error.localizedDescription());
                        return answer(block, false);
                    }
                    // The target of a move takes the note's creation date even when it existed.
                    Record live = fetchedOrNew(std::move(record), target->id, std::nullopt);
                    NoteRecord::setLive(live, data, commitDate);
                    NoteRecord::setCreatedDate(live, createdDate);
                    live.setValue(NoteRecord::HistoryKey, SyncConflict::sending(target->key, target->storage, text));
                    db->saveRecord(live, [=](std::optional<Record>, Error error) {
                        if (!error.isNull()) {
                            LogError("ckcloud:move newNote save error %1", error.localizedDescription());
                            return answer(block, false);
                        }
                        links.write(target->key, NoteServiceCloudKit, target->storage, commitDate);
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
    if (held_.keep([=, this] { deleteNote(note, block); }))
        return;
    block = countedWrite(std::move(block));
    if (!quickCloudCheck())
        return answer(block, false);
    const auto target = targetOf(note);
    if (!target) {
        LogError("ckcloud:delete ignore unreadable file name %1", note->key());
        return answer(block, false);
    }
    const FileTime requested = FileTime::fromDateTime(FileTime::now().toDateTime());
    const QString text = note->text();
    queue_->async([=, this] {
        fetch(target->id, [=, this](const std::shared_ptr<Database>& db, std::optional<Record> record, const Error& error) {
            const LinkFiles links = links_;
            if (failedBeyondMissing(error)) {
                LogError("ckcloud:delete fetch error %1", error.localizedDescription());
                return answer(block, false);
            }
            Record tombstone = fetchedOrNew(std::move(record), target->id, requested);
            NoteRecord::setTombstone(tombstone, requested);
            tombstone.setValue(NoteRecord::HistoryKey, SyncConflict::sending(target->key, target->storage, text));
            db->saveRecord(tombstone, [=](std::optional<Record>, Error error) {
                // The note is gone here whatever the store answered.
                LinkFiles::remove(target->key, NoteServiceCloudKit, target->storage);
                links.write(target->key, NoteServiceTrash, target->storage, requested);
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
