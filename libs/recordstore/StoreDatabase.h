#pragma once

#include "Database.h"
#include "PushSource.h"

#include <memory>

class StoreBackend;

// The database of a container over one backend's store: every call of the
// backend runs on the database's serial queue.
class StoreDatabase final : public Database, public PushSource {
public:
    // The queue's label names the store (a file's base name, a schema).
    StoreDatabase(std::shared_ptr<StoreBackend> store, const QString& storeName, const QString& clientID);
    ~StoreDatabase() override;

    QString containerID() const { return containerID_; }

    void fetchRecord(const RecordID& id, RecordCompletion completion) override;
    void fetchRecords(const QList<RecordID>& ids, RecordsCompletion completion) override;
    void saveRecord(const Record& record, RecordCompletion completion) override;
    void saveRecords(const QList<Record>& records, SavesCompletion completion) override;
    void addQueryOperation(const Query& query, const DesiredKeys& desiredKeys, int limit, RecordFetched recordFetched,
                           QueryCompletion completion) override;
    void continueQuery(const QueryCursor& cursor, const DesiredKeys& desiredKeys, int limit,
                       RecordFetched recordFetched, QueryCompletion completion) override;
    void modifyRecords(const QList<Record>& saves, const QList<RecordID>& deleteIDs,
                       ModifyCompletion completion) override;
    void fetchAllSubscriptions(SubscriptionsCompletion completion) override;
    void saveSubscription(const Subscription& subscription, SubscriptionCompletion completion) override;
    void deleteSubscription(const QString& subscriptionID, DeleteSubscriptionCompletion completion) override;
    QDateTime serverTime() const override;
    DispatchQueuePtr queue() const override { return queue_; }

    void startPush(Deliver deliver, Registered registered) override;
    void stopPush(bool unregister) override;

private:
    // Runs the work on the queue with the store, which lives until it is done.
    void onQueue(std::function<void(StoreBackend& store)> work);
    void runQuery(const Query& query, std::optional<QueryCursor> after, const DesiredKeys& desiredKeys, int limit,
                  RecordFetched recordFetched, QueryCompletion completion);

    std::shared_ptr<StoreBackend> store_;
    DispatchQueuePtr queue_;
    QString containerID_;
    QString clientID_;
};
