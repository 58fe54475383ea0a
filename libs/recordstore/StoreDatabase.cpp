#include "StoreDatabase.h"

#include "Folders.h"
#include "RecordStoreError.h"
#include "StoreBackend.h"

StoreDatabase::StoreDatabase(std::shared_ptr<StoreBackend> store, const QString& storeName, const QString& clientID)
    : store_(std::move(store))
    , queue_(DispatchQueue::createSerial(Folders::queueLabel(QStringLiteral(".recordstore.") + storeName)))
    , containerID_(store_->containerID())
    , clientID_(clientID)
{
}

StoreDatabase::~StoreDatabase()
{
    // Work already queued still finishes; the store closes after it.
    queue_->async([store = std::move(store_)] { store->stopPush(false); });
}

void StoreDatabase::onQueue(std::function<void(StoreBackend& store)> work)
{
    queue_->async([store = store_, work = std::move(work)] { work(*store); });
}

void StoreDatabase::fetchRecord(const RecordID& id, RecordCompletion completion)
{
    onQueue([id, completion = std::move(completion)](StoreBackend& store) {
        Error error;
        auto record = store.fetch(id, std::nullopt, &error);
        completion(std::move(record), error);
    });
}

void StoreDatabase::fetchRecords(const QList<RecordID>& ids, RecordsCompletion completion)
{
    onQueue([ids, completion = std::move(completion)](StoreBackend& store) {
        QList<Record> records;
        QStringList missing;
        if (Error error = store.fetchEach(ids, records, missing); !error.isNull())
            return completion({}, error);
        Error error;
        if (!missing.isEmpty()) {
            error = RecordStoreError::make(RecordStoreError::PartialFailure,
                                           QStringLiteral("%1 records not found").arg(missing.size()));
            error.userInfo.insert(QStringLiteral("missing"), missing);
        }
        completion(std::move(records), error);
    });
}

void StoreDatabase::saveRecord(const Record& record, RecordCompletion completion)
{
    saveRecords({record}, [completion = std::move(completion)](QList<SaveOutcome> outcomes) {
        completion(std::move(outcomes.first().record), outcomes.first().error);
    });
}

void StoreDatabase::saveRecords(const QList<Record>& records, SavesCompletion completion)
{
    onQueue([records, completion = std::move(completion)](StoreBackend& store) {
        QList<Record> saved = records;
        QList<Error> refusals;
        const Error failure = store.saveEach(saved, refusals);
        QList<SaveOutcome> outcomes;
        outcomes.reserve(records.size());
        for (qsizetype i = 0; i < records.size(); ++i) {
            if (!refusals.value(i).isNull())
                outcomes.append({std::nullopt, refusals[i]});
            else if (!failure.isNull())
                outcomes.append({std::nullopt, failure});
            else
                outcomes.append({saved[i], Error()});
        }
        completion(std::move(outcomes));
    });
}

void StoreDatabase::addQueryOperation(const Query& query, const DesiredKeys& desiredKeys, int limit,
                                       RecordFetched recordFetched, QueryCompletion completion)
{
    runQuery(query, std::nullopt, desiredKeys, limit, std::move(recordFetched), std::move(completion));
}

void StoreDatabase::continueQuery(const QueryCursor& cursor, const DesiredKeys& desiredKeys, int limit,
                                   RecordFetched recordFetched, QueryCompletion completion)
{
    runQuery(cursor.query, cursor, desiredKeys, limit, std::move(recordFetched), std::move(completion));
}

void StoreDatabase::runQuery(const Query& query, std::optional<QueryCursor> after, const DesiredKeys& desiredKeys,
                              int limit, RecordFetched recordFetched, QueryCompletion completion)
{
    onQueue([=, recordFetched = std::move(recordFetched), completion = std::move(completion)](StoreBackend& store) {
        std::optional<QueryCursor> next;
        QDateTime readAt;
        const Error error =
            store.query(query, after ? &*after : nullptr, desiredKeys, limit, recordFetched, next, readAt);
        completion(error.isNull() ? next : std::nullopt, readAt, error);
    });
}

void StoreDatabase::modifyRecords(const QList<Record>& saves, const QList<RecordID>& deleteIDs,
                                   ModifyCompletion completion)
{
    onQueue([saves, deleteIDs, completion = std::move(completion)](StoreBackend& store) {
        QList<Record> saved = saves;
        const Error error = store.modify(saved, deleteIDs);
        if (error.isNull())
            completion(saved, deleteIDs, error);
        else
            completion({}, {}, error);
    });
}

void StoreDatabase::fetchAllSubscriptions(SubscriptionsCompletion completion)
{
    onQueue([completion = std::move(completion)](StoreBackend& store) {
        Error error;
        auto subscriptions = store.subscriptions(&error);
        completion(error.isNull() ? subscriptions : QList<Subscription>(), error);
    });
}

void StoreDatabase::saveSubscription(const Subscription& subscription, SubscriptionCompletion completion)
{
    onQueue([subscription, completion = std::move(completion)](StoreBackend& store) {
        Subscription saved = subscription;
        const Error error = store.saveSubscription(saved);
        completion(error.isNull() ? std::optional<Subscription>(saved) : std::nullopt, error);
    });
}

void StoreDatabase::deleteSubscription(const QString& subscriptionID, DeleteSubscriptionCompletion completion)
{
    onQueue([subscriptionID, completion = std::move(completion)](StoreBackend& store) {
        completion(subscriptionID, store.deleteSubscription(subscriptionID));
    });
}

QDateTime StoreDatabase::serverTime() const { return store_->serverTime(); }

void StoreDatabase::startPush(Deliver deliver, Registered registered)
{
    onQueue([queue = queue_, token = clientID_.toUtf8(), deliver = std::move(deliver),
             registered = std::move(registered)](StoreBackend& store) {
        const Error error = store.startPush(queue, deliver);
        registered(error.isNull() ? token : QByteArray(), error);
        store.deliverPending(); // what came while this client was away
    });
}

void StoreDatabase::stopPush(bool unregister)
{
    onQueue([unregister](StoreBackend& store) { store.stopPush(unregister); });
}
