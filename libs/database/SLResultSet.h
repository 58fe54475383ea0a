#pragma once

#include "Error.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QVariant>

#include <sqlite3.h>

#include <cstdint>
#include <memory>

class QObject;
class SLDatabase;
class SLStatement;

// The cursor over the rows of one query. A handle: copies share one cursor,
// and the cursor closes when the last copy goes. An empty handle (a failed
// query, the null database) has no rows: next() answers false and every
// accessor answers 0 or null, so callers never test before reading.
// Columns are 0-based; names are matched without regard to letter case.
// Every accessor answers 0 or null when no row is current or the column is
// unknown, rather than asking SQLite for a value it does not have.
class SLResultSet {
public:
    SLResultSet() = default;
    // A cursor over the statement, belonging to the connection; marks the
    // statement in use. It keeps the bytes bound to the statement without a copy.
    static SLResultSet resultSetWithStatement(std::shared_ptr<SLStatement> statement,
                                              std::shared_ptr<SLDatabase> parentDB,
                                              QByteArrayList boundBytes = {});

    bool isNull() const { return !d; }

    bool next();
    bool nextWithError(Error* error);
    bool hasAnotherRow() const;
    void close();

    int columnCount() const;
    QString columnNameForIndex(int columnIdx) const;
    int columnIndexForName(const QString& columnName) const;
    QHash<QString, int> columnNameToIndexMap() const;

    int intForColumnIndex(int columnIdx) const;
    int intForColumn(const QString& columnName) const;
    int64_t longForColumnIndex(int columnIdx) const;
    int64_t longForColumn(const QString& columnName) const;
    uint64_t unsignedLongLongIntForColumnIndex(int columnIdx) const;
    uint64_t unsignedLongLongIntForColumn(const QString& columnName) const;
    bool boolForColumnIndex(int columnIdx) const;
    bool boolForColumn(const QString& columnName) const;
    double doubleForColumnIndex(int columnIdx) const;
    double doubleForColumn(const QString& columnName) const;
    QString stringForColumnIndex(int columnIdx) const;
    QString stringForColumn(const QString& columnName) const;
    QDateTime dateForColumnIndex(int columnIdx) const;
    QDateTime dateForColumn(const QString& columnName) const;
    // A copy of the blob; null for NULL and for an empty blob.
    QByteArray dataForColumnIndex(int columnIdx) const;
    QByteArray dataForColumn(const QString& columnName) const;
    // The blob's own bytes, valid until the next step, reset or close.
    QByteArray dataNoCopyForColumnIndex(int columnIdx) const;
    QByteArray dataNoCopyForColumn(const QString& columnName) const;
    // The raw UTF-8 text, valid until the next step, reset or close.
    const char* UTF8StringForColumnIndex(int columnIdx) const;
    const char* UTF8StringForColumnName(const QString& columnName) const;
    // qlonglong, double, QByteArray or QString; a null QVariant for NULL and empty blobs.
    QVariant objectForColumnIndex(int columnIdx) const;
    QVariant objectForColumnName(const QString& columnName) const;
    bool columnIndexIsNull(int columnIdx) const;
    bool columnIsNull(const QString& columnName) const;
    QVariant operator[](int columnIdx) const { return objectForColumnIndex(columnIdx); }
    QVariant operator[](const QString& columnName) const { return objectForColumnName(columnName); }

    // The current row keyed by the column names as reported; empty when no row is current.
    QVariantMap resultDictionary() const;
    // Sets each non-null text column as the property of that name.
    void kvcMagic(QObject* object) const;

    QString query() const;
    void setQuery(const QString& query);
    const SLStatement* statement() const;
    void setParentDB(std::shared_ptr<SLDatabase> parentDB);

private:
    friend class SLDatabase;
    struct Private;
    explicit SLResultSet(std::shared_ptr<Private> d) : d(std::move(d)) {}
    sqlite3_stmt* rowStatement(int columnIdx) const;
    // The statement when the column holds a value other than NULL.
    sqlite3_stmt* valueStatement(int columnIdx) const;
    // For a closing connection: forget it, then close.
    static void detachAndClose(Private* resultSet);

    std::shared_ptr<Private> d;
};
