#include "RecordStoreError.h"

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

} // namespace RecordStoreError
