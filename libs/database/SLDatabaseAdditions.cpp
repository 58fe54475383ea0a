// Convenience operations of the connection: single values, schema questions,
// header values and SQL validation.
#include "SLDatabase.h"

#include "ConsoleLog.h"

SLResultSet SLDatabase::firstRow(const QString& sql, Arguments arguments)
{
    SLResultSet resultSet = query(sql, arguments, nullptr);
    // The caller reads column 0 and drops the handle, which closes the cursor;
    // without a row next() has closed it already and every read answers 0 or null.
    resultSet.next();
    return resultSet;
}

bool SLDatabase::tableExists(const QString& tableName)
{
    SLResultSet resultSet =
        executeQuery(QStringLiteral("select [sql] from sqlite_master where [type] = 'table' and lower(name) = ?"),
                     tableName.toLower());
    const bool found = resultSet.next();
    resultSet.close();
    return found;
}

SLResultSet SLDatabase::getSchema()
{
    return executeQuery(QStringLiteral(
        "SELECT type, name, tbl_name, rootpage, sql FROM (SELECT * FROM sqlite_master UNION ALL SELECT * FROM "
        "sqlite_temp_master) WHERE type != 'meta' AND name NOT LIKE 'sqlite_%' ORDER BY tbl_name, type DESC, name"));
}

SLResultSet SLDatabase::getTableSchema(const QString& tableName)
{
    // The name is bound, never pasted into the SQL text.
    return executeQuery(QStringLiteral("SELECT * FROM pragma_table_info(?)"), tableName);
}

bool SLDatabase::columnExists(const QString& columnName, const QString& tableName)
{
    const QString column = columnName.toLower();
    SLResultSet resultSet = getTableSchema(tableName.toLower());
    bool found = false;
    while (!found && resultSet.next())
        found = resultSet.stringForColumn(QStringLiteral("name")).toLower() == column;
    resultSet.close();
    return found;
}

uint32_t SLDatabase::applicationID()
{
    return static_cast<uint32_t>(longForQuery(QStringLiteral("pragma application_id")));
}

void SLDatabase::setApplicationID(uint32_t appID)
{
    SLResultSet resultSet =
        executeQuery(QStringLiteral("pragma application_id=%1").arg(static_cast<int32_t>(appID)));
    resultSet.next();
    resultSet.close();
}

QString SLDatabase::applicationIDString()
{
    const uint32_t appID = applicationID();
    if (appID == 0)
        return QString();
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text += QChar(QLatin1Char(char((appID >> shift) & 0xff)));
    return text;
}

void SLDatabase::setApplicationIDString(const QString& string)
{
    if (string.size() != 4)
        consoleLog(QStringLiteral("setApplicationIDString: string passed is not exactly 4 chars long. (was %1)")
                       .arg(string.size()));
    // Four Latin-1 characters, most significant first; a short code is padded
    // with spaces as type codes are.
    const QByteArray code = string.left(4).toLatin1().leftJustified(4, ' ');
    uint32_t appID = 0;
    for (const char byte : code)
        appID = (appID << 8) | static_cast<uint8_t>(byte);
    setApplicationID(appID);
}

uint32_t SLDatabase::userVersion()
{
    return static_cast<uint32_t>(longForQuery(QStringLiteral("pragma user_version")));
}

void SLDatabase::setUserVersion(uint32_t version)
{
    SLResultSet resultSet = executeQuery(QStringLiteral("pragma user_version = %1").arg(static_cast<int32_t>(version)));
    resultSet.next();
    resultSet.close();
}

bool SLDatabase::validateSQL(const QString& sql, Error* error)
{
    const QString errorDomain = QStringLiteral("NSCocoaErrorDomain");
    if (!db_) {
        setError(error, Error::make(errorDomain, SQLITE_MISUSE, QString::fromUtf8(sqlite3_errstr(SQLITE_MISUSE))));
        return false;
    }
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(db_, text.constData(), int(text.size()), &statement, nullptr);
    if (rc != SQLITE_OK)
        setError(error, Error::make(errorDomain, lastErrorCode(), lastErrorMessage()));
    sqlite3_finalize(statement);
    return rc == SQLITE_OK;
}
