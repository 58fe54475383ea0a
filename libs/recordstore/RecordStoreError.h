#pragma once

#include "Error.h"

#include <QString>

// Errors of the record store: domain "RecordStoreErrorDomain", codes 1 to 28.
namespace RecordStoreError {

inline const char* const Domain = "RecordStoreErrorDomain";

enum Code : int {
    InternalError = 1,
    PartialFailure = 2,
    NetworkUnavailable = 3,
    NetworkFailure = 4,
    BadContainer = 5,
    ServiceUnavailable = 6,
    RequestRateLimited = 7,
    MissingEntitlement = 8,
    NotAuthenticated = 9,
    PermissionFailure = 10,
    UnknownItem = 11,
    InvalidArguments = 12,
    ResultsTruncated = 13,
    ServerRecordChanged = 14,
    ServerRejectedRequest = 15,
    AssetFileNotFound = 16,
    AssetFileModified = 17,
    IncompatibleVersion = 18,
    ConstraintViolation = 19,
    OperationCancelled = 20,
    ChangeTokenExpired = 21,
    BatchRequestFailed = 22,
    ZoneBusy = 23,
    BadDatabase = 24,
    QuotaExceeded = 25,
    ZoneNotFound = 26,
    LimitExceeded = 27,
    UserDeletedZone = 28,
};

Error make(int code, const QString& description);
// The store error for a failed SQLite call (primary or extended result code).
Error fromSqlite(int sqliteCode, const QString& message);
// The store error for a failed PostgreSQL statement: NetworkFailure (4) when
// the connection was lost, else by its SQLSTATE.
Error fromPostgres(const QByteArray& sqlState, const QString& message, bool connectionLost);
// The store error for a connection that could not be made. libpq reports no
// SQLSTATE then, so the server's message tells.
Error fromPostgresConnect(const QString& message);

} // namespace RecordStoreError
