#pragma once

// Waiting helpers for the record store tests: each runs one operation and
// waits (bounded) for its completion, checking it came on the database's queue.

#include "Container.h"
#include "Database.h"
#include "PushCenter.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

namespace RecordStoreTest {

constexpr double DeliveryTimeout = 10.0;

template <typename T>
T await(std::future<T>& future)
{
    if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the operation never completed";
        std::abort(); // the pending callback still refers to this frame
    }
    return future.get();
}

// Makes a completion that hands its arguments over as a tuple.
template <typename... Args>
auto completing(const std::shared_ptr<std::promise<std::tuple<std::decay_t<Args>...>>>& promise,
                const DispatchQueuePtr& queue)
{
    return [promise, queue](Args... args) {
        EXPECT_TRUE(queue->isCurrent()) << "a callback ran off the database's queue";
        promise->set_value(std::make_tuple(std::decay_t<Args>(args)...));
    };
}

// Starts one operation with a completion and waits for its arguments.
template <typename... Args, typename Start>
std::tuple<std::decay_t<Args>...> call(Database& db, Start start)
{
    auto promise = std::make_shared<std::promise<std::tuple<std::decay_t<Args>...>>>();
    auto future = promise->get_future();
    start(completing<Args...>(promise, db.queue()));
    return await(future);
}

struct Fetched {
    std::optional<Record> record;
    Error error;
};

inline Fetched fetch(Database& db, const RecordID& id)
{
    auto [record, error] = call<std::optional<Record>, Error>(db, [&](auto done) { db.fetchRecord(id, done); });
    return {record, error};
}

inline Fetched save(Database& db, const Record& record)
{
    auto [saved, error] = call<std::optional<Record>, Error>(db, [&](auto done) { db.saveRecord(record, done); });
    return {saved, error};
}

struct FetchedMany {
    QList<Record> records;
    Error error;
};

inline FetchedMany fetchAll(Database& db, const QList<RecordID>& ids)
{
    auto [records, error] = call<QList<Record>, Error>(db, [&](auto done) { db.fetchRecords(ids, done); });
    return {records, error};
}

struct Modified {
    QList<Record> saved;
    QList<RecordID> deleted;
    Error error;
};

inline Modified modify(Database& db, const QList<Record>& saves, const QList<RecordID>& deletes)
{
    auto [saved, deleted, error] = call<QList<Record>, QList<RecordID>, Error>(
        db, [&](auto done) { db.modifyRecords(saves, deletes, done); });
    return {saved, deleted, error};
}

inline QList<Database::SaveOutcome> saveAll(Database& db, const QList<Record>& records)
{
    auto [outcomes] = call<QList<Database::SaveOutcome>>(db, [&](auto done) { db.saveRecords(records, done); });
    return outcomes;
}

struct Page {
    QList<Record> records;
    std::optional<QueryCursor> cursor;
    QDateTime serverTime;
    Error error;
};

// One page of a query, or of its continuation when a cursor is given.
inline Page query(Database& db, const Query& q, const DesiredKeys& keys = std::nullopt, int limit = 0,
                  const std::optional<QueryCursor>& after = std::nullopt)
{
    auto records = std::make_shared<QList<Record>>();
    const auto fetched = [records](const Record& record) { records->append(record); };
    auto [cursor, time, error] = call<std::optional<QueryCursor>, QDateTime, Error>(db, [&](auto done) {
        if (after)
            db.continueQuery(*after, keys, limit, fetched, done);
        else
            db.addQueryOperation(q, keys, limit, fetched, done);
    });
    return {*records, cursor, time, error};
}

inline QStringList names(const QList<Record>& records)
{
    QStringList result;
    for (const Record& record : records)
        result.append(record.recordID().recordName);
    return result;
}

inline std::pair<QList<Subscription>, Error> subscriptions(Database& db)
{
    auto [list, error] = call<QList<Subscription>, Error>(db, [&](auto done) { db.fetchAllSubscriptions(done); });
    return {list, error};
}

inline std::pair<std::optional<Subscription>, Error> subscribe(Database& db, const Subscription& subscription)
{
    auto [saved, error] = call<std::optional<Subscription>, Error>(
        db, [&](auto done) { db.saveSubscription(subscription, done); });
    return {saved, error};
}

inline Error unsubscribe(Database& db, const QString& id)
{
    return std::get<1>(call<QString, Error>(db, [&](auto done) { db.deleteSubscription(id, done); }));
}

// Records what a push center tells the application.
struct PushRecorder : PushCenterDelegate {
    QList<QByteArray> tokens;
    QList<Error> failures;
    QList<QVariantMap> received;
    void didRegister(const QByteArray& token) override { tokens.append(token); }
    void didFail(const Error& error) override { failures.append(error); }
    void didReceive(const QVariantMap& dictionary) override { received.append(dictionary); }
};

inline bool waitUntil(const std::function<bool()>& done)
{
    return DispatchQueue::runMainUntil(done, DeliveryTimeout);
}

} // namespace RecordStoreTest
