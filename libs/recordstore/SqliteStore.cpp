#include "SqliteStore.h"

#include "Clock.h"
#include "Folders.h"
#include "Notification.h"
#include "RecordStoreError.h"
#include "RecordStoreSchema.h"
#include "RecordStoreSql.h"
#include "SLDatabase.h"
#include "StoreWatcher.h"

#include <QFileInfo>
#include <QSet>

#include <linux/magic.h>
#include <sys/vfs.h>

using namespace RecordStoreSchema;
using RecordStoreSql::argument;
using RecordStoreSql::valueColumn;

namespace {

QDateTime fromMSecs(int64_t msecs) { return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC); }

int64_t nowMSecs() { return int64_t(Clock::nowPrecise() * 1000.0); }

// SQLite's locking cannot be trusted on these (its documentation warns of
// network file systems; FUSE passes locks on to whatever lies behind it).
bool isUnsafeFileSystem(const QString& folder)
{
    struct statfs info {};
    if (statfs(QFile::encodeName(folder).constData(), &info) != 0)
        return false;
    constexpr long fuse = 0x65735546, cifs = 0xFF534D42, smb2 = 0xFE534D42;
    switch (static_cast<long>(info.f_type)) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case cifs:
    case smb2:
    case fuse:
        return true;
    default:
        return false;
    }
}

std::optional<FieldValue> fieldFromRow(const SLResultSet& row)
{
    return RecordStoreSql::fieldValue(row.intForColumnIndex(1), row.longForColumnIndex(2),
                                      row.doubleForColumnIndex(3), row.stringForColumnIndex(4),
                                      row.dataForColumnIndex(5));
}

Record recordFromRow(const SLResultSet& row)
{
    Record record(row.stringForColumnIndex(2), RecordID {row.stringForColumnIndex(1), row.stringForColumnIndex(0)});
    record.setSystemFields(row.stringForColumnIndex(3), fromMSecs(row.longForColumnIndex(4)),
                           fromMSecs(row.longForColumnIndex(5)));
    return record;
}

} // namespace

SqliteStore::SqliteStore(std::shared_ptr<SLDatabase> db, QString path, QString clientID)
    : db_(std::move(db))
    , path_(std::move(path))
    , clientID_(std::move(clientID))
{
}

SqliteStore::~SqliteStore()
{
    watcher_.reset();
    db_->close();
}

std::shared_ptr<SqliteStore> SqliteStore::open(const QString& path, const QString& clientID, Error* error)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!Folders::ensure(folder)) {
        setError(error, RecordStoreError::make(RecordStoreError::BadContainer,
                                               QStringLiteral("cannot create the folder %1").arg(folder)));
        return nullptr;
    }
    if (isUnsafeFileSystem(folder)) {
        setError(error, RecordStoreError::make(RecordStoreError::BadContainer,
                                               QStringLiteral("%1 is on a network or FUSE file system, where "
                                                              "SQLite locking is unsafe")
                                                   .arg(path)));
        return nullptr;
    }
    auto db = SLDatabase::databaseWithPath(path);
    db->setLogsErrors(false);
    if (!db->open()) {
        setError(error, RecordStoreError::fromSqlite(db->lastErrorCode(),
                                                     QStringLiteral("%1: %2").arg(path, db->lastErrorMessage())));
        return nullptr;
    }
    db->setMaxBusyRetryTimeInterval(5.0);
    db->setShouldCacheStatements(true);
    std::shared_ptr<SqliteStore> store(new SqliteStore(std::move(db), path, clientID));
    const Error failure = store->prepare();
    if (!failure.isNull()) {
        setError(error, failure);
        return nullptr;
    }
    return store;
}

Error SqliteStore::prepare()
{
    // Read before anything writes, so a damaged file is refused untouched.
    db_->longForQuery(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    if (db_->hadError())
        return lastError();
    if (db_->tableExists(QStringLiteral("meta"))) {
        const int version = db_->intForQuery(QString::fromLatin1(SelectSchemaVersion));
        if (version > Version)
            return RecordStoreError::make(RecordStoreError::IncompatibleVersion,
                                          QStringLiteral("%1 has schema version %2; this program reads up to %3")
                                              .arg(path_)
                                              .arg(version)
                                              .arg(Version));
    }
    if (db_->stringForQuery(QStringLiteral("PRAGMA journal_mode = WAL")) != QLatin1String("wal"))
        return lastError();
    const Error error = inTransaction(Write, [this] {
        const bool ok = db_->executeStatements(ddl(sqlite()))
                        && db_->executeUpdate(QString::fromLatin1(InsertMeta), QString::number(Version),
                                              Clock::newUUID());
        return ok ? Error() : lastError();
    });
    if (error.isNull())
        containerID_ = db_->stringForQuery(QString::fromLatin1(SelectContainerID));
    return error;
}

QDateTime SqliteStore::serverTime() const { return fromMSecs(nowMSecs()); }

Error SqliteStore::lastError() const
{
    const int code = db_->lastErrorCode();
    return RecordStoreError::fromSqlite(code == SQLITE_OK ? SQLITE_ERROR : code,
                                        QStringLiteral("%1: %2").arg(path_, db_->lastErrorMessage()));
}

Error SqliteStore::inTransaction(TransactionKind kind, const std::function<Error()>& body)
{
    // A read sees one snapshot: a record's row and its fields always belong together.
    if (!db_->executeUpdate(kind == Write ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN")))
        return lastError();
    Error error = body();
    if (error.isNull() && !db_->executeUpdate(QStringLiteral("COMMIT")))
        error = lastError();
    if (!error.isNull())
        db_->executeUpdate(QStringLiteral("ROLLBACK"));
    return error;
}

// --- Records

bool SqliteStore::readFields(Record& record, const DesiredKeys& desiredKeys)
{
    SLResultSet rows = db_->executeQuery(QString::fromLatin1(SelectFields), record.recordID().zoneName,
                                         record.recordID().recordName);
    while (rows.next()) {
        const QString key = rows.stringForColumnIndex(0);
        if (desiredKeys && !desiredKeys->contains(key))
            continue;
        if (auto value = fieldFromRow(rows))
            record.setValue(key, std::move(*value));
    }
    return !db_->hadError() && !rows.isNull();
}

std::optional<Record> SqliteStore::fetch(const RecordID& id, const DesiredKeys& desiredKeys, Error* error)
{
    std::optional<Record> record;
    const Error failure = inTransaction(Read, [&] {
        Error missing;
        record = readRecord(id, desiredKeys, &missing);
        return missing;
    });
    setError(error, failure);
    return record;
}

// One read transaction for them all, not one each.
Error SqliteStore::fetchEach(const QList<RecordID>& ids, QList<Record>& found, QStringList& missing)
{
    return inTransaction(Read, [&] {
        return RecordStoreSql::fetchInOrder(ids, found, missing, [this](const RecordID& id, Error* error) {
            return readRecord(id, std::nullopt, error);
        });
    });
}

std::optional<Record> SqliteStore::readRecord(const RecordID& id, const DesiredKeys& desiredKeys, Error* error)
{
    SLResultSet row = db_->executeQuery(QString::fromLatin1(SelectRecord), id.zoneName, id.recordName);
    if (!row.next()) {
        setError(error, db_->hadError() || row.isNull()
                            ? lastError()
                            : RecordStoreError::make(RecordStoreError::UnknownItem,
                                                     QStringLiteral("no record %1").arg(id.recordName)));
        return std::nullopt;
    }
    Record record = recordFromRow(row);
    row.close();
    if (!readFields(record, desiredKeys)) {
        setError(error, lastError());
        return std::nullopt;
    }
    return record;
}

Error SqliteStore::write(QList<Record>& saves, const QList<RecordID>& deleteIDs, QList<Error>* refusals)
{
    if (auto error = RecordStoreSql::checkChanges(saves, deleteIDs, refusals))
        return *error;
    QList<Record> written = saves;
    pushesAdded_ = false;
    const Error error = inTransaction(Write, [&] {
        Error failure;
        const QList<Subscription> subscribed = subscriptions(&failure);
        const int64_t now = nowMSecs();
        if (failure.isNull())
            failure = RecordStoreSql::saveInOrder(written, refusals, [&](Record& record, bool& refused) {
                return saveOne(record, now, subscribed, refused);
            });
        for (const RecordID& id : deleteIDs)
            if (failure.isNull())
                failure = deleteOne(id, now, subscribed);
        if (failure.isNull() && pushesAdded_
            && !db_->executeUpdate(QString::fromLatin1(PruneNotifications), qlonglong(now - NotificationLifetimeMSecs)))
            failure = lastError();
        return failure;
    });
    if (!error.isNull())
        return error;
    saves = written;
    if (pushesAdded_)
        StoreWatcher::signalChange(path_);
    return {};
}

Error SqliteStore::saveOne(Record& record, int64_t now, const QList<Subscription>& subscribed, bool& refused)
{
    const RecordID& id = record.recordID();
    SLResultSet current = db_->executeQuery(QString::fromLatin1(SelectTag), id.zoneName, id.recordName);
    const bool exists = current.next();
    const QString storedTag = current.stringForColumnIndex(0);
    const int64_t created = exists ? current.longForColumnIndex(1) : now;
    current.close();
    if (db_->hadError())
        return lastError();
    refused = exists ? storedTag != record.recordChangeTag() : !record.recordChangeTag().isEmpty();
    if (refused && exists)
        return RecordStoreError::make(RecordStoreError::ServerRecordChanged,
                                      QStringLiteral("record %1 was changed by another client").arg(id.recordName));
    if (refused)
        return RecordStoreError::make(RecordStoreError::UnknownItem,
                                      QStringLiteral("record %1 no longer exists").arg(id.recordName));

    record.setSystemFields(Clock::newUUID().left(13), fromMSecs(created), fromMSecs(now));
    bool ok = db_->executeUpdate(QString::fromLatin1(UpsertRecord), id.zoneName, id.recordName, record.recordType(),
                                 record.recordChangeTag(), qlonglong(created), qlonglong(now), clientID_)
              && db_->executeUpdate(QString::fromLatin1(DeleteFields), id.zoneName, id.recordName);
    for (const auto& [key, value] : record.fields()) {
        if (!ok)
            break;
        QVariantList arguments {id.zoneName, id.recordName, key, int(value.index()), {}, {}, {}, {}};
        arguments[4 + valueColumn(value.index())] = argument(value);
        ok = db_->executeUpdateWithArgumentsInArray(QString::fromLatin1(InsertField), arguments);
    }
    if (!ok)
        return lastError();
    return notify(record, exists ? 2 : 1, now, subscribed);
}

Error SqliteStore::deleteOne(const RecordID& id, int64_t now, const QList<Subscription>& subscribed)
{
    const bool watched = RecordStoreSql::watchesDeletions(subscribed);
    Error missing;
    const std::optional<Record> old = watched ? readRecord(id, std::nullopt, &missing) : std::nullopt;
    if (!missing.isNull() && missing.code != RecordStoreError::UnknownItem)
        return missing;
    const bool ok = db_->executeUpdate(QString::fromLatin1(DeleteFields), id.zoneName, id.recordName)
                    && db_->executeUpdate(QString::fromLatin1(DeleteRecord),
                                          id.zoneName, id.recordName);
    if (!ok)
        return lastError();
    return old ? notify(*old, 3, now, subscribed) : Error();
}

Error SqliteStore::notify(const Record& record, int reason, int64_t now, const QList<Subscription>& subscribed)
{
    bool added = false;
    for (const Subscription& subscription : RecordStoreSql::firing(subscribed, record, reason)) {
        if (!db_->executeUpdate(QString::fromLatin1(InsertNotification),
                                subscription.subscriptionID, record.recordID().zoneName,
                                record.recordID().recordName, reason, clientID_, qlonglong(now)))
            return lastError();
        added = true;
    }
    pushesAdded_ = pushesAdded_ || added;
    return {};
}

Error SqliteStore::query(const Query& query, const QueryCursor* after, const DesiredKeys& desiredKeys, int limit,
                         const std::function<void(const Record&)>& fetched, std::optional<QueryCursor>& next,
                         QDateTime& readAt)
{
    if (auto error = query.predicate.validate())
        return *error;
    readAt = serverTime();
    const RecordStoreSql::Statement page = RecordStoreSql::pageOfRecords(query, after, limit);
    QList<Record> records;
    const Error error = inTransaction(Read, [&] {
        SLResultSet rows = db_->executeQueryWithArgumentsInArray(page.sql, page.arguments);
        while (rows.next())
            records.append(recordFromRow(rows));
        if (rows.isNull() || db_->hadError())
            return lastError();
        rows.close();
        next = RecordStoreSql::trimPage(records, query, limit);
        for (Record& record : records)
            if (!readFields(record, desiredKeys))
                return lastError();
        return Error();
    });
    if (!error.isNull()) {
        next.reset();
        return error;
    }
    for (const Record& record : records)
        fetched(record);
    return {};
}

// --- Subscriptions

QList<Subscription> SqliteStore::subscriptions(Error* error)
{
    QList<Subscription> result;
    SLResultSet rows = db_->executeQuery(QString::fromLatin1(SelectSubscriptions));
    while (rows.next())
        if (auto subscription = RecordStoreSql::subscriptionFromRow([&](int column) { return rows[column]; }))
            result.append(std::move(*subscription)); // else written by a newer program: it cannot fire here
    if (rows.isNull() || db_->hadError())
        setError(error, lastError());
    return result;
}

Error SqliteStore::saveSubscription(Subscription& subscription)
{
    Subscription saved = subscription;
    QVariantList row;
    if (auto error = RecordStoreSql::subscriptionRow(saved, row))
        return *error;
    const Error error = inTransaction(Write, [&] {
        const bool ok = db_->executeUpdateWithArgumentsInArray(QString::fromLatin1(UpsertSubscription), row);
        return ok ? Error() : lastError();
    });
    if (error.isNull())
        subscription = saved;
    return error;
}

Error SqliteStore::deleteSubscription(const QString& subscriptionID)
{
    return inTransaction(Write, [&] {
        if (!db_->executeUpdate(QString::fromLatin1(DeleteSubscription), subscriptionID))
            return lastError();
        if (db_->changes() == 0)
            return RecordStoreError::make(RecordStoreError::UnknownItem,
                                          QStringLiteral("no subscription %1").arg(subscriptionID));
        return Error();
    });
}

// --- Push

Error SqliteStore::startPush(const DispatchQueuePtr& queue, PushSource::Deliver deliver)
{
    const Error error = inTransaction(Write, [&] {
        SLResultSet row = db_->executeQuery(
            QString::fromLatin1(SelectRegisteredClient), clientID_);
        if (row.next()) {
            lastSeq_ = row.longForColumnIndex(0);
            return Error();
        }
        row.close();
        lastSeq_ = db_->longForQuery(QString::fromLatin1(SelectLastNotification));
        const bool ok = db_->executeUpdate(
            QString::fromLatin1(UpsertClient),
            clientID_, qlonglong(nowMSecs()), qlonglong(lastSeq_));
        return ok ? Error() : lastError();
    });
    if (!error.isNull())
        return error;
    deliver_ = std::move(deliver);
    watcher_ = std::make_unique<StoreWatcher>(path_, queue, [this] { deliverPending(); });
    return {};
}

void SqliteStore::stopPush(bool unregister)
{
    watcher_.reset();
    deliver_ = nullptr;
    if (unregister)
        db_->executeUpdate(QString::fromLatin1(UnregisterClient), clientID_);
}

void SqliteStore::deliverPending()
{
    if (!deliver_)
        return;
    SLResultSet rows = db_->executeQuery(
        QString::fromLatin1(SelectPendingNotifications),
        qlonglong(lastSeq_));
    QList<QVariantMap> pushes;
    int64_t seen = lastSeq_;
    while (rows.next()) {
        seen = rows.longForColumnIndex(0);
        if (rows.stringForColumnIndex(5) == clientID_)
            continue;
        const RecordID id {rows.stringForColumnIndex(3), rows.stringForColumnIndex(2)};
        pushes.append(Notification::remoteNotificationDictionary(
            rows.stringForColumnIndex(1), id, Notification::Reason(rows.intForColumnIndex(4)),
            {rows.boolForColumnIndex(6), rows.stringForColumnIndex(7)}));
    }
    rows.close();
    if (seen == lastSeq_)
        return;
    // Remember the place first: a push given twice is harmless, one lost is not.
    if (!db_->executeUpdate(QString::fromLatin1(UpdateClientSeq), qlonglong(seen),
                            clientID_))
        return; // busy: the next change or poll tries again
    lastSeq_ = seen;
    for (const QVariantMap& push : pushes)
        deliver_(push);
}
