#include "SqliteDatabase.h"

#include "Folders.h"
#include "RecordStoreError.h"
#include "SqliteStore.h"

#include <QFileInfo>

std::shared_ptr<SqliteDatabase> SqliteDatabase::open(const QString& path, const QString& clientID, Error* error)
{
    auto store = SqliteStore::open(path, clientID, error);
    if (!store)
        return nullptr;
    const QString label = Folders::queueLabel(QStringLiteral(".recordstore.") + QFileInfo(path).completeBaseName());
    auto database = std::shared_ptr<SqliteDatabase>(new SqliteDatabase(std::move(store), label));
    database->clientID_ = clientID;
    return database;
}

SqliteDatabase::SqliteDatabase(std::shared_ptr<SqliteStore> store, const QString& label)
    : store_(std::move(store))
    , queue_(DispatchQueue::createSerial(label))
    , containerID_(store_->containerID())
{
}

SqliteDatabase::~SqliteDatabase()
{
    // Work already queued still finishes; the file closes after it.
    queue_->async([store = std::move(store_)] { store->stopPush(false); });
}

void SqliteDatabase::onQueue(std::function<void(SqliteStore& store)> work)
{
    queue_->async([store = store_, work = std::move(work)] { work(*store); });
}

void SqliteDatabase::fetchRecord(const RecordID& id, RecordCompletion completion)
{
    onQueue([id, completion = std::move(completion)](SqliteStore& store) {
        Error error;
        auto record = store.fetch(id, std::nullopt, &error);
        completion(std::move(record), error);
    });
}

void SqliteDatabase::fetchRecords(const QList<RecordID>& ids, RecordsCompletion completion)
{
    onQueue([ids, completion = std::move(completion)](SqliteStore& store) {
        QList<Record> records;
        QStringList missing;
        for (const RecordID& id : ids) {
            Error error;
            if (auto record = store.fetch(id, std::nullopt, &error))
                records.append(std::move(*record));
            else if (error.code == RecordStoreError::UnknownItem)
                missing.append(id.recordName);
            else
                return completion({}, error);
        }
        Error error;
        if (!missing.isEmpty()) {
            error = RecordStoreError::make(RecordStoreError::PartialFailure,
                                           QStringLiteral("%1 records not found").arg(missing.size()));
            error.userInfo.insert(QStringLiteral("missing"), missing);
        }
        completion(std::move(records), error);
    });
}

void SqliteDatabase::saveRecord(const Record& record, RecordCompletion completion)
{
    onQueue([record, completion = std::move(completion)](SqliteStore& store) {
        QList<Record> saves {record};
        const Error error = store.modify(saves, {});
        completion(error.isNull() ? std::optional<Record>(saves.first()) : std::nullopt, error);
    });
}

void SqliteDatabase::addQueryOperation(const Query& query, const DesiredKeys& desiredKeys, int limit,
                                       RecordFetched recordFetched, QueryCompletion completion)
{
    runQuery(query, std::nullopt, desiredKeys, limit, std::move(recordFetched), std::move(completion));
}

void SqliteDatabase::continueQuery(const QueryCursor& cursor, const DesiredKeys& desiredKeys, int limit,
                                   RecordFetched recordFetched, QueryCompletion completion)
{
    runQuery(cursor.query, cursor, desiredKeys, limit, std::move(recordFetched), std::move(completion));
}

void SqliteDatabase::runQuery(const Query& query, std::optional<QueryCursor> after, const DesiredKeys& desiredKeys,
                              int limit, RecordFetched recordFetched, QueryCompletion completion)
{
    onQueue([=, recordFetched = std::move(recordFetched), completion = std::move(completion)](SqliteStore& store) {
        const QDateTime now = SqliteStore::serverTime();
        std::optional<QueryCursor> next;
        const Error error = store.query(query, after ? &*after : nullptr, desiredKeys, limit, recordFetched, next);
        completion(error.isNull() ? next : std::nullopt, now, error);
    });
}

void SqliteDatabase::modifyRecords(const QList<Record>& saves, const QList<RecordID>& deleteIDs,
                                   ModifyCompletion completion)
{
    onQueue([saves, deleteIDs, completion = std::move(completion)](SqliteStore& store) {
        QList<Record> saved = saves;
        const Error error = store.modify(saved, deleteIDs);
        if (error.isNull())
            completion(saved, deleteIDs, error);
        else
            completion({}, {}, error);
    });
}

void SqliteDatabase::fetchAllSubscriptions(SubscriptionsCompletion completion)
{
    onQueue([completion = std::move(completion)](SqliteStore& store) {
        Error error;
        auto subscriptions = store.subscriptions(&error);
        completion(error.isNull() ? subscriptions : QList<Subscription>(), error);
    });
}

void SqliteDatabase::saveSubscription(const Subscription& subscription, SubscriptionCompletion completion)
{
    onQueue([subscription, completion = std::move(completion)](SqliteStore& store) {
        Subscription saved = subscription;
        const Error error = store.saveSubscription(saved);
        completion(error.isNull() ? std::optional<Subscription>(saved) : std::nullopt, error);
    });
}

void SqliteDatabase::deleteSubscription(const QString& subscriptionID, DeleteSubscriptionCompletion completion)
{
    onQueue([subscriptionID, completion = std::move(completion)](SqliteStore& store) {
        completion(subscriptionID, store.deleteSubscription(subscriptionID));
    });
}

QDateTime SqliteDatabase::serverTime() const { return SqliteStore::serverTime(); }

void SqliteDatabase::startPush(Deliver deliver, Registered registered)
{
    onQueue([queue = queue_, token = clientID_.toUtf8(), deliver = std::move(deliver),
             registered = std::move(registered)](SqliteStore& store) {
        const Error error = store.startPush(queue, deliver);
        registered(error.isNull() ? token : QByteArray(), error);
        store.deliverPending(); // what came while this client was away
    });
}

void SqliteDatabase::stopPush(bool unregister)
{
    onQueue([unregister](SqliteStore& store) { store.stopPush(unregister); });
}
