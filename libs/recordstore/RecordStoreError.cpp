#include "RecordStoreError.h"

#include <QHash>

#include <sqlite3.h>

namespace RecordStoreError {

Error make(int code, const QString& description)
{
    return Error::make(QString::fromLatin1(Domain), code, description);
}

Error fromSqlite(int sqliteCode, const QString& message)
{
    switch (sqliteCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return make(ZoneBusy, message);
    case SQLITE_FULL:
        return make(QuotaExceeded, message);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return make(BadDatabase, message);
    case SQLITE_CANTOPEN:
        return make(BadContainer, message);
    default:
        return make(InternalError, message);
    }
}

Error fromPostgres(const QByteArray& sqlState, const QString& message, bool connectionLost)
{
    static const QHash<QByteArray, Code> codes {
        {"57P01", ServiceUnavailable}, {"57P03", ServiceUnavailable}, {"53300", RequestRateLimited},
        {"28P01", NotAuthenticated},   {"28000", NotAuthenticated},   {"42501", PermissionFailure},
        {"23505", ServerRecordChanged}, {"40001", ServerRecordChanged}, {"55P03", ZoneBusy},
        {"53100", QuotaExceeded},      {"42P01", BadDatabase},        {"57014", OperationCancelled},
    };
    // A server going down says 57P01 as it closes the connection, or nothing
    // when the connection breaks first: either way the connection is lost.
    if (connectionLost)
        return make(NetworkFailure, QStringLiteral("the connection to the store was lost: %1").arg(message));
    if (const auto code = codes.constFind(sqlState); code != codes.constEnd())
        return make(*code, message);
    return make(InternalError, message);
}

Error fromPostgresConnect(const QString& message)
{
    static const struct {
        const char* text;
        Code code;
    } patterns[] = {
        {"authentication failed", NotAuthenticated}, {"no password supplied", NotAuthenticated},
        {"no pg_hba.conf entry", NotAuthenticated},  {"role \"", NotAuthenticated},
        {"too many clients", RequestRateLimited},    {"starting up", ServiceUnavailable},
        {"shutting down", ServiceUnavailable},       {"in recovery", ServiceUnavailable},
    };
    for (const auto& pattern : patterns)
        if (message.contains(QLatin1String(pattern.text)))
            return make(pattern.code, message);
    return make(NetworkUnavailable, message); // refused, no such socket, unknown host
}

} // namespace RecordStoreError
