#pragma once

#include "Dispatch.h"
#include "Error.h"
#include "PushSource.h"
#include "Query.h"
#include "Record.h"
#include "Subscription.h"

#include <QList>

#include <memory>
#include <optional>

class SLDatabase;
class StoreWatcher;

// The SQLite side of one client of a store file. Not thread-safe: every call
// but open() comes from the client's serial queue. Each change is one
// BEGIN IMMEDIATE transaction that also adds its pushes.
class SqliteStore {
public:
    // Refuses network and FUSE file systems (5), a damaged file (24, left as it
    // is) and a schema newer than this program's (18).
    static std::shared_ptr<SqliteStore> open(const QString& path, const QString& clientID, Error* error);
    ~SqliteStore();

    QString containerID() const { return containerID_; }
    // The clock that dates saves, in whole milliseconds.
    static QDateTime serverTime();

    std::optional<Record> fetch(const RecordID& id, const DesiredKeys& desiredKeys, Error* error);
    // Writes all or nothing; the saved records get their new system fields.
    Error modify(QList<Record>& saves, const QList<RecordID>& deleteIDs);
    // Calls fetched for each record of the page; next is set when more follow.
    Error query(const Query& query, const QueryCursor* after, const DesiredKeys& desiredKeys, int limit,
                const std::function<void(const Record&)>& fetched, std::optional<QueryCursor>& next);

    QList<Subscription> subscriptions(Error* error);
    Error saveSubscription(Subscription& subscription);
    Error deleteSubscription(const QString& subscriptionID);

    // Push: see PushSource. The watcher calls back on the given queue.
    Error startPush(const DispatchQueuePtr& queue, PushSource::Deliver deliver);
    void stopPush(bool unregister);
    void deliverPending();

private:
    SqliteStore(std::shared_ptr<SLDatabase> db, QString path, QString clientID);
    Error prepare();
    Error lastError() const;
    enum TransactionKind { Read, Write };
    Error inTransaction(TransactionKind kind, const std::function<Error()>& body);
    std::optional<Record> readRecord(const RecordID& id, const DesiredKeys& desiredKeys, Error* error);
    Error saveOne(Record& record, int64_t now, const QList<Subscription>& subscriptions);
    Error deleteOne(const RecordID& id, int64_t now, const QList<Subscription>& subscriptions);
    Error notify(const Record& record, int reason, int64_t now, const QList<Subscription>& subscriptions);
    bool readFields(Record& record, const DesiredKeys& desiredKeys);

    std::shared_ptr<SLDatabase> db_;
    QString path_;
    QString clientID_;
    QString containerID_;
    int64_t lastSeq_ = 0;
    bool pushesAdded_ = false; // by the transaction running now
    PushSource::Deliver deliver_;
    std::unique_ptr<StoreWatcher> watcher_;
};
