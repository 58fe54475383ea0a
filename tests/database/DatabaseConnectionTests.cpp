#include "ConsoleCapture.h"
#include "SLStatement.h"

#include <QDir>
#include <QFileInfo>

TEST(Database, NullPathIsInMemoryEmptyPathIsTemporaryFile)
{
    auto memory = SLDatabase::databaseWithPath(QString());
    EXPECT_EQ(memory->sqlitePath(), QByteArray(":memory:"));
    ASSERT_TRUE(memory->open());
    EXPECT_EQ(memory->stringForQuery("pragma journal_mode"), "memory");

    auto temporary = SLDatabase::databaseWithPath("");
    EXPECT_EQ(temporary->sqlitePath(), QByteArray(""));
    ASSERT_TRUE(temporary->open());
    EXPECT_EQ(temporary->stringForQuery("pragma journal_mode"), "delete");
    EXPECT_TRUE(temporary->executeUpdate("create table t(a)"));

    const QString path = TestSupport::home() + "/file.sqlite";
    auto file = SLDatabase::databaseWithPath(path);
    EXPECT_EQ(file->databasePath(), path);
    ASSERT_TRUE(file->open());
    EXPECT_TRUE(file->executeUpdate("create table t(a)"));
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_TRUE(file->close());
    EXPECT_EQ(file->sqliteHandle(), nullptr);
}

TEST(Database, ClosedConnectionRefusesStatements)
{
    auto db = SLDatabase::databaseWithPath();
    ConsoleCapture console;
    EXPECT_FALSE(db->executeUpdate("create table t(a)"));
    SLResultSet rs = db->executeQuery("select 1");
    EXPECT_TRUE(rs.isNull());
    EXPECT_FALSE(rs.next());
    EXPECT_EQ(db->changes(), 0);
    EXPECT_EQ(console.text().count(QString("The SLDatabase %1 is not open.").arg(db->description())), 3);
}

TEST(Database, FailedOpenKeepsErrorAndRetriesNextTime)
{
    const QString folder = TestSupport::home() + "/missing-folder";
    auto db = SLDatabase::databaseWithPath(folder + "/search.sqlite");
    {
        ConsoleCapture console;
        EXPECT_FALSE(db->open());
        EXPECT_TRUE(console.text().contains("error opening!: 14"));
    }
    EXPECT_EQ(db->sqliteHandle(), nullptr);
    EXPECT_EQ(db->lastErrorCode(), SQLITE_CANTOPEN);
    EXPECT_EQ(db->lastErrorMessage(), "unable to open database file");
    EXPECT_TRUE(db->hadError());
    EXPECT_EQ(db->lastError().code, SQLITE_CANTOPEN);

    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(db->open());
    EXPECT_FALSE(db->hadError());
    EXPECT_TRUE(db->executeUpdate("create table t(a)"));
    EXPECT_TRUE(db->open()) << "a second open of an open connection answers at once";
}

TEST(Database, CloseFinalizesLeakedStatementsAndOpenResultSets)
{
    auto db = openMemory("create table t(a); insert into t values(1);");
    sqlite3_stmt* leaked = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db->sqliteHandle(), "select a from t", -1, &leaked, nullptr), SQLITE_OK);
    SLResultSet rs = db->executeQuery("select a from t");
    ASSERT_TRUE(rs.next());
    EXPECT_TRUE(db->hasOpenResultSets());

    ConsoleCapture console;
    EXPECT_TRUE(db->close());
    const QString log = console.text();
    EXPECT_EQ(log.count("Closing leaked statement"), 1) << qPrintable(log);
    EXPECT_FALSE(log.contains("error closing!"));
    EXPECT_EQ(db->sqliteHandle(), nullptr);
    EXPECT_FALSE(db->hasOpenResultSets());
    EXPECT_FALSE(rs.next());
    EXPECT_TRUE(rs.stringForColumnIndex(0).isNull());

    // The connection opens again after a close.
    ASSERT_TRUE(db->open());
    EXPECT_TRUE(db->executeUpdate("create table t(a)"));
}

TEST(Database, HadErrorAndErrorObjects)
{
    auto db = openMemory("create table t(a unique); insert into t values(1);");
    EXPECT_FALSE(db->hadError());

    ConsoleCapture console;
    Error error;
    EXPECT_FALSE(db->executeUpdateWithErrorAndBindings("insert into t values(?)", &error, 1));
    EXPECT_TRUE(db->hadError());
    EXPECT_EQ(db->lastErrorCode(), SQLITE_CONSTRAINT);
    const Error last = db->lastError();
    EXPECT_EQ(last.domain, "SLDatabase");
    EXPECT_EQ(last.code, SQLITE_CONSTRAINT);
    EXPECT_EQ(last.localizedDescription(), db->lastErrorMessage());

    // A statement that cannot be prepared fills the error out-parameter.
    EXPECT_FALSE(db->executeUpdateWithErrorAndBindings("insert into nowhere values(1)", &error));
    EXPECT_EQ(error.domain, "SLDatabase");
    EXPECT_EQ(error.code, SQLITE_ERROR);
    EXPECT_EQ(error.localizedDescription(), "no such table: nowhere");
    const QString log = console.text();
    EXPECT_TRUE(log.contains("DB Error: 1 \"no such table: nowhere\""));
    EXPECT_TRUE(log.contains("DB Query: insert into nowhere values(1)"));
    EXPECT_TRUE(log.contains("DB Path: "));
    EXPECT_TRUE(db->executeUpdate("insert into t values(2)"));
}

TEST(Database, BusyHandlerWaitsForItsIntervalOnly)
{
    const QString path = TestSupport::home() + "/busy.sqlite";
    auto holder = SLDatabase::databaseWithPath(path);
    auto waiter = SLDatabase::databaseWithPath(path);
    ASSERT_TRUE(holder->open());
    ASSERT_TRUE(waiter->open());
    ASSERT_TRUE(holder->executeUpdate("create table t(a)"));
    ASSERT_TRUE(holder->beginTransaction());
    EXPECT_TRUE(holder->inTransaction());
    ASSERT_TRUE(holder->executeUpdate("insert into t values(1)"));

    ConsoleCapture console;
    waiter->setMaxBusyRetryTimeInterval(0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(waiter->executeUpdate("insert into t values(2)"));
    EXPECT_LT(secondsSince(start), 0.25);
    EXPECT_EQ(waiter->lastErrorCode(), SQLITE_BUSY);

    waiter->setMaxBusyRetryTimeInterval(0.3);
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(waiter->executeUpdate("insert into t values(3)"));
    const double waited = secondsSince(start);
    EXPECT_GE(waited, 0.3);
    EXPECT_LT(waited, 2.0);
    EXPECT_EQ(waiter->lastErrorCode(), SQLITE_BUSY);

    ASSERT_TRUE(holder->commit());
    EXPECT_FALSE(holder->inTransaction());
    EXPECT_TRUE(waiter->executeUpdate("insert into t values(4)"));
    EXPECT_EQ(waiter->intForQuery("select count(*) from t"), 2);
}

TEST(Database, NullDatabaseDoesNothingQuietly)
{
    auto db = SLDatabase::nullDatabase();
    ConsoleCapture console;
    EXPECT_FALSE(db->open());
    EXPECT_FALSE(db->executeUpdate("create table t(a)"));
    SLResultSet rs = db->executeQuery("select ?", "x");
    EXPECT_FALSE(rs.next());
    EXPECT_TRUE(rs.stringForColumnIndex(0).isNull());
    EXPECT_EQ(db->changes(), 0);
    EXPECT_EQ(db->lastInsertRowId(), 0);
    EXPECT_TRUE(db->stringForQuery("select 1").isNull());
    EXPECT_FALSE(db->tableExists("t"));
    EXPECT_FALSE(db->goodConnection());
    EXPECT_FALSE(db->validateSQL("select 1"));
    EXPECT_TRUE(db->close());
    EXPECT_TRUE(console.text().isEmpty());
}

TEST(Database, InUseGuardCatchesReentryFromAFunction)
{
    auto db = openMemory("create table t(a)");
    bool innerResult = true;
    db->makeFunctionNamed("twice", 1, [&](sqlite3_context* context, int, sqlite3_value** argv) {
        innerResult = db->executeUpdate("insert into t values(99)");
        sqlite3_result_int64(context, 2 * sqlite3_value_int64(argv[0]));
    });
    ConsoleCapture console;
    ASSERT_TRUE(db->executeUpdate("insert into t values(twice(?))", 21));
    EXPECT_FALSE(innerResult);
    EXPECT_TRUE(console.text().contains(QString("The SLDatabase %1 is currently in use.").arg(db->description())));
    EXPECT_EQ(db->intForQuery("select group_concat(a) from t"), 42);
}
