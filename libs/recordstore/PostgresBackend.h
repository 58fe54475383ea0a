#pragma once

#include "StoreBackend.h"

#include <atomic>
#include <memory>

class PgConnection;
class PgResult;
class PostgresListener;

// The store in a PostgreSQL schema, shared by every machine of a user: the
// schema is the first of the connection's search_path, and PostgreSQL's roles
// decide who may use it. All SQL runs on the client's queue over one
// connection; one lost fails the operation in flight (4) and the next one
// reconnects. Dates come from the server's clock, so machines whose clocks
// differ agree on fetch windows. A saving transaction announces its pushes
// with NOTIFY, which the server delivers on commit.
class PostgresBackend final : public StoreBackend {
public:
    // A bad connection string (12), an unreachable server (3), a schema that
    // holds another program's tables (24, left untouched) or a newer store (18)
    // is refused.
    static std::shared_ptr<PostgresBackend> open(const QString& connectionString, const QString& clientID,
                                                 Error* error);
    ~PostgresBackend() override;

    const QString& schema() const { return schema_; }
    // The NOTIFY channel of a schema.
    static QString channel(const QString& schema);

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

    Error startPush(const DispatchQueuePtr& queue, PushSource::Deliver deliver) override;
    void stopPush(bool unregister) override;
    void deliverPending() override;

private:
    PostgresBackend(QString connectionString, QString clientID);
    Error connect();
    Error prepare();
    Error run(const QString& sql, const QVariantList& arguments = {}, PgResult* result = nullptr);
    Error inTransaction(const std::function<Error()>& body);
    // The server's clock in milliseconds; also corrects serverTime().
    Error readClock(int64_t& now);
    Error write(QList<Record>& saves, const QList<RecordID>& deleteIDs, QList<Error>* refusals) override;
    // refused: by the change tag, before writing anything.
    Error saveOne(Record& record, int64_t now, const QList<Subscription>& subscribed, bool& refused);
    Error deleteOne(const RecordID& id, int64_t now, const QList<Subscription>& subscribed);
    Error notify(const Record& record, int reason, int64_t now, const QList<Subscription>& subscribed);

    QString connectionString_;
    QString clientID_;
    QString containerID_;
    QString schema_;
    std::unique_ptr<PgConnection> connection_;
    std::atomic<int64_t> clockOffset_ {0}; // server minus local, milliseconds
    int64_t pushedSeq_ = 0;                 // the last push the running transaction added
    int64_t lastSeq_ = 0;
    PushSource::Deliver deliver_;
    std::unique_ptr<PostgresListener> listener_;
};
