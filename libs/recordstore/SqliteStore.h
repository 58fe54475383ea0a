#pragma once

#include "StoreBackend.h"

#include <memory>

class SLDatabase;
class StoreWatcher;

// The SQLite side of one client of a store file. Each change is one
// BEGIN IMMEDIATE transaction that also adds its pushes.
class SqliteStore final : public StoreBackend {
public:
    // Refuses network and FUSE file systems (5), a damaged file (24, left as it
    // is) and a schema newer than this program's (18).
    static std::shared_ptr<SqliteStore> open(const QString& path, const QString& clientID, Error* error);
    ~SqliteStore() override;

    QString containerID() const override { return containerID_; }
    QDateTime serverTime() const override;

    std::optional<Record> fetch(const RecordID& id, const DesiredKeys& desiredKeys, Error* error) override;
    Error fetchEach(const QList<RecordID>& ids, QList<Record>& found, QStringList& missing) override;
    Error query(const Query& query, const QueryCursor* after, const DesiredKeys& desiredKeys, int limit,
                const std::function<void(const Record&)>& fetched, std::optional<QueryCursor>& next,
                QDateTime& readAt) override;

    QList<Subscription> subscriptions(Error* error) override;
    Error saveSubscription(Subscription& subscription) override;
    Error deleteSubscription(const QString& subscriptionID) override;

    // The watcher calls back on the given queue.
    Error startPush(const DispatchQueuePtr& queue, PushSource::Deliver deliver) override;
    void stopPush(bool unregister) override;
    void deliverPending() override;

private:
    SqliteStore(std::shared_ptr<SLDatabase> db, QString path, QString clientID);
    Error prepare();
    Error lastError() const;
    enum TransactionKind { Read, Write };
    Error inTransaction(TransactionKind kind, const std::function<Error()>& body);
    Error write(QList<Record>& saves, const QList<RecordID>& deleteIDs, QList<Error>* refusals) override;
    std::optional<Record> readRecord(const RecordID& id, const DesiredKeys& desiredKeys, Error* error);
    // refused: by the change tag, before writing anything.
    Error saveOne(Record& record, int64_t now, const QList<Subscription>& subscriptions, bool& refused);
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
