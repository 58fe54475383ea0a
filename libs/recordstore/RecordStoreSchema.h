#pragma once

#include <QString>

#include <cstdint>

// The tables every SQL backend keeps, in SQL that SQLite and PostgreSQL both
// read once the dialect's words are filled in. One row per field, so a
// predicate on a field is a plain indexed comparison; dates are milliseconds.
namespace RecordStoreSchema {

constexpr int Version = 1;
// Pushes older than this are dropped as new ones come.
constexpr int64_t NotificationLifetimeMSecs = int64_t(7) * 24 * 3600 * 1000;

struct Dialect {
    QString blobType;     // "BLOB", "BYTEA"
    QString sequenceType; // "INTEGER PRIMARY KEY AUTOINCREMENT", "BIGSERIAL PRIMARY KEY"
    QString textOrder;    // how text values compare: by code point, as SQLite does
};

inline Dialect sqlite() { return {QStringLiteral("BLOB"), QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT"), {}}; }
inline Dialect postgres()
{
    return {QStringLiteral("BYTEA"), QStringLiteral("BIGSERIAL PRIMARY KEY"), QStringLiteral(" COLLATE \"C\"")};
}

// Field kinds: the index of the value's type in FieldValue.
enum Kind : int { KindInteger = 0, KindReal = 1, KindData = 2, KindString = 3, KindDate = 4 };

inline QString ddl(const Dialect& dialect)
{
    return QStringLiteral(
               "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL);"
               "CREATE TABLE IF NOT EXISTS records (zone TEXT NOT NULL, name TEXT NOT NULL, type TEXT NOT NULL,"
               " change_tag TEXT NOT NULL, created BIGINT NOT NULL, modified BIGINT NOT NULL,"
               " modified_by TEXT NOT NULL, PRIMARY KEY (zone, name));"
               "CREATE INDEX IF NOT EXISTS records_order ON records (type, modified, zone, name);"
               "CREATE TABLE IF NOT EXISTS fields (zone TEXT NOT NULL, name TEXT NOT NULL, key TEXT NOT NULL,"
               " kind INTEGER NOT NULL, int BIGINT, real DOUBLE PRECISION, text TEXT%3, blob %1,"
               " PRIMARY KEY (zone, name, key));"
               "CREATE INDEX IF NOT EXISTS fields_key_int ON fields (key, int);"
               "CREATE TABLE IF NOT EXISTS subscriptions (id TEXT PRIMARY KEY, record_type TEXT NOT NULL,"
               " predicate TEXT NOT NULL, options INTEGER NOT NULL, content_available INTEGER NOT NULL,"
               " alert_body TEXT NOT NULL);"
               "CREATE TABLE IF NOT EXISTS notifications (seq %2, sub_id TEXT NOT NULL, zone TEXT NOT NULL,"
               " name TEXT NOT NULL, reason INTEGER NOT NULL, origin TEXT NOT NULL, created BIGINT NOT NULL);"
               "CREATE INDEX IF NOT EXISTS notifications_created ON notifications (created);"
               "CREATE TABLE IF NOT EXISTS clients (client_id TEXT PRIMARY KEY, registered BIGINT NOT NULL,"
               " last_seq BIGINT NOT NULL);")
        .arg(dialect.blobType, dialect.sequenceType, dialect.textOrder);
}

// The statements of a record save, shared with the benchmark's raw peer.
inline const char* const SelectTag = "SELECT change_tag, created FROM records WHERE zone = ? AND name = ?";
inline const char* const UpsertRecord =
    "INSERT INTO records (zone, name, type, change_tag, created, modified, modified_by) VALUES (?, ?, ?, ?, ?, ?, ?)"
    " ON CONFLICT (zone, name) DO UPDATE SET type = excluded.type, change_tag = excluded.change_tag,"
    " modified = excluded.modified, modified_by = excluded.modified_by";
inline const char* const DeleteFields = "DELETE FROM fields WHERE zone = ? AND name = ?";
inline const char* const InsertField =
    "INSERT INTO fields (zone, name, key, kind, int, real, text, blob) VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
// The statements of a record fetch.
inline const char* const SelectRecord =
    "SELECT zone, name, type, change_tag, created, modified FROM records WHERE zone = ? AND name = ?";
inline const char* const SelectFields =
    "SELECT key, kind, int, real, text, blob FROM fields WHERE zone = ? AND name = ?";

inline const char* const DeleteRecord = "DELETE FROM records WHERE zone = ? AND name = ?";
// PostgreSQL's compare-and-swap: no row written means another client won.
inline const char* const InsertNewRecord =
    "INSERT INTO records (zone, name, type, change_tag, created, modified, modified_by) VALUES (?, ?, ?, ?, ?, ?, ?)"
    " ON CONFLICT (zone, name) DO NOTHING";
inline const char* const UpdateRecordWithTag =
    "UPDATE records SET type = ?, change_tag = ?, modified = ?, modified_by = ? WHERE zone = ? AND name = ?"
    " AND change_tag = ? RETURNING created";
inline const char* const RecordExists = "SELECT 1 FROM records WHERE zone = ? AND name = ?";
#define RECORDSTORE_RECORD_WITH_FIELDS                                                                          \
    "SELECT r.zone, r.name, r.type, r.change_tag, r.created, r.modified, f.key, f.kind, f.int, f.real, f.text, f.blob" \
    " FROM records r LEFT JOIN fields f ON f.zone = r.zone AND f.name = r.name"
// A record and its fields in one statement, one row per field.
inline const char* const SelectRecordWithFields = RECORDSTORE_RECORD_WITH_FIELDS " WHERE r.zone = ? AND r.name = ?";
// The same of several records, each one's rows together; %1 stands for "(?, ?)" per record.
inline const char* const SelectRecordsWithFields =
    RECORDSTORE_RECORD_WITH_FIELDS " WHERE (r.zone, r.name) IN (%1) ORDER BY r.zone, r.name";
#undef RECORDSTORE_RECORD_WITH_FIELDS

// Meta, subscriptions and pushes.
inline const char* const InsertMeta =
    "INSERT INTO meta (key, value) VALUES ('schema_version', ?), ('container_id', ?) ON CONFLICT (key) DO NOTHING";
inline const char* const SelectSchemaVersion = "SELECT value FROM meta WHERE key = 'schema_version'";
inline const char* const SelectContainerID = "SELECT value FROM meta WHERE key = 'container_id'";
inline const char* const SelectSubscriptions =
    "SELECT id, record_type, predicate, options, content_available, alert_body FROM subscriptions ORDER BY id";
inline const char* const UpsertSubscription =
    "INSERT INTO subscriptions (id, record_type, predicate, options, content_available, alert_body)"
    " VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (id) DO UPDATE SET record_type = excluded.record_type,"
    " predicate = excluded.predicate, options = excluded.options, content_available = excluded.content_available,"
    " alert_body = excluded.alert_body";
inline const char* const DeleteSubscription = "DELETE FROM subscriptions WHERE id = ?";
inline const char* const InsertNotification =
    "INSERT INTO notifications (sub_id, zone, name, reason, origin, created) VALUES (?, ?, ?, ?, ?, ?)";
inline const char* const PruneNotifications = "DELETE FROM notifications WHERE created < ?";
inline const char* const SelectRegisteredClient = "SELECT last_seq FROM clients WHERE client_id = ? AND registered > 0";
inline const char* const SelectLastNotification = "SELECT COALESCE(MAX(seq), 0) FROM notifications";
inline const char* const UpsertClient =
    "INSERT INTO clients (client_id, registered, last_seq) VALUES (?, ?, ?) ON CONFLICT (client_id) DO UPDATE SET"
    " registered = excluded.registered, last_seq = excluded.last_seq";
inline const char* const UnregisterClient = "UPDATE clients SET registered = 0 WHERE client_id = ?";
inline const char* const SelectPendingNotifications =
    "SELECT n.seq, n.sub_id, n.zone, n.name, n.reason, n.origin, s.content_available, s.alert_body"
    " FROM notifications n JOIN subscriptions s ON s.id = n.sub_id WHERE n.seq > ? ORDER BY n.seq";
inline const char* const UpdateClientSeq = "UPDATE clients SET last_seq = ? WHERE client_id = ?";

} // namespace RecordStoreSchema
