#pragma once

// Waiting helpers for the record store tests: each runs one operation and
// waits (bounded) for its completion, checking it came on the database's queue.

#include "Container.h"
#include "Database.h"
#include "PushCenter.h"

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

struct Fetched {
    std::optional<Record> record;
    Error error;
};

inline Fetched fetch(Database& db, const RecordID& id)
{
    auto promise = std::make_shared<std::promise<std::tuple<std::optional<Record>, Error>>>();
    auto future = promise->get_future();
    db.fetchRecord(id, completing<std::optional<Record>, Error>(promise, db.queue()));
    auto [record, error] = await(future);
    return {record, error};
}

inline Fetched save(Database& db, const Record& record)
{
    auto promise = std::make_shared<std::promise<std::tuple<std::optional<Record>, Error>>>();
    auto future = promise->get_future();
    db.saveRecord(record, completing<std::optional<Record>, Error>(promise, db.queue()));
    auto [saved, error] = await(future);
    return {saved, error};
}

struct Modified {
    QList<Record> saved;
    QList<RecordID> deleted;
    Error error;
};

inline Modified modify(Database& db, const QList<Record>& saves, const QList<RecordID>& deletes)
{
    auto promise = std::make_shared<std::promise<std::tuple<QList<Record>, QList<RecordID>, Error>>>();
    auto future = promise->get_future();
    db.modifyRecords(saves, deletes, completing<QList<Record>, QList<RecordID>, Error>(promise, db.queue()));
    auto [saved, deleted, error] = await(future);
    return {saved, deleted, error};
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
    auto promise = std::make_shared<std::promise<std::tuple<std::optional<QueryCursor>, QDateTime, Error>>>();
    auto future = promise->get_future();
    const auto fetched = [records](const Record& record) { records->append(record); };
    const auto done = completing<std::optional<QueryCursor>, QDateTime, Error>(promise, db.queue());
    if (after)
        db.continueQuery(*after, keys, limit, fetched, done);
    else
        db.addQueryOperation(q, keys, limit, fetched, done);
    auto [cursor, time, error] = await(future);
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
    auto promise = std::make_shared<std::promise<std::tuple<QList<Subscription>, Error>>>();
    auto future = promise->get_future();
    db.fetchAllSubscriptions(completing<QList<Subscription>, Error>(promise, db.queue()));
    auto [list, error] = await(future);
    return {list, error};
}

inline std::pair<std::optional<Subscription>, Error> subscribe(Database& db, const Subscription& subscription)
{
    auto promise = std::make_shared<std::promise<std::tuple<std::optional<Subscription>, Error>>>();
    auto future = promise->get_future();
    db.saveSubscription(subscription, completing<std::optional<Subscription>, Error>(promise, db.queue()));
    auto [saved, error] = await(future);
    return {saved, error};
}

inline Error unsubscribe(Database& db, const QString& id)
{
    auto promise = std::make_shared<std::promise<std::tuple<QString, Error>>>();
    auto future = promise->get_future();
    db.deleteSubscription(id, completing<QString, Error>(promise, db.queue()));
    return std::get<1>(await(future));
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
