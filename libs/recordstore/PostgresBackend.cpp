#include "PostgresBackend.h"

#include "Clock.h"
#include "Notification.h"
#include "PgConnection.h"
#include "PostgresListener.h"
#include "RecordStoreError.h"
#include "RecordStoreSchema.h"
#include "RecordStoreSql.h"

#include <QCryptographicHash>
#include <QHash>

using namespace RecordStoreSchema;

namespace {

QDateTime fromMSecs(int64_t msecs) { return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC); }

int64_t localMSecs() { return int64_t(Clock::nowPrecise() * 1000.0); }

// Rows of SelectRecordWithFields' shape, one per field, grouped by record.
QList<Record> recordsFromRows(const PgResult& rows, const DesiredKeys& desiredKeys)
{
    QList<Record> records;
    for (int row = 0; row < rows.rows(); ++row) {
        const RecordID id {rows.text(row, 1), rows.text(row, 0)};
        if (records.isEmpty() || records.last().recordID() != id) {
            records.append(Record(rows.text(row, 2), id));
            records.last().setSystemFields(rows.text(row, 3), fromMSecs(rows.integer(row, 4)),
                                           fromMSecs(rows.integer(row, 5)));
        }
        if (rows.isNull(row, 6))
            continue; // a record without fields
        const QString key = rows.text(row, 6);
        if (desiredKeys && !desiredKeys->contains(key))
            continue;
        const int kind = int(rows.integer(row, 7));
        const bool blob = kind == KindData;
        if (auto value = RecordStoreSql::fieldValue(kind, rows.integer(row, 8), rows.real(row, 9), rows.text(row, 10),
                                                    blob ? rows.bytes(row, 11) : QByteArray()))
            records.last().setValue(key, std::move(*value));
    }
    return records;
}

Error notOurs(const QString& schema, const QString& why)
{
    return RecordStoreError::make(RecordStoreError::BadDatabase,
                                  QStringLiteral("schema %1 holds tables of another program (%2); nothing was changed")
                                      .arg(schema, why));
}

} // namespace

PostgresBackend::PostgresBackend(QString connectionString, QString clientID)
    : connectionString_(std::move(connectionString))
    , clientID_(std::move(clientID))
{
}

PostgresBackend::~PostgresBackend() = default;

std::shared_ptr<PostgresBackend> PostgresBackend::open(const QString& connectionString, const QString& clientID,
                                                       Error* error)
{
    std::shared_ptr<PostgresBackend> backend(new PostgresBackend(connectionString, clientID));
    Error failure = backend->connect();
    if (failure.isNull())
        failure = backend->prepare();
    if (!failure.isNull()) {
        setError(error, failure);
        return nullptr;
    }
    return backend;
}

QString PostgresBackend::channel(const QString& schema)
{
    const QString name = QStringLiteral("rs_changes_") + schema;
    // Longer names would be cut by the server, differently for LISTEN and NOTIFY.
    if (name.toUtf8().size() < 64)
        return name;
    return QStringLiteral("rs_changes_")
           + QString::fromLatin1(QCryptographicHash::hash(schema.toUtf8(), QCryptographicHash::Md5).toHex());
}

Error PostgresBackend::connect()
{
    if (connection_ && !connection_->isLost())
        return {};
    connection_.reset();
    Error error;
    connection_ = PgConnection::connect(connectionString_, QStringLiteral("brindlewick ") + clientID_, &error);
    return error;
}

Error PostgresBackend::run(const QString& sql, const QVariantList& arguments, PgResult* result)
{
    const PgResult ran = connection_->exec(PgConnection::numbered(sql), arguments);
    if (result)
        *result = ran;
    return ran.ok() ? Error() : connection_->error(ran);
}

Error PostgresBackend::inTransaction(const std::function<Error()>& body)
{
    Error error = connect();
    if (!error.isNull())
        return error;
    error = run(QStringLiteral("BEGIN"));
    if (error.isNull())
        error = body();
    if (error.isNull())
        error = run(QStringLiteral("COMMIT"));
    if (!error.isNull() && !connection_->isLost())
        run(QStringLiteral("ROLLBACK"));
    return error;
}

Error PostgresBackend::readClock(int64_t& now)
{
    PgResult row;
    const Error error = run(QStringLiteral("SELECT floor(extract(epoch FROM clock_timestamp()) * 1000)::bigint"), {},
                            &row);
    if (error.isNull()) {
        now = row.integer(0, 0);
        clockOffset_ = now - localMSecs();
    }
    return error;
}

QDateTime PostgresBackend::serverTime() const { return fromMSecs(localMSecs() + clockOffset_); }

Error PostgresBackend::prepare()
{
    return inTransaction([this]() -> Error {
        PgResult row;
        Error error = run(QStringLiteral("SELECT current_schema()"), {}, &row);
        if (!error.isNull())
            return error;
        if (row.isNull(0, 0))
            return RecordStoreError::make(RecordStoreError::BadContainer,
                                          QStringLiteral("no schema of the connection's search_path exists or may "
                                                         "be used"));
        schema_ = row.text(0, 0);
        int64_t now = 0;
        // Clients setting up one schema at once would race on its catalog.
        error = run(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(current_schema()))"));
        if (error.isNull())
            error = readClock(now);
        if (error.isNull())
            error = run(QStringLiteral("SELECT count(*) FILTER (WHERE tablename = 'meta'), count(*) FROM pg_tables"
                                       " WHERE schemaname = current_schema() AND tablename IN ('meta', 'records',"
                                       " 'fields', 'subscriptions', 'notifications', 'clients')"),
                        {}, &row);
        if (!error.isNull())
            return error;
        if (row.integer(0, 0) == 0 && row.integer(0, 1) > 0)
            return notOurs(schema_, QStringLiteral("a table of ours without our meta table"));
        if (row.integer(0, 0) == 1) {
            error = run(QString::fromLatin1(SelectSchemaVersion), {}, &row);
            if (!error.isNull())
                return row.sqlState() == "42703" ? notOurs(schema_, QStringLiteral("meta has other columns")) : error;
            bool isNumber = false;
            const int version = row.rows() ? row.text(0, 0).toInt(&isNumber) : 0;
            if (!isNumber)
                return notOurs(schema_, QStringLiteral("meta has no schema version"));
            if (version > Version)
                return RecordStoreError::make(RecordStoreError::IncompatibleVersion,
                                              QStringLiteral("schema %1 has store version %2; this program reads up "
                                                             "to %3")
                                                  .arg(schema_)
                                                  .arg(version)
                                                  .arg(Version));
        }
        for (const QString& statement : ddl(postgres()).split(QLatin1Char(';'), Qt::SkipEmptyParts))
            if (error = run(statement); !error.isNull())
                return error;
        error = run(QString::fromLatin1(InsertMeta), {QString::number(Version), Clock::newUUID()});
        if (error.isNull())
            error = run(QString::fromLatin1(SelectContainerID), {}, &row);
        if (error.isNull())
            containerID_ = row.text(0, 0);
        return error;
    });
}

// --- Records

std::optional<Record> PostgresBackend::fetch(const RecordID& id, const DesiredKeys& desiredKeys, Error* error)
{
    PgResult rows;
    Error failure = connect();
    if (failure.isNull())
        failure = run(QString::fromLatin1(SelectRecordWithFields), {id.zoneName, id.recordName}, &rows);
    if (failure.isNull() && rows.rows() == 0)
        failure = RecordStoreError::make(RecordStoreError::UnknownItem,
                                         QStringLiteral("no record %1").arg(id.recordName));
    setError(error, failure);
    if (!failure.isNull())
        return std::nullopt;
    return recordsFromRows(rows, desiredKeys).first();
}

// A statement per thousand records rather than a round trip per record.
Error PostgresBackend::fetchEach(const QList<RecordID>& ids, QList<Record>& found, QStringList& missing)
{
    constexpr qsizetype PerStatement = 1000;
    QHash<std::pair<QString, QString>, Record> read;
    Error failure = connect();
    for (qsizetype start = 0; failure.isNull() && start < ids.size(); start += PerStatement) {
        const QList<RecordID> part = ids.mid(start, PerStatement);
        QStringList pairs;
        QVariantList arguments;
        for (const RecordID& id : part) {
            pairs << QStringLiteral("(?, ?)");
            arguments << id.zoneName << id.recordName;
        }
        PgResult rows;
        failure = run(QString::fromLatin1(SelectRecordsWithFields).arg(pairs.join(QStringLiteral(", "))), arguments,
                      &rows);
        if (failure.isNull())
            for (Record& record : recordsFromRows(rows, std::nullopt))
                read.insert({record.recordID().zoneName, record.recordID().recordName}, std::move(record));
    }
    if (!failure.isNull())
        return failure;
    return RecordStoreSql::fetchInOrder(ids, found, missing, [&read](const RecordID& id, Error* error) {
        if (const auto it = read.constFind({id.zoneName, id.recordName}); it != read.cend())
            return std::optional<Record>(*it);
        setError(error, RecordStoreError::make(RecordStoreError::UnknownItem,
                                               QStringLiteral("no record %1").arg(id.recordName)));
        return std::optional<Record>();
    });
}

Error PostgresBackend::write(QList<Record>& saves, const QList<RecordID>& deleteIDs, QList<Error>* refusals)
{
    if (auto error = RecordStoreSql::checkChanges(saves, deleteIDs, refusals))
        return *error;
    QList<Record> written = saves;
    pushedSeq_ = 0;
    const Error error = inTransaction([&] {
        Error failure;
        const QList<Subscription> subscribed = subscriptions(&failure);
        // Pushes are numbered in commit order, so a reader that has seen one
        // has seen every push before it.
        if (failure.isNull() && !subscribed.isEmpty())
            failure = run(QStringLiteral("LOCK TABLE notifications IN EXCLUSIVE MODE"));
        int64_t now = 0;
        if (failure.isNull())
            failure = readClock(now);
        if (failure.isNull())
            failure = RecordStoreSql::saveInOrder(written, refusals, [&](Record& record, bool& refused) {
                return saveOne(record, now, subscribed, refused);
            });
        for (const RecordID& id : deleteIDs)
            if (failure.isNull())
                failure = deleteOne(id, now, subscribed);
        if (failure.isNull() && pushedSeq_ > 0)
            failure = run(QString::fromLatin1(PruneNotifications), {qlonglong(now - NotificationLifetimeMSecs)});
        if (failure.isNull() && pushedSeq_ > 0)
            failure = run(QStringLiteral("SELECT pg_notify(?, ?)"),
                          {channel(schema_), QString::number(pushedSeq_)});
        return failure;
    });
    if (error.isNull())
        saves = written;
    return error;
}

Error PostgresBackend::saveOne(Record& record, int64_t now, const QList<Subscription>& subscribed, bool& refused)
{
    const RecordID& id = record.recordID();
    const QString tag = Clock::newUUID().left(13);
    const bool isNew = record.recordChangeTag().isEmpty();
    PgResult written;
    Error error = isNew ? run(QString::fromLatin1(InsertNewRecord),
                              {id.zoneName, id.recordName, record.recordType(), tag, qlonglong(now), qlonglong(now),
                               clientID_},
                              &written)
                        : run(QString::fromLatin1(UpdateRecordWithTag),
                              {record.recordType(), tag, qlonglong(now), clientID_, id.zoneName, id.recordName,
                               record.recordChangeTag()},
                              &written);
    if (!error.isNull())
        return error;
    if (written.affected() == 0) {
        PgResult exists;
        if (error = run(QString::fromLatin1(RecordExists), {id.zoneName, id.recordName}, &exists); !error.isNull())
            return error;
        refused = true;
        if (!isNew && exists.rows() == 0)
            return RecordStoreError::make(RecordStoreError::UnknownItem,
                                          QStringLiteral("record %1 no longer exists").arg(id.recordName));
        return RecordStoreError::make(RecordStoreError::ServerRecordChanged,
                                      QStringLiteral("record %1 was changed by another client").arg(id.recordName));
    }
    const int64_t created = isNew ? now : written.integer(0, 0);
    record.setSystemFields(tag, fromMSecs(created), fromMSecs(now));
    error = run(QString::fromLatin1(DeleteFields), {id.zoneName, id.recordName});
    for (const auto& [key, value] : record.fields()) {
        if (!error.isNull())
            return error;
        QVariantList arguments {id.zoneName, id.recordName, key, int(value.index()), {}, {}, {}, {}};
        arguments[4 + RecordStoreSql::valueColumn(value.index())] = RecordStoreSql::argument(value);
        error = run(QString::fromLatin1(InsertField), arguments);
    }
    if (!error.isNull())
        return error;
    return notify(record, isNew ? RecordStoreSql::Created : RecordStoreSql::Updated, now, subscribed);
}

Error PostgresBackend::deleteOne(const RecordID& id, int64_t now, const QList<Subscription>& subscribed)
{
    Error error;
    std::optional<Record> old;
    if (RecordStoreSql::watchesDeletions(subscribed)) {
        old = fetch(id, std::nullopt, &error);
        if (!error.isNull() && error.code != RecordStoreError::UnknownItem)
            return error;
    }
    error = run(QString::fromLatin1(DeleteFields), {id.zoneName, id.recordName});
    if (error.isNull())
        error = run(QString::fromLatin1(DeleteRecord), {id.zoneName, id.recordName});
    if (!error.isNull() || !old)
        return error;
    return notify(*old, RecordStoreSql::Deleted, now, subscribed);
}

Error PostgresBackend::notify(const Record& record, int reason, int64_t now, const QList<Subscription>& subscribed)
{
    for (const Subscription& subscription : RecordStoreSql::firing(subscribed, record, reason)) {
        PgResult added;
        const Error error = run(QString::fromLatin1(InsertNotification) + QStringLiteral(" RETURNING seq"),
                                {subscription.subscriptionID, record.recordID().zoneName,
                                 record.recordID().recordName, reason, clientID_, qlonglong(now)},
                                &added);
        if (!error.isNull())
            return error;
        pushedSeq_ = added.integer(0, 0);
    }
    return {};
}

Error PostgresBackend::query(const Query& query, const QueryCursor* after, const DesiredKeys& desiredKeys, int limit,
                             const std::function<void(const Record&)>& fetched, std::optional<QueryCursor>& next,
                             QDateTime& readAt)
{
    next.reset();
    if (auto error = query.predicate.validate())
        return *error;
    int64_t now = 0;
    Error error = connect();
    if (error.isNull())
        error = readClock(now); // before the page's snapshot: nothing dated up to it is missed
    if (!error.isNull())
        return error;
    readAt = fromMSecs(now);
    const RecordStoreSql::Statement page = RecordStoreSql::pageOfRecords(query, after, limit);
    PgResult rows;
    error = run(QStringLiteral("WITH page AS (%1) SELECT p.zone, p.name, p.type, p.change_tag, p.created, p.modified,"
                               " f.key, f.kind, f.int, f.real, f.text, f.blob FROM page p LEFT JOIN fields f"
                               " ON f.zone = p.zone AND f.name = p.name ORDER BY p.modified, p.zone, p.name")
                    .arg(page.sql),
                page.arguments, &rows);
    if (!error.isNull())
        return error;
    QList<Record> records = recordsFromRows(rows, desiredKeys);
    next = RecordStoreSql::trimPage(records, query, limit);
    for (const Record& record : records)
        fetched(record);
    return {};
}

// --- Subscriptions

QList<Subscription> PostgresBackend::subscriptions(Error* error)
{
    QList<Subscription> result;
    PgResult rows;
    Error failure = connect();
    if (failure.isNull())
        failure = run(QString::fromLatin1(SelectSubscriptions), {}, &rows);
    setError(error, failure);
    for (int row = 0; failure.isNull() && row < rows.rows(); ++row)
        if (auto subscription = RecordStoreSql::subscriptionFromRow([&](int column) { return rows.text(row, column); }))
            result.append(std::move(*subscription)); // else written by a newer program: it cannot fire here
    return result;
}

Error PostgresBackend::saveSubscription(Subscription& subscription)
{
    Subscription saved = subscription;
    QVariantList row;
    if (auto error = RecordStoreSql::subscriptionRow(saved, row))
        return *error;
    Error error = connect();
    if (error.isNull())
        error = run(QString::fromLatin1(UpsertSubscription), row);
    if (error.isNull())
        subscription = saved;
    return error;
}

Error PostgresBackend::deleteSubscription(const QString& subscriptionID)
{
    PgResult deleted;
    Error error = connect();
    if (error.isNull())
        error = run(QString::fromLatin1(RecordStoreSchema::DeleteSubscription), {subscriptionID}, &deleted);
    if (error.isNull() && deleted.affected() == 0)
        error = RecordStoreError::make(RecordStoreError::UnknownItem,
                                       QStringLiteral("no subscription %1").arg(subscriptionID));
    return error;
}

// --- Push

Error PostgresBackend::startPush(const DispatchQueuePtr& queue, PushSource::Deliver deliver)
{
    const Error error = inTransaction([&] {
        PgResult row;
        Error failure = run(QString::fromLatin1(SelectRegisteredClient), {clientID_}, &row);
        if (!failure.isNull())
            return failure;
        if (row.rows() > 0) { // still registered: catch up from where it stopped
            lastSeq_ = row.integer(0, 0);
            return Error();
        }
        failure = run(QString::fromLatin1(SelectLastNotification), {}, &row);
        if (!failure.isNull())
            return failure;
        lastSeq_ = row.integer(0, 0);
        return run(QString::fromLatin1(UpsertClient),
                   {clientID_, qlonglong(serverTime().toMSecsSinceEpoch()), qlonglong(lastSeq_)});
    });
    if (!error.isNull())
        return error;
    deliver_ = std::move(deliver);
    listener_ = std::make_unique<PostgresListener>(connectionString_, QStringLiteral("brindlewick push ") + clientID_,
                                                   channel(schema_), queue, [this] { deliverPending(); });
    return {};
}

void PostgresBackend::stopPush(bool unregister)
{
    listener_.reset();
    deliver_ = nullptr;
    if (unregister && connect().isNull())
        run(QString::fromLatin1(UnregisterClient), {clientID_});
}

void PostgresBackend::deliverPending()
{
    PgResult rows;
    if (!deliver_ || !connect().isNull()
        || !run(QString::fromLatin1(SelectPendingNotifications), {qlonglong(lastSeq_)}, &rows).isNull()
        || rows.rows() == 0)
        return; // a failure: the next notice or reconnection tries again
    QList<QVariantMap> pushes;
    for (int row = 0; row < rows.rows(); ++row) {
        if (rows.text(row, 5) == clientID_)
            continue;
        const RecordID id {rows.text(row, 3), rows.text(row, 2)};
        pushes.append(Notification::remoteNotificationDictionary(
            rows.text(row, 1), id, Notification::Reason(rows.integer(row, 4)),
            {rows.integer(row, 6) != 0, rows.text(row, 7)}));
    }
    const int64_t seen = rows.integer(rows.rows() - 1, 0);
    // Remember the place first: a push given twice is harmless, one lost is not.
    if (!run(QString::fromLatin1(UpdateClientSeq), {qlonglong(seen), clientID_}).isNull())
        return;
    lastSeq_ = seen;
    for (const QVariantMap& push : pushes)
        deliver_(push);
}
