#include "FaultInjector.h"

#include "RecordStoreError.h"

#include <tuple>

FaultInjector::FaultInjector(std::shared_ptr<Database> database)
    : database_(std::move(database))
{
}

void FaultInjector::failNext(Operation operation, int count, int code)
{
    std::lock_guard lock(state_->mutex);
    Fault& fault = state_->faults[operation];
    fault.failuresLeft = count;
    fault.code = code;
}

void FaultInjector::setDelay(Operation operation, double seconds)
{
    std::lock_guard lock(state_->mutex);
    state_->faults[operation].delay = seconds;
}

void FaultInjector::hold(Operation operation)
{
    std::lock_guard lock(state_->mutex);
    state_->faults[operation].holding = true;
}

void FaultInjector::release(Operation operation)
{
    QList<DispatchBlock> held;
    {
        std::lock_guard lock(state_->mutex);
        Fault& fault = state_->faults[operation];
        fault.holding = false;
        held.swap(fault.held);
    }
    for (DispatchBlock& block : held)
        queue()->async(std::move(block));
}

int FaultInjector::heldCount(Operation operation) const
{
    std::lock_guard lock(state_->mutex);
    return state_->faults.value(operation).held.size();
}

template <typename... Args>
std::function<void(Args...)> FaultInjector::gate(Operation operation, std::function<void(Args...)> callback) const
{
    return [state = state_, operation, callback = std::move(callback)](Args... args) {
        std::unique_lock lock(state->mutex);
        Fault& fault = state->faults[operation];
        if (!fault.holding) {
            lock.unlock();
            callback(std::forward<Args>(args)...);
            return;
        }
        fault.held.append([callback, values = std::make_tuple(std::decay_t<Args>(args)...)] {
            std::apply(callback, values);
        });
    };
}

void FaultInjector::perform(Operation operation, DispatchBlock start, std::function<void(const Error& error)> fail)
{
    int code = 0;
    double delay = 0;
    {
        std::lock_guard lock(state_->mutex);
        Fault& fault = state_->faults[operation];
        if (fault.failuresLeft > 0) {
            --fault.failuresLeft;
            code = fault.code;
        }
        delay = fault.delay;
    }
    DispatchBlock block = code == 0 ? std::move(start) : [fail = std::move(fail), code] {
        fail(RecordStoreError::make(code, QStringLiteral("injected failure")));
    };
    if (delay > 0)
        queue()->after(delay, std::move(block));
    else if (code != 0)
        queue()->async(std::move(block)); // callbacks never run on the caller's thread
    else
        block();
}

void FaultInjector::fetchRecord(const RecordID& id, RecordCompletion completion)
{
    auto done = gate(Operation::FetchRecord, std::move(completion));
    perform(Operation::FetchRecord, [db = database_, id, done] { db->fetchRecord(id, done); },
            [done](const Error& error) { done(std::nullopt, error); });
}

void FaultInjector::fetchRecords(const QList<RecordID>& ids, RecordsCompletion completion)
{
    auto done = gate(Operation::FetchRecords, std::move(completion));
    perform(Operation::FetchRecords, [db = database_, ids, done] { db->fetchRecords(ids, done); },
            [done](const Error& error) { done({}, error); });
}

void FaultInjector::saveRecord(const Record& record, RecordCompletion completion)
{
    auto done = gate(Operation::SaveRecord, std::move(completion));
    perform(Operation::SaveRecord, [db = database_, record, done] { db->saveRecord(record, done); },
            [done](const Error& error) { done(std::nullopt, error); });
}

void FaultInjector::saveRecords(const QList<Record>& records, SavesCompletion completion)
{
    auto done = gate(Operation::SaveRecords, std::move(completion));
    perform(Operation::SaveRecords, [db = database_, records, done] { db->saveRecords(records, done); },
            [done, count = records.size()](const Error& error) {
                done(QList<SaveOutcome>(count, SaveOutcome {std::nullopt, error}));
            });
}

void FaultInjector::addQueryOperation(const Query& query, const DesiredKeys& desiredKeys, int limit,
                                      RecordFetched recordFetched, QueryCompletion completion)
{
    runQuery(std::move(recordFetched), std::move(completion),
             [db = database_, query, desiredKeys, limit](RecordFetched fetched, QueryCompletion done) {
                 db->addQueryOperation(query, desiredKeys, limit, fetched, done);
             });
}

void FaultInjector::continueQuery(const QueryCursor& cursor, const DesiredKeys& desiredKeys, int limit,
                                  RecordFetched recordFetched, QueryCompletion completion)
{
    runQuery(std::move(recordFetched), std::move(completion),
             [db = database_, cursor, desiredKeys, limit](RecordFetched fetched, QueryCompletion done) {
                 db->continueQuery(cursor, desiredKeys, limit, fetched, done);
             });
}

void FaultInjector::runQuery(RecordFetched recordFetched, QueryCompletion completion,
                             std::function<void(RecordFetched, QueryCompletion)> start)
{
    auto fetched = gate(Operation::Query, std::move(recordFetched));
    auto done = gate(Operation::Query, std::move(completion));
    perform(
        Operation::Query, [start = std::move(start), fetched, done] { start(fetched, done); },
        [db = database_, done](const Error& error) { done(std::nullopt, db->serverTime(), error); });
}

void FaultInjector::modifyRecords(const QList<Record>& saves, const QList<RecordID>& deleteIDs,
                                  ModifyCompletion completion)
{
    auto done = gate(Operation::ModifyRecords, std::move(completion));
    perform(Operation::ModifyRecords,
            [db = database_, saves, deleteIDs, done] { db->modifyRecords(saves, deleteIDs, done); },
            [done](const Error& error) { done({}, {}, error); });
}

void FaultInjector::fetchAllSubscriptions(SubscriptionsCompletion completion)
{
    auto done = gate(Operation::FetchAllSubscriptions, std::move(completion));
    perform(Operation::FetchAllSubscriptions, [db = database_, done] { db->fetchAllSubscriptions(done); },
            [done](const Error& error) { done({}, error); });
}

void FaultInjector::saveSubscription(const Subscription& subscription, SubscriptionCompletion completion)
{
    auto done = gate(Operation::SaveSubscription, std::move(completion));
    perform(Operation::SaveSubscription,
            [db = database_, subscription, done] { db->saveSubscription(subscription, done); },
            [done](const Error& error) { done(std::nullopt, error); });
}

void FaultInjector::deleteSubscription(const QString& subscriptionID, DeleteSubscriptionCompletion completion)
{
    auto done = gate(Operation::DeleteSubscription, std::move(completion));
    perform(Operation::DeleteSubscription,
            [db = database_, subscriptionID, done] { db->deleteSubscription(subscriptionID, done); },
            [done, subscriptionID](const Error& error) { done(subscriptionID, error); });
}
