#pragma once

#include "Error.h"
#include "SLResultSet.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QVariant>

#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <span>
#include <type_traits>
#include <vector>

class SLStatement;

// One connection to one SQLite database file. Not for two threads at once:
// callers serialise all use of one connection (the note store on its database
// queue). The in-use flag only catches re-entry from the same thread.
// Failures answer false or an empty result set, with details on the console.
//
// Arguments are QVariants: integers bind as 32- or 64-bit integers (unsigned
// ones keep their bits), floats as doubles, QByteArray as a blob (an empty one
// stays an empty blob, never NULL), QDateTime as seconds since 1970 or as text
// in the date format, QString as UTF-8 text, a null QVariant or nullptr as NULL,
// anything else as its text.
class SLDatabase : public std::enable_shared_from_this<SLDatabase> {
public:
    using FunctionBlock = std::function<void(sqlite3_context* context, int argc, sqlite3_value** argv)>;
    using StatementCache = QHash<QString, QList<std::shared_ptr<SLStatement>>>;

    // A null path: an in-memory database; an empty path: a temporary file; else the file.
    static std::shared_ptr<SLDatabase> databaseWithPath(const QString& path = QString());
    // An inert connection: it never opens, logs nothing, its statements do
    // nothing and its queries yield no rows. Stands in where there is no database.
    static std::shared_ptr<SLDatabase> nullDatabase();
    // Removes a closed database file with its journal, write-ahead log and
    // shared-memory files.
    static void removeDatabaseFiles(const QString& path);
    ~SLDatabase();
    SLDatabase(const SLDatabase&) = delete;
    SLDatabase& operator=(const SLDatabase&) = delete;

    static QString SLDBUserVersion();
    static uint32_t SLDBVersion();
    static QString sqliteLibVersion();
    static bool isSQLiteThreadSafe();

    sqlite3* sqliteHandle() const { return db_; }
    QByteArray sqlitePath() const;
    QString databasePath() const { return databasePath_; }
    QString description() const;

    // --- Opening and closing
    // True when open. A failure keeps its code and message for lastErrorCode()
    // and lastErrorMessage(), releases the failed handle, and the next call tries again.
    bool open();
    bool openWithFlags(int flags);
    // Finalizes cached and leaked statements, closes result sets; always true.
    bool close();
    // The not-open check: false, with a log line, while there is no connection.
    bool databaseExists() const;

    double maxBusyRetryTimeInterval() const { return maxBusyRetryTimeInterval_; }
    void setMaxBusyRetryTimeInterval(double seconds);
    int busyRetryTimeout() const;          // retired: logs and answers -1
    void setBusyRetryTimeout(int timeout); // retired: logs and does nothing

    // --- Errors
    int lastErrorCode() const;
    QString lastErrorMessage() const;
    bool hadError() const;
    Error errorWithMessage(const QString& message) const;
    Error lastError() const;

    // --- Result sets and functions
    bool hasOpenResultSets() const;
    void closeOpenResultSets();
    // Registers a scalar SQL function; the block sets the result through sqlite3_result_*.
    void makeFunctionNamed(const QString& name, int maximumArguments, FunctionBlock block);
    // True once makeFunctionNamed registered the name on the open connection.
    bool hasFunctionNamed(const QString& name) const { return db_ && functionNames_.contains(name); }
    // Values kept with the open connection, keyed by address, dropped when it closes.
    std::shared_ptr<void> attachment(const void* key) const { return attachments_.value(key); }
    void setAttachment(const void* key, std::shared_ptr<void> value) { attachments_.insert(key, std::move(value)); }

    // --- Dates: seconds since 1970 unless a format is set; a format stores
    // dates as text in that pattern, in UTC, with the en_US names. Empty clears it.
    void setDateFormat(const QString& format);
    bool hasDateFormatter() const { return !dateFormat_.isEmpty(); }
    QDateTime dateFromString(const QString& text) const;
    QString stringFromDate(const QDateTime& date) const;

    // Encryption is not available: these answer false and change nothing.
    bool setKey(const QString& key);
    bool rekey(const QString& key);
    bool setKeyWithData(const QByteArray& key);
    bool rekeyWithData(const QByteArray& key);

    bool logsErrors() const { return logsErrors_; }
    void setLogsErrors(bool on) { logsErrors_ = on; }
    bool crashOnErrors() const { return crashOnErrors_; }
    void setCrashOnErrors(bool on) { crashOnErrors_ = on; }
    bool traceExecution() const { return traceExecution_; }
    void setTraceExecution(bool on) { traceExecution_ = on; }
    bool checkedOut() const { return checkedOut_; }
    void setCheckedOut(bool on) { checkedOut_ = on; }

    // --- Running SQL. Positional arguments fill the ? placeholders in order:
    // too few is an error, extra ones are not read. Dictionary keys fill :key.
    template <typename... Args>
    bool executeUpdate(const QString& sql, const Args&... args)
    {
        return update(sql, nullptr, argumentArray(args...), nullptr);
    }
    template <typename... Args>
    bool executeUpdateWithErrorAndBindings(const QString& sql, Error* error, const Args&... args)
    {
        return update(sql, error, argumentArray(args...), nullptr);
    }
    bool executeUpdateWithArgumentsInArray(const QString& sql, const QVariantList& arguments);
    bool executeUpdateWithParameterDictionary(const QString& sql, const QVariantMap& arguments);
    // printf-like: %@ %c %s %d %i %u %hi %hu %qi %qu %lld %llu %ld %lu %f %g become
    // bound parameters; a null %@ argument writes NULL into the text.
    template <typename... Args>
    bool executeUpdateWithFormat(const QString& format, const Args&... args)
    {
        QString sql;
        QVariantList arguments;
        extractSQL(format, {toArgument(args)...}, sql, arguments);
        return executeUpdateWithArgumentsInArray(sql, arguments);
    }

    template <typename... Args>
    SLResultSet executeQuery(const QString& sql, const Args&... args)
    {
        return query(sql, argumentArray(args...), nullptr);
    }
    SLResultSet executeQueryWithArgumentsInArray(const QString& sql, const QVariantList& arguments);
    SLResultSet executeQueryWithParameterDictionary(const QString& sql, const QVariantMap& arguments);
    template <typename... Args>
    SLResultSet executeQueryWithFormat(const QString& format, const Args&... args)
    {
        QString sql;
        QVariantList arguments;
        extractSQL(format, {toArgument(args)...}, sql, arguments);
        return executeQueryWithArgumentsInArray(sql, arguments);
    }

    // Runs every statement of the text; the block sees each result row as
    // column name to text (a null QVariant for NULL) and stops the run by
    // answering non-zero.
    bool executeStatements(const QString& sql);
    bool executeStatements(const QString& sql, const std::function<int(const QVariantMap& row)>& block);

    // Binds one value at a 1-based index. Text and blob bytes are copied by
    // SQLite, unless the caller passes a list that keeps them alive for as long
    // as the statement may read them.
    void bindObject(const QVariant& object, int idx, sqlite3_stmt* statement, QByteArrayList* keep = nullptr);
    static void extractSQL(const QString& format, const QVariantList& argumentsList, QString& sql,
                           QVariantList& arguments);

    // --- Transactions and savepoints
    bool beginTransaction();
    bool beginDeferredTransaction();
    bool commit();
    bool rollback();
    bool inTransaction() const { return inTransaction_; }
    bool startSavePointWithName(const QString& name, Error* error = nullptr);
    bool releaseSavePointWithName(const QString& name, Error* error = nullptr);
    bool rollbackToSavePointWithName(const QString& name, Error* error = nullptr);
    // Runs the block inside a fresh savepoint; setting rollback undoes its work.
    // The error of the last step that failed, if any.
    std::optional<Error> inSavePoint(const std::function<void(bool& rollback)>& block);

    // --- Statement cache, counts, health
    bool shouldCacheStatements() const { return shouldCacheStatements_; }
    void setShouldCacheStatements(bool on);
    const StatementCache& cachedStatements() const { return cachedStatements_; }
    void setCachedStatements(const StatementCache& statements) { cachedStatements_ = statements; }
    // An idle statement cached for exactly this text, or null.
    std::shared_ptr<SLStatement> cachedStatementForQuery(const QString& query) const;
    void setCachedStatement(const std::shared_ptr<SLStatement>& statement, const QString& query);
    void clearCachedStatements();
    int64_t lastInsertRowId();
    int changes();
    // Rows changed since the connection opened: a count that moved means a
    // write happened in between.
    int64_t totalChanges();
    // This connection's writes, then those of every other connection to the
    // file: an equal stamp means nobody wrote in between.
    std::pair<int64_t, int64_t> writeStamp();
    bool goodConnection();

    // --- Additions (SLDatabaseAdditions.cpp)
    // Column 0 of the first row; 0 or null when there is no row.
    template <typename... Args>
    QString stringForQuery(const QString& sql, const Args&... args)
    {
        return firstRow(sql, argumentArray(args...)).stringForColumnIndex(0);
    }
    template <typename... Args>
    int intForQuery(const QString& sql, const Args&... args)
    {
        return firstRow(sql, argumentArray(args...)).intForColumnIndex(0);
    }
    template <typename... Args>
    int64_t longForQuery(const QString& sql, const Args&... args)
    {
        return firstRow(sql, argumentArray(args...)).longForColumnIndex(0);
    }
    template <typename... Args>
    bool boolForQuery(const QString& sql, const Args&... args)
    {
        return firstRow(sql, argumentArray(args...)).boolForColumnIndex(0);
    }
    template <typename... Args>
    double doubleForQuery(const QString& sql, const Args&... args)
    {
        return firstRow(sql, argumentArray(args...)).doubleForColumnIndex(0);
    }
    template <typename... Args>
    QByteArray dataForQuery(const QString& sql, const Args&... args)
    {
        return firstRow(sql, argumentArray(args...)).dataForColumnIndex(0);
    }
    template <typename... Args>
    QDateTime dateForQuery(const QString& sql, const Args&... args)
    {
        return firstRow(sql, argumentArray(args...)).dateForColumnIndex(0);
    }

    bool tableExists(const QString& tableName);
    // Tables, indexes, views and triggers of the main and temporary schemas.
    SLResultSet getSchema();
    // One row per column of the table (pragma table_info).
    SLResultSet getTableSchema(const QString& tableName);
    bool columnExists(const QString& columnName, const QString& tableName);

    uint32_t applicationID();
    void setApplicationID(uint32_t appID);
    // The ID as four characters; empty for 0.
    QString applicationIDString();
    void setApplicationIDString(const QString& string);
    uint32_t userVersion();
    void setUserVersion(uint32_t version);

    // Compiles the text without running it.
    bool validateSQL(const QString& sql, Error* error = nullptr);

private:
    friend class SLResultSet;
    SLDatabase(const QString& path, bool inert);

    template <typename T>
    static QVariant toArgument(const T& value)
    {
        if constexpr (std::is_same_v<T, QVariant>)
            return value;
        else if constexpr (std::is_same_v<T, std::nullptr_t>)
            return QVariant();
        else if constexpr (std::is_array_v<T> && std::is_same_v<std::remove_cv_t<std::remove_extent_t<T>>, char>)
            return QString::fromUtf8(value);
        else if constexpr (std::is_same_v<T, const char*> || std::is_same_v<T, char*>)
            return value ? QVariant(QString::fromUtf8(value)) : QVariant();
        else
            return QVariant::fromValue(value);
    }
    // The arguments of one call, on the stack.
    template <typename... Args>
    static std::array<QVariant, sizeof...(Args)> argumentArray(const Args&... args)
    {
        return {toArgument(args)...};
    }
    using Arguments = std::span<const QVariant>;

    bool openHandle(int flags);
    bool enterUse();
    sqlite3_stmt* prepare(const QString& sql);
    int bindArguments(sqlite3_stmt* statement, int count, Arguments positional,
                      const QVariantMap* dictionary, QByteArrayList& keep);
    void releaseStatement(sqlite3_stmt* statement, const std::shared_ptr<SLStatement>& cached);
    bool update(const QString& sql, Error* error, Arguments positional, const QVariantMap* dictionary);
    SLResultSet query(const QString& sql, Arguments positional, const QVariantMap* dictionary);
    bool savePointStatement(const char* format, const QString& name, Error* error);
    SLResultSet firstRow(const QString& sql, Arguments arguments);
    void resultSetDidClose(const SLResultSet::Private* resultSet);
    void finalizeLeakedStatements();
    static int busyHandler(void* context, int count);

    sqlite3* db_ = nullptr;
    QString databasePath_;
    bool inert_ = false;
    bool logsErrors_ = true;
    bool crashOnErrors_ = false;
    bool traceExecution_ = false;
    bool checkedOut_ = false;
    bool shouldCacheStatements_ = false;
    bool isExecutingStatement_ = false;
    bool inTransaction_ = false;
    double maxBusyRetryTimeInterval_ = 2.0;
    double startBusyRetryTime_ = 0.0; // monotonic seconds
    StatementCache cachedStatements_;
    // Not owning: a result set leaves this list when it closes or is destroyed.
    std::vector<SLResultSet::Private*> openResultSets_;
    std::vector<std::unique_ptr<FunctionBlock>> openFunctions_;
    QSet<QString> functionNames_;
    QHash<const void*, std::shared_ptr<void>> attachments_;
    QString dateFormat_;
    // The outcome of the last failed open, reported while there is no handle.
    int openErrorCode_ = SQLITE_OK;
    QString openErrorMessage_;
};
