#pragma once

#include "Error.h"

#include <QString>
#include <QVariantList>

#include <memory>

struct pg_conn;
struct pg_result;

// The rows of one statement, read as text (the default result format).
class PgResult {
public:
    explicit PgResult(pg_result* result = nullptr);
    // Commands and queries that ran; a failure carries its error.
    bool ok() const;
    int rows() const;
    // Rows a command wrote.
    int affected() const;
    bool isNull(int row, int column) const;
    QString text(int row, int column) const;
    int64_t integer(int row, int column) const;
    double real(int row, int column) const;
    QByteArray bytes(int row, int column) const; // a BYTEA column
    // The SQLSTATE of a failure, empty if the server sent none.
    QByteArray sqlState() const;
    QString message() const;

private:
    std::shared_ptr<pg_result> result_;
};

// One libpq connection. Statements number their parameters ($1 …); arguments
// bind by type: integers, doubles and strings as text, QByteArray as BYTEA,
// a null QVariant as NULL.
class PgConnection {
public:
    // A connection string with a syntax error or a password is refused (12):
    // passwords come only from ~/.pgpass or PGPASSFILE.
    static Error checkConnectionString(const QString& connectionString);
    // The application name tells our connections apart in pg_stat_activity.
    static std::unique_ptr<PgConnection> connect(const QString& connectionString, const QString& applicationName,
                                                 Error* error);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    PgResult exec(const QString& sql, const QVariantList& arguments = {});
    // The store error of a failed result; a lost connection gives NetworkFailure (4).
    Error error(const PgResult& result) const;
    bool isLost() const;
    // The identifier quoted for SQL text.
    QString quoted(const QString& identifier) const;
    int socket() const;
    pg_conn* handle() const { return conn_; }

    // `?` placeholders, as the statements shared with SQLite have them, numbered.
    static QString numbered(const QString& sql);

private:
    explicit PgConnection(pg_conn* conn) : conn_(conn) {}
    pg_conn* conn_;
};
