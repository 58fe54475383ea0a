// Running SQL on the connection: preparing, the statement cache, binding,
// transactions and savepoints.
#include "SLDatabase.h"

#include "ConsoleLog.h"
#include "SLStatement.h"

#include <QMetaType>
#include <QScopeGuard>

#include <atomic>
#include <cstdlib>

namespace {

QString stepError(int code, sqlite3* db, const char* suffix)
{
    const QString message = QString::fromUtf8(sqlite3_errmsg(db));
    switch (code) {
    case SQLITE_ERROR:
        return QStringLiteral("Error calling sqlite3_step (%1: %2) SQLITE_ERROR").arg(code).arg(message);
    case SQLITE_MISUSE:
        return QStringLiteral("Error calling sqlite3_step (%1: %2) SQLITE_MISUSE").arg(code).arg(message);
    default:
        return QStringLiteral("Unknown error calling sqlite3_step (%1: %2) %3")
            .arg(code)
            .arg(message, QString::fromLatin1(suffix));
    }
}

// The value a QVariant holds, read in place: no conversion, no copy.
template <typename T>
const T& valueOf(const QVariant& variant)
{
    return *static_cast<const T*>(variant.constData());
}

} // namespace

bool SLDatabase::executeUpdateWithArgumentsInArray(const QString& sql, const QVariantList& arguments)
{
    return update(sql, nullptr, Arguments(arguments.constData(), size_t(arguments.size())), nullptr);
}

bool SLDatabase::executeUpdateWithParameterDictionary(const QString& sql, const QVariantMap& arguments)
{
    return update(sql, nullptr, {}, &arguments);
}

SLResultSet SLDatabase::executeQueryWithArgumentsInArray(const QString& sql, const QVariantList& arguments)
{
    return query(sql, Arguments(arguments.constData(), size_t(arguments.size())), nullptr);
}

SLResultSet SLDatabase::executeQueryWithParameterDictionary(const QString& sql, const QVariantMap& arguments)
{
    return query(sql, {}, &arguments);
}

sqlite3_stmt* SLDatabase::prepare(const QString& sql)
{
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* statement = nullptr;
    const int rc = sqlite3_prepare_v2(db_, text.constData(), int(text.size()), &statement, nullptr);
    if (rc == SQLITE_OK)
        return statement;
    if (logsErrors_) {
        consoleLog(QStringLiteral("DB Error: %1 \"%2\"").arg(lastErrorCode()).arg(lastErrorMessage()));
        consoleLog(QStringLiteral("DB Query: %1").arg(sql));
        consoleLog(QStringLiteral("DB Path: %1").arg(databasePath_));
    }
    if (crashOnErrors_)
        std::abort();
    sqlite3_finalize(statement);
    return nullptr;
}

// A statement that will not run goes back to the cache idle and unbound, or is
// finalized when it is not cached; a cached one must never be left finalized.
void SLDatabase::releaseStatement(sqlite3_stmt* statement, const std::shared_ptr<SLStatement>& cached)
{
    if (cached) {
        cached->reset();
        sqlite3_clear_bindings(statement);
    } else {
        sqlite3_finalize(statement);
    }
}

int SLDatabase::bindArguments(sqlite3_stmt* statement, int count, Arguments positional,
                              const QVariantMap* dictionary, QByteArrayList& keep)
{
    int bound = 0;
    if (dictionary) {
        for (auto it = dictionary->cbegin(); it != dictionary->cend(); ++it) {
            const QString name = QStringLiteral(":%1").arg(it.key());
            if (traceExecution_)
                consoleLog(QStringLiteral("%1 = %2").arg(name, it.value().toString()));
            const int idx = sqlite3_bind_parameter_index(statement, name.toUtf8().constData());
            if (idx > 0) {
                bindObject(it.value(), idx, statement, &keep);
                ++bound;
            } else {
                consoleLog(QStringLiteral("Could not find index for %1").arg(it.key()));
            }
        }
        return bound;
    }
    if (count > 1)
        keep.reserve(count); // one allocation however many texts there are
    while (bound < count && size_t(bound) < positional.size()) {
        const QVariant& object = positional[size_t(bound)];
        if (traceExecution_) {
            if (object.typeId() == QMetaType::QByteArray)
                consoleLog(QStringLiteral("data: %1 bytes").arg(object.toByteArray().size()));
            else
                consoleLog(QStringLiteral("obj: %1").arg(object.toString()));
        }
        ++bound;
        bindObject(object, bound, statement, &keep);
    }
    return bound;
}

void SLDatabase::bindObject(const QVariant& object, int idx, sqlite3_stmt* statement, QByteArrayList* keep)
{
    const auto bindBytes = [&](const QByteArray& bytes, bool text) {
        // An empty buffer still gets a non-null pointer: an empty blob is not NULL.
        const char* data = bytes.isEmpty() ? "" : bytes.constData();
        const auto size = sqlite3_uint64(bytes.size());
        if (keep)
            keep->append(bytes);
        const sqlite3_destructor_type lifetime = keep ? SQLITE_STATIC : SQLITE_TRANSIENT;
        if (text)
            sqlite3_bind_text64(statement, idx, data, size, lifetime, SQLITE_UTF8);
        else
            sqlite3_bind_blob64(statement, idx, data, size, lifetime);
    };
    if (object.isNull()) {
        sqlite3_bind_null(statement, idx);
        return;
    }
    switch (object.typeId()) {
    case QMetaType::QByteArray:
        bindBytes(object.toByteArray(), false);
        return;
    case QMetaType::QDateTime: {
        const QDateTime date = object.toDateTime();
        if (hasDateFormatter())
            bindBytes(stringFromDate(date).toUtf8(), true);
        else
            sqlite3_bind_double(statement, idx, double(date.toMSecsSinceEpoch()) / 1000.0);
        return;
    }
    case QMetaType::Bool:
        sqlite3_bind_int(statement, idx, valueOf<bool>(object));
        return;
    case QMetaType::Char:
        sqlite3_bind_int(statement, idx, valueOf<char>(object));
        return;
    case QMetaType::SChar:
        sqlite3_bind_int(statement, idx, valueOf<signed char>(object));
        return;
    case QMetaType::UChar:
        sqlite3_bind_int(statement, idx, valueOf<unsigned char>(object));
        return;
    case QMetaType::Short:
        sqlite3_bind_int(statement, idx, valueOf<short>(object));
        return;
    case QMetaType::UShort:
        sqlite3_bind_int(statement, idx, valueOf<unsigned short>(object));
        return;
    case QMetaType::Int:
        sqlite3_bind_int(statement, idx, valueOf<int>(object));
        return;
    case QMetaType::UInt:
        sqlite3_bind_int64(statement, idx, valueOf<unsigned int>(object));
        return;
    case QMetaType::Long:
        sqlite3_bind_int64(statement, idx, valueOf<long>(object));
        return;
    case QMetaType::LongLong:
        sqlite3_bind_int64(statement, idx, valueOf<long long>(object));
        return;
    // Above the signed range an unsigned value keeps its bits.
    case QMetaType::ULong:
        sqlite3_bind_int64(statement, idx, static_cast<sqlite3_int64>(valueOf<unsigned long>(object)));
        return;
    case QMetaType::ULongLong:
        sqlite3_bind_int64(statement, idx, static_cast<sqlite3_int64>(valueOf<unsigned long long>(object)));
        return;
    case QMetaType::Float:
        sqlite3_bind_double(statement, idx, valueOf<float>(object));
        return;
    case QMetaType::Double:
        sqlite3_bind_double(statement, idx, valueOf<double>(object));
        return;
    case QMetaType::QString:
        // With the byte length, so text with an embedded NUL is stored whole.
        bindBytes(valueOf<QString>(object).toUtf8(), true);
        return;
    default:
        bindBytes(object.toString().toUtf8(), true);
        return;
    }
}

bool SLDatabase::update(const QString& sql, Error* error, Arguments positional, const QVariantMap* dictionary)
{
    if (!databaseExists() || !enterUse())
        return false;
    const auto leave = qScopeGuard([this] { isExecutingStatement_ = false; });
    if (traceExecution_)
        consoleLog(QStringLiteral("%1 executeUpdate: %2").arg(description(), sql));

    std::shared_ptr<SLStatement> cached = shouldCacheStatements_ ? cachedStatementForQuery(sql) : nullptr;
    sqlite3_stmt* statement = nullptr;
    // An idle cached statement was reset when it was last let go.
    if (cached) {
        statement = cached->statement();
    } else {
        statement = prepare(sql);
        if (!statement) {
            setError(error, errorWithMessage(lastErrorMessage()));
            return false;
        }
    }

    // The bound bytes live here until the statement is reset or finalized below.
    QByteArrayList keep;
    const int expected = sqlite3_bind_parameter_count(statement);
    const int bound = bindArguments(statement, expected, positional, dictionary, keep);
    if (bound != expected) {
        consoleLog(QStringLiteral("Error: the bind count (%1) is not correct for the # of variables in the query "
                                  "(%2) (%3) (executeUpdate)")
                       .arg(bound)
                       .arg(expected)
                       .arg(sql));
        releaseStatement(statement, cached);
        return false;
    }

    const int rc = sqlite3_step(statement);
    if (rc != SQLITE_DONE && logsErrors_) {
        consoleLog(stepError(rc, db_, "eu"));
        consoleLog(QStringLiteral("DB Query: %1").arg(sql));
    }

    if (shouldCacheStatements_ && !cached) {
        cached = std::make_shared<SLStatement>(statement);
        setCachedStatement(cached, sql);
    }
    int closeRc;
    if (cached) {
        cached->setUseCount(cached->useCount() + 1);
        closeRc = sqlite3_reset(statement);
    } else {
        closeRc = sqlite3_finalize(statement);
    }
    if (closeRc != SQLITE_OK && logsErrors_) {
        consoleLog(QStringLiteral("Unknown error finalizing or resetting statement (%1: %2)")
                       .arg(closeRc)
                       .arg(lastErrorMessage()));
        consoleLog(QStringLiteral("DB Query: %1").arg(sql));
    }
    return rc == SQLITE_DONE || rc == SQLITE_OK;
}

SLResultSet SLDatabase::query(const QString& sql, Arguments positional, const QVariantMap* dictionary)
{
    if (!databaseExists() || !enterUse())
        return SLResultSet();
    const auto leave = qScopeGuard([this] { isExecutingStatement_ = false; });
    if (traceExecution_)
        consoleLog(QStringLiteral("%1 executeQuery: %2").arg(description(), sql));

    std::shared_ptr<SLStatement> cached = shouldCacheStatements_ ? cachedStatementForQuery(sql) : nullptr;
    sqlite3_stmt* statement = nullptr;
    // An idle cached statement was reset when it was last let go.
    if (cached) {
        statement = cached->statement();
    } else {
        statement = prepare(sql);
        if (!statement)
            return SLResultSet();
    }

    // The bound bytes live with the cursor: a column may point into them.
    QByteArrayList keep;
    const int expected = sqlite3_bind_parameter_count(statement);
    if (bindArguments(statement, expected, positional, dictionary, keep) != expected) {
        consoleLog(QStringLiteral("Error: the bind count is not correct for the # of variables (executeQuery)"));
        releaseStatement(statement, cached);
        return SLResultSet();
    }

    if (!cached) {
        cached = std::make_shared<SLStatement>(statement);
        if (shouldCacheStatements_)
            setCachedStatement(cached, sql);
    }
    cached->setUseCount(cached->useCount() + 1);
    SLResultSet resultSet = SLResultSet::resultSetWithStatement(std::move(cached), shared_from_this(), std::move(keep));
    resultSet.setQuery(sql);
    openResultSets_.push_back(resultSet.d.get());
    return resultSet;
}

bool SLDatabase::executeStatements(const QString& sql)
{
    return executeStatements(sql, nullptr);
}

bool SLDatabase::executeStatements(const QString& sql, const std::function<int(const QVariantMap& row)>& block)
{
    if (!databaseExists() || !enterUse())
        return false;
    const auto leave = qScopeGuard([this] { isExecutingStatement_ = false; });
    int (*callback)(void*, int, char**, char**) = [](void* context, int columns, char** values, char** names) -> int {
        QVariantMap row;
        for (int i = 0; i < columns; ++i)
            row.insert(QString::fromUtf8(names[i]), values[i] ? QVariant(QString::fromUtf8(values[i])) : QVariant());
        return (*static_cast<const std::function<int(const QVariantMap&)>*>(context))(row);
    };
    char* errorText = nullptr;
    const int rc = sqlite3_exec(db_, sql.toUtf8().constData(), block ? callback : nullptr,
                                const_cast<std::function<int(const QVariantMap&)>*>(&block), &errorText);
    if (errorText && logsErrors_)
        consoleLog(QStringLiteral("Error inserting batch: %1").arg(QString::fromUtf8(errorText)));
    sqlite3_free(errorText);
    return rc == SQLITE_OK;
}

void SLDatabase::extractSQL(const QString& format, const QVariantList& argumentsList, QString& sql,
                            QVariantList& arguments)
{
    qsizetype next = 0;
    const auto take = [&]() { return next < argumentsList.size() ? argumentsList.at(next++) : (++next, QVariant()); };
    const qsizetype length = format.size();
    QChar last;
    for (qsizetype i = 0; i < length; ++i) {
        const QChar current = format.at(i);
        QChar add = current;
        std::optional<QVariant> value;
        bool nullObject = false;
        if (last == QLatin1Char('%')) {
            const auto following = [&](char letter) { return i + 1 < length && format.at(i + 1) == QLatin1Char(letter); };
            switch (current.unicode()) {
            case '@': {
                const QVariant object = take();
                if (object.isNull())
                    nullObject = true;
                else
                    value = object;
                break;
            }
            case 'c':
                value = QString(QLatin1Char(char(take().toInt())));
                break;
            case 's':
                value = take();
                break;
            case 'd':
            case 'D':
            case 'i':
                value = QVariant::fromValue(int(take().toLongLong()));
                break;
            case 'u':
            case 'U':
                value = QVariant::fromValue(uint(take().toULongLong()));
                break;
            case 'h':
                if (following('i')) {
                    ++i;
                    value = QVariant::fromValue(short(take().toLongLong()));
                } else if (following('u')) {
                    ++i;
                    value = QVariant::fromValue(ushort(take().toULongLong()));
                }
                break;
            case 'q':
                if (following('i')) {
                    ++i;
                    value = QVariant::fromValue(qlonglong(take().toLongLong()));
                } else if (following('u')) {
                    ++i;
                    value = QVariant::fromValue(qulonglong(take().toULongLong()));
                }
                break;
            case 'l':
                if (following('l') && i + 2 < length && format.at(i + 2) == QLatin1Char('d')) {
                    i += 2;
                    value = QVariant::fromValue(qlonglong(take().toLongLong()));
                } else if (following('l') && i + 2 < length && format.at(i + 2) == QLatin1Char('u')) {
                    i += 2;
                    value = QVariant::fromValue(qulonglong(take().toULongLong()));
                } else if (following('d')) {
                    ++i;
                    value = QVariant::fromValue(long(take().toLongLong()));
                } else if (following('u')) {
                    ++i;
                    value = QVariant::fromValue(ulong(take().toULongLong()));
                }
                break;
            case 'f':
                value = take().toDouble();
                break;
            case 'g':
                value = QVariant::fromValue(float(take().toDouble()));
                break;
            default:
                break;
            }
        } else if (current == QLatin1Char('%')) {
            add = QChar();
        }

        if (value) {
            sql += QLatin1Char('?');
            arguments.append(*value);
        } else if (nullObject) {
            sql += QStringLiteral("NULL");
        } else if (!add.isNull()) {
            sql += add;
        }
        last = current;
    }
}

// --- Transactions and savepoints

bool SLDatabase::beginTransaction()
{
    const bool ok = executeUpdate(QStringLiteral("begin exclusive transaction"));
    if (ok)
        inTransaction_ = true;
    return ok;
}

bool SLDatabase::beginDeferredTransaction()
{
    const bool ok = executeUpdate(QStringLiteral("begin deferred transaction"));
    if (ok)
        inTransaction_ = true;
    return ok;
}

bool SLDatabase::commit()
{
    const bool ok = executeUpdate(QStringLiteral("commit transaction"));
    if (ok)
        inTransaction_ = false;
    return ok;
}

bool SLDatabase::rollback()
{
    const bool ok = executeUpdate(QStringLiteral("rollback transaction"));
    if (ok)
        inTransaction_ = false;
    return ok;
}

bool SLDatabase::savePointStatement(const char* format, const QString& name, Error* error)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    if (executeUpdate(QString::fromLatin1(format).arg(quoted)))
        return true;
    setError(error, lastError());
    return false;
}

bool SLDatabase::startSavePointWithName(const QString& name, Error* error)
{
    return savePointStatement("savepoint '%1';", name, error);
}

bool SLDatabase::releaseSavePointWithName(const QString& name, Error* error)
{
    return savePointStatement("release savepoint '%1';", name, error);
}

bool SLDatabase::rollbackToSavePointWithName(const QString& name, Error* error)
{
    return savePointStatement("rollback transaction to savepoint '%1';", name, error);
}

std::optional<Error> SLDatabase::inSavePoint(const std::function<void(bool& rollback)>& block)
{
    static std::atomic<long> savePointIndex{0};
    const QString name = QStringLiteral("dbSavePoint%1").arg(savePointIndex++);
    Error error;
    if (!startSavePointWithName(name, &error))
        return error;
    std::optional<Error> result;
    bool shouldRollback = false;
    block(shouldRollback);
    if (shouldRollback && !rollbackToSavePointWithName(name, &error))
        result = error;
    if (!releaseSavePointWithName(name, &error))
        result = error;
    return result;
}

// --- Statement cache, counts, health

void SLDatabase::setShouldCacheStatements(bool on)
{
    shouldCacheStatements_ = on;
    // Idle statements are finalized as they go; one under an open cursor
    // lives on until that cursor lets it go.
    if (!on)
        cachedStatements_.clear();
}

std::shared_ptr<SLStatement> SLDatabase::cachedStatementForQuery(const QString& query) const
{
    const auto it = cachedStatements_.constFind(query);
    if (it == cachedStatements_.cend())
        return nullptr;
    for (const auto& statement : *it) {
        if (!statement->inUse())
            return statement;
    }
    return nullptr;
}

void SLDatabase::setCachedStatement(const std::shared_ptr<SLStatement>& statement, const QString& query)
{
    statement->setQuery(query);
    cachedStatements_[query].append(statement);
}

void SLDatabase::clearCachedStatements()
{
    for (const auto& statements : std::as_const(cachedStatements_)) {
        for (const auto& statement : statements)
            statement->close();
    }
    cachedStatements_.clear();
}

int64_t SLDatabase::lastInsertRowId()
{
    if (!databaseExists() || !enterUse())
        return 0;
    const auto leave = qScopeGuard([this] { isExecutingStatement_ = false; });
    return sqlite3_last_insert_rowid(db_);
}

int SLDatabase::changes()
{
    if (!databaseExists() || !enterUse())
        return 0;
    const auto leave = qScopeGuard([this] { isExecutingStatement_ = false; });
    return sqlite3_changes(db_);
}

int64_t SLDatabase::totalChanges()
{
    if (!databaseExists() || !enterUse())
        return 0;
    const auto leave = qScopeGuard([this] { isExecutingStatement_ = false; });
    return sqlite3_total_changes64(db_);
}

std::pair<int64_t, int64_t> SLDatabase::writeStamp()
{
    return {totalChanges(), longForQuery(QStringLiteral("PRAGMA data_version"))};
}

bool SLDatabase::goodConnection()
{
    if (!db_)
        return false;
    SLResultSet resultSet = executeQuery(QStringLiteral("select name from sqlite_master where type='table'"));
    if (resultSet.isNull())
        return false;
    resultSet.close();
    return true;
}
