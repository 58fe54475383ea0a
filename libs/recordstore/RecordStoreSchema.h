#pragma once

#include <QString>

// The tables every SQL backend keeps, in SQL that SQLite and PostgreSQL both
// read once the dialect's words are filled in. One row per field, so a
// predicate on a field is a plain indexed comparison; dates are milliseconds.
namespace RecordStoreSchema {

constexpr int Version = 1;

struct Dialect {
    QString blobType;     // "BLOB", "BYTEA"
    QString sequenceType; // "INTEGER PRIMARY KEY AUTOINCREMENT", "BIGSERIAL PRIMARY KEY"
};

inline Dialect sqlite() { return {QStringLiteral("BLOB"), QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")}; }

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
               " kind INTEGER NOT NULL, int BIGINT, real DOUBLE PRECISION, text TEXT, blob %1,"
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
        .arg(dialect.blobType, dialect.sequenceType);
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

} // namespace RecordStoreSchema
