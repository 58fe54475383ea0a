#pragma once

// The PostgreSQL server the tests share: RS_PG_DSN names it (scripts/pg-server
// starts a private one; `make test` does so). Without it the PostgreSQL tests
// skip, except with CI=true, where they fail. Each backend object works in a
// fresh schema rs_t_<random> and drops it at the end.

#include "Clock.h"
#include "Container.h"
#include "PgConnection.h"
#include "PushCenter.h"
#include "RecordStoreError.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace PostgresTest {

inline QString dsn() { return qEnvironmentVariable("RS_PG_DSN"); }

// Runs SQL as the server's superuser; fails the test on error.
inline PgResult admin(const QString& sql, const QVariantList& arguments = {})
{
    static std::unique_ptr<PgConnection> connection;
    if (!connection || connection->isLost()) {
        Error error;
        connection = PgConnection::connect(dsn(), QStringLiteral("brindlewick tests"), &error);
        if (!connection) {
            ADD_FAILURE() << "cannot reach the test server: " << qPrintable(error.localizedDescription());
            return PgResult();
        }
    }
    PgResult result = connection->exec(sql, arguments);
    EXPECT_TRUE(result.ok()) << qPrintable(sql) << ": " << qPrintable(result.message());
    return result;
}

inline QString newSchema()
{
    const QString schema = QStringLiteral("rs_t_") + Clock::newUUID().remove(QLatin1Char('-')).left(16).toLower();
    admin(QStringLiteral("CREATE SCHEMA ") + schema);
    return schema;
}

// A connection string for a schema, with more server settings ("-c name=value")
// and more keywords.
inline QString dsnFor(const QString& schema, const QString& settings = {}, const QString& keywords = {})
{
    return dsn() + QStringLiteral(" options='-c search_path=%1 %2' ").arg(schema, settings) + keywords;
}

// Ends the server side of a client's connections and waits (bounded) until
// they are gone; answers how many there were.
inline int64_t terminate(const QString& applicationName)
{
    return admin("SELECT count(pg_terminate_backend(pid, 5000)) FROM pg_stat_activity WHERE application_name = $1",
                 {applicationName})
        .integer(0, 0);
}

} // namespace PostgresTest

struct PostgresTestBackend {
    static std::string name() { return "Postgres"; }
    static constexpr int UnreachableCode = RecordStoreError::NetworkUnavailable;

    PostgresTestBackend()
    {
        if (!PostgresTest::dsn().isEmpty())
            schema = PostgresTest::newSchema();
    }

    ~PostgresTestBackend()
    {
        for (const QString& made : {schema, otherSchema})
            if (!made.isEmpty())
                PostgresTest::admin(QStringLiteral("DROP SCHEMA %1 CASCADE").arg(made));
    }

    // Skips the test without a server, or fails it under CI.
    void setUp()
    {
        if (!schema.isEmpty())
            return;
        if (qEnvironmentVariable("CI") == QLatin1String("true"))
            FAIL() << "CI runs every backend: RS_PG_DSN must name a server (scripts/pg-server start)";
        GTEST_SKIP() << "RS_PG_DSN is not set; `scripts/pg-server start <folder>` starts a server and prints it";
    }

    BackendConfig config(const QString& clientID, std::shared_ptr<PushCenter> center) const
    {
        return {{}, clientID, std::move(center), PostgresTest::dsnFor(schema)};
    }

    static Error openWith(const QString& connection)
    {
        Error error;
        EXPECT_FALSE(Container::open("net.brindlewick.notes", {{}, "C", PushCenter::create(), connection}, &error));
        return error;
    }

    // A socket folder where no server listens.
    Error openUnreachable()
    {
        QTemporaryDir empty;
        return openWith(QStringLiteral("host=%1 port=5432 dbname=postgres user=postgres").arg(empty.path()));
    }

    // A schema whose meta table belongs to another program.
    Error openDamaged()
    {
        otherSchema = PostgresTest::newSchema();
        PostgresTest::admin(QStringLiteral("CREATE TABLE %1.meta (id INTEGER, note TEXT)").arg(otherSchema));
        PostgresTest::admin(QStringLiteral("INSERT INTO %1.meta VALUES (7, 'theirs')").arg(otherSchema));
        const Error error = openWith(PostgresTest::dsnFor(otherSchema));
        const PgResult tables = PostgresTest::admin(
            "SELECT string_agg(tablename, ',') FROM pg_tables WHERE schemaname = $1", {otherSchema});
        EXPECT_EQ(tables.text(0, 0), "meta") << "tables were created in a schema not ours";
        EXPECT_EQ(PostgresTest::admin(QStringLiteral("SELECT count(*) FROM %1.meta").arg(otherSchema)).integer(0, 0), 1);
        return error;
    }

    Error openNewerSchema()
    {
        EXPECT_TRUE(Container::open("net.brindlewick.notes", config("C", PushCenter::create())));
        PostgresTest::admin(QStringLiteral("UPDATE %1.meta SET value = '2' WHERE key = 'schema_version'").arg(schema));
        return openWith(PostgresTest::dsnFor(schema));
    }

    void backdatePushes(double seconds)
    {
        PostgresTest::admin(QStringLiteral("UPDATE %1.notifications SET created = created - $1").arg(schema),
                            {qlonglong(seconds * 1000)});
    }

    void failWritesOf(const QString& name)
    {
        PostgresTest::admin(QStringLiteral("CREATE FUNCTION %1.fail_writes() RETURNS trigger LANGUAGE plpgsql AS "
                                           "$f$ BEGIN IF NEW.name = '%2' THEN RAISE EXCEPTION 'no room'; END IF; "
                                           "RETURN NEW; END $f$")
                                .arg(schema, name));
        PostgresTest::admin(QStringLiteral("CREATE TRIGGER fail_writes BEFORE INSERT ON %1.records FOR EACH ROW "
                                           "EXECUTE FUNCTION %1.fail_writes()")
                                .arg(schema));
    }

    void allowWrites()
    {
        PostgresTest::admin(QStringLiteral("DROP FUNCTION %1.fail_writes() CASCADE").arg(schema));
    }

    QString schema;
    QString otherSchema;
};
