#include "SLResultSet.h"

#include "ConsoleLog.h"
#include "SLDatabase.h"
#include "SLStatement.h"

#include <QObject>

#include <optional>

struct SLResultSet::Private {
    std::shared_ptr<SLDatabase> parentDB;
    std::shared_ptr<SLStatement> statement;
    QString query;
    std::optional<QHash<QString, int>> columnNameToIndexMap;
    // The bytes of the bound arguments, which SQLite reads without a copy.
    QByteArrayList boundBytes;
    // Columns of the current row; 0 while no row is current.
    int rowColumns = 0;

    ~Private() { close(); }

    void close()
    {
        rowColumns = 0;
        if (statement) {
            statement->reset();
            statement.reset();
        }
        boundBytes.clear();
        if (parentDB) {
            parentDB->resultSetDidClose(this);
            parentDB.reset();
        }
    }
};

SLResultSet SLResultSet::resultSetWithStatement(std::shared_ptr<SLStatement> statement,
                                                std::shared_ptr<SLDatabase> parentDB, QByteArrayList boundBytes)
{
    auto d = std::make_shared<Private>();
    d->boundBytes = std::move(boundBytes);
    statement->setInUse(true);
    d->statement = std::move(statement);
    d->parentDB = std::move(parentDB);
    return SLResultSet(std::move(d));
}

void SLResultSet::detachAndClose(Private* resultSet)
{
    resultSet->parentDB.reset();
    resultSet->close();
}

bool SLResultSet::next()
{
    return nextWithError(nullptr);
}

bool SLResultSet::nextWithError(Error* error)
{
    if (!d)
        return false;
    sqlite3_stmt* handle = d->statement ? d->statement->statement() : nullptr;
    const int rc = handle ? sqlite3_step(handle) : SQLITE_MISUSE;
    const auto parentError = [&] {
        return d->parentDB ? d->parentDB->lastError()
                           : Error::make(QStringLiteral("SLDatabase"), SQLITE_MISUSE, QStringLiteral("parentDB does not exist"));
    };
    const auto message = [&] {
        return d->parentDB ? d->parentDB->lastErrorMessage() : QString::fromUtf8(sqlite3_errstr(rc));
    };
    switch (rc) {
    case SQLITE_ROW:
    case SQLITE_DONE:
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        consoleLog(QStringLiteral("%1:%2 Database busy (%3)")
                       .arg(QStringLiteral("-[SLResultSet nextWithError:]"))
                       .arg(158)
                       .arg(d->parentDB ? d->parentDB->databasePath() : QString()));
        consoleLog(QStringLiteral("Database busy"));
        setError(error, parentError());
        break;
    case SQLITE_ERROR:
    case SQLITE_MISUSE:
        consoleLog(QStringLiteral("Error calling sqlite3_step (%1: %2) rs").arg(rc).arg(message()));
        setError(error, parentError());
        break;
    case SQLITE_INTERRUPT:
        // The caller's own progress handler stopped it: no fault to report.
        setError(error, parentError());
        break;
    default:
        consoleLog(QStringLiteral("Unknown error calling sqlite3_step (%1: %2) rs").arg(rc).arg(message()));
        setError(error, parentError());
        break;
    }
    if (rc != SQLITE_ROW) {
        close();
        return false;
    }
    d->rowColumns = sqlite3_column_count(handle);
    return true;
}

bool SLResultSet::hasAnotherRow() const
{
    return d && d->parentDB && d->parentDB->lastErrorCode() == SQLITE_ROW;
}

void SLResultSet::close()
{
    if (d)
        d->close();
}

int SLResultSet::columnCount() const
{
    return d && d->statement ? sqlite3_column_count(d->statement->statement()) : 0;
}

QString SLResultSet::columnNameForIndex(int columnIdx) const
{
    if (columnIdx < 0 || columnIdx >= columnCount())
        return QString();
    return QString::fromUtf8(sqlite3_column_name(d->statement->statement(), columnIdx));
}

QHash<QString, int> SLResultSet::columnNameToIndexMap() const
{
    if (!d)
        return {};
    if (!d->columnNameToIndexMap) {
        QHash<QString, int> map;
        const int count = columnCount();
        map.reserve(count);
        for (int i = 0; i < count; ++i)
            map.insert(columnNameForIndex(i).toLower(), i);
        // An empty map from a closed cursor is not worth keeping.
        if (count == 0)
            return map;
        d->columnNameToIndexMap = map;
    }
    return *d->columnNameToIndexMap;
}

int SLResultSet::columnIndexForName(const QString& columnName) const
{
    if (!d)
        return -1;
    const QString name = columnName.toLower();
    const auto map = columnNameToIndexMap();
    const auto it = map.constFind(name);
    if (it != map.cend())
        return *it;
    consoleLog(QStringLiteral("Warning: I could not find the column named '%1'.").arg(name));
    return -1;
}

sqlite3_stmt* SLResultSet::rowStatement(int columnIdx) const
{
    if (!d || columnIdx < 0 || columnIdx >= d->rowColumns)
        return nullptr;
    return d->statement->statement();
}

sqlite3_stmt* SLResultSet::valueStatement(int columnIdx) const
{
    sqlite3_stmt* statement = rowStatement(columnIdx);
    return statement && sqlite3_column_type(statement, columnIdx) != SQLITE_NULL ? statement : nullptr;
}

int SLResultSet::intForColumnIndex(int columnIdx) const
{
    sqlite3_stmt* statement = rowStatement(columnIdx);
    return statement ? sqlite3_column_int(statement, columnIdx) : 0;
}

int SLResultSet::intForColumn(const QString& columnName) const
{
    return intForColumnIndex(columnIndexForName(columnName));
}

int64_t SLResultSet::longForColumnIndex(int columnIdx) const
{
    sqlite3_stmt* statement = rowStatement(columnIdx);
    return statement ? sqlite3_column_int64(statement, columnIdx) : 0;
}

int64_t SLResultSet::longForColumn(const QString& columnName) const
{
    return longForColumnIndex(columnIndexForName(columnName));
}

uint64_t SLResultSet::unsignedLongLongIntForColumnIndex(int columnIdx) const
{
    return static_cast<uint64_t>(longForColumnIndex(columnIdx));
}

uint64_t SLResultSet::unsignedLongLongIntForColumn(const QString& columnName) const
{
    return unsignedLongLongIntForColumnIndex(columnIndexForName(columnName));
}

bool SLResultSet::boolForColumnIndex(int columnIdx) const
{
    return intForColumnIndex(columnIdx) != 0;
}

bool SLResultSet::boolForColumn(const QString& columnName) const
{
    return boolForColumnIndex(columnIndexForName(columnName));
}

double SLResultSet::doubleForColumnIndex(int columnIdx) const
{
    sqlite3_stmt* statement = rowStatement(columnIdx);
    return statement ? sqlite3_column_double(statement, columnIdx) : 0.0;
}

double SLResultSet::doubleForColumn(const QString& columnName) const
{
    return doubleForColumnIndex(columnIndexForName(columnName));
}

QString SLResultSet::stringForColumnIndex(int columnIdx) const
{
    // SQLite gives no text for a NULL column.
    sqlite3_stmt* statement = rowStatement(columnIdx);
    const auto* text = statement ? reinterpret_cast<const char*>(sqlite3_column_text(statement, columnIdx)) : nullptr;
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(statement, columnIdx));
}

QString SLResultSet::stringForColumn(const QString& columnName) const
{
    return stringForColumnIndex(columnIndexForName(columnName));
}

QDateTime SLResultSet::dateForColumnIndex(int columnIdx) const
{
    if (columnIndexIsNull(columnIdx))
        return QDateTime();
    if (d->parentDB && d->parentDB->hasDateFormatter())
        return d->parentDB->dateFromString(stringForColumnIndex(columnIdx));
    const double seconds = doubleForColumnIndex(columnIdx);
    return QDateTime::fromMSecsSinceEpoch(qRound64(seconds * 1000.0), Qt::UTC);
}

QDateTime SLResultSet::dateForColumn(const QString& columnName) const
{
    return dateForColumnIndex(columnIndexForName(columnName));
}

QByteArray SLResultSet::dataForColumnIndex(int columnIdx) const
{
    sqlite3_stmt* statement = valueStatement(columnIdx);
    if (!statement)
        return QByteArray();
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, columnIdx));
    if (!bytes)
        return QByteArray();
    return QByteArray(bytes, sqlite3_column_bytes(statement, columnIdx));
}

QByteArray SLResultSet::dataForColumn(const QString& columnName) const
{
    return dataForColumnIndex(columnIndexForName(columnName));
}

QByteArray SLResultSet::dataNoCopyForColumnIndex(int columnIdx) const
{
    sqlite3_stmt* statement = valueStatement(columnIdx);
    if (!statement)
        return QByteArray();
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, columnIdx));
    const int count = sqlite3_column_bytes(statement, columnIdx);
    return QByteArray::fromRawData(bytes ? bytes : "", count);
}

QByteArray SLResultSet::dataNoCopyForColumn(const QString& columnName) const
{
    return dataNoCopyForColumnIndex(columnIndexForName(columnName));
}

const char* SLResultSet::UTF8StringForColumnIndex(int columnIdx) const
{
    sqlite3_stmt* statement = valueStatement(columnIdx);
    if (!statement)
        return nullptr;
    return reinterpret_cast<const char*>(sqlite3_column_text(statement, columnIdx));
}

const char* SLResultSet::UTF8StringForColumnName(const QString& columnName) const
{
    return UTF8StringForColumnIndex(columnIndexForName(columnName));
}

QVariant SLResultSet::objectForColumnIndex(int columnIdx) const
{
    sqlite3_stmt* statement = rowStatement(columnIdx);
    if (!statement)
        return QVariant();
    switch (sqlite3_column_type(statement, columnIdx)) {
    case SQLITE_INTEGER:
        return QVariant::fromValue(qlonglong(sqlite3_column_int64(statement, columnIdx)));
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, columnIdx);
    case SQLITE_BLOB: {
        const QByteArray data = dataForColumnIndex(columnIdx);
        return data.isNull() ? QVariant() : QVariant(data);
    }
    default: {
        const QString text = stringForColumnIndex(columnIdx);
        return text.isNull() ? QVariant() : QVariant(text);
    }
    }
}

QVariant SLResultSet::objectForColumnName(const QString& columnName) const
{
    return objectForColumnIndex(columnIndexForName(columnName));
}

bool SLResultSet::columnIndexIsNull(int columnIdx) const
{
    return !valueStatement(columnIdx);
}

bool SLResultSet::columnIsNull(const QString& columnName) const
{
    return columnIndexIsNull(columnIndexForName(columnName));
}

QVariantMap SLResultSet::resultDictionary() const
{
    if (!d)
        return {};
    if (d->rowColumns == 0) {
        consoleLog(QStringLiteral("Warning: There seem to be no columns in this set."));
        return {};
    }
    QVariantMap row;
    const int count = columnCount();
    for (int i = 0; i < count; ++i)
        row.insert(columnNameForIndex(i), objectForColumnIndex(i));
    return row;
}

void SLResultSet::kvcMagic(QObject* object) const
{
    if (!object)
        return;
    const int count = columnCount();
    for (int i = 0; i < count; ++i) {
        if (UTF8StringForColumnIndex(i))
            object->setProperty(columnNameForIndex(i).toUtf8().constData(), stringForColumnIndex(i));
    }
}

QString SLResultSet::query() const
{
    return d ? d->query : QString();
}

void SLResultSet::setQuery(const QString& query)
{
    if (d)
        d->query = query;
}

const SLStatement* SLResultSet::statement() const
{
    return d ? d->statement.get() : nullptr;
}

void SLResultSet::setParentDB(std::shared_ptr<SLDatabase> parentDB)
{
    if (!d)
        return;
    // A cursor leaving its connection leaves its list of open result sets too.
    if (d->parentDB && d->parentDB != parentDB)
        d->parentDB->resultSetDidClose(d.get());
    d->parentDB = std::move(parentDB);
}
