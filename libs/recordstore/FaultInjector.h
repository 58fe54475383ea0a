#pragma once

#include "Database.h"

#include <QHash>

#include <memory>
#include <mutex>

// A database that passes every call on to another one, except where a test
// asked for trouble: the next calls of an operation fail with a code, every
// call waits a while on the dispatch clock first, or callbacks are held back
// until released. Failures and delays never reach the wrapped database.
class FaultInjector final : public Database {
public:
    enum class Operation {
        FetchRecord,
        FetchRecords,
        SaveRecord,
        SaveRecords,
        Query, // also continueQuery
        ModifyRecords,
        FetchAllSubscriptions,
        SaveSubscription,
        DeleteSubscription,
    };

    explicit FaultInjector(std::shared_ptr<Database> database);

    void failNext(Operation operation, int count, int code);
    void setDelay(Operation operation, double seconds);
    // Holds the callbacks of the operation from now on; release() runs them in
    // order on the database's queue and stops holding.
    void hold(Operation operation);
    void release(Operation operation);
    // Callbacks held back so far.
    int heldCount(Operation operation) const;

    void fetchRecord(const RecordID& id, RecordCompletion completion) override;
    void fetchRecords(const QList<RecordID>& ids, RecordsCompletion completion) override;
    void saveRecord(const Record& record, RecordCompletion completion) override;
    // A failure injected here is every record's outcome.
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
    QDateTime serverTime() const override { return database_->serverTime(); }
    DispatchQueuePtr queue() const override { return database_->queue(); }

private:
    struct Fault {
        int failuresLeft = 0;
        int code = 0;
        double delay = 0;
        bool holding = false;
        QList<DispatchBlock> held;
    };
    struct State {
        mutable std::mutex mutex;
        QHash<Operation, Fault> faults;
    };

    // The callback, held back while the operation is held.
    template <typename... Args>
    std::function<void(Args...)> gate(Operation operation, std::function<void(Args...)> callback) const;
    // Starts the call, after the delay if one is set, or fails it instead when a failure is due.
    void perform(Operation operation, DispatchBlock start, std::function<void(const Error& error)> fail);
    void runQuery(RecordFetched recordFetched, QueryCompletion completion,
                  std::function<void(RecordFetched, QueryCompletion)> start);

    std::shared_ptr<Database> database_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};
