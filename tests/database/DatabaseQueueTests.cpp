#include "ConsoleCapture.h"
#include "Dispatch.h"
#include "SLDatabaseQueue.h"

#include <thread>
#include <vector>

namespace {

std::shared_ptr<SLDatabaseQueue> queueWithTable(const QString& name)
{
    return withTable(SLDatabaseQueue::databaseQueueWithPath, name);
}

} // namespace

TEST(Database, QueueReentryIsCaughtBeforeItDeadlocks)
{
    auto queue = SLDatabaseQueue::databaseQueueWithPath();
    auto other = SLDatabaseQueue::databaseQueueWithPath();
    ASSERT_TRUE(queue && other);

    // Another queue's block may use this one: only the same queue is re-entry.
    bool ranInner = false;
    other->inDatabase([&](SLDatabase&) { queue->inDatabase([&](SLDatabase&) { ranInner = true; }); });
    EXPECT_TRUE(ranInner);

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(queue->inDatabase([&](SLDatabase&) { queue->inDatabase([](SLDatabase&) {}); }),
                 "currentSyncQueue != self && \"inDatabase: was called reentrantly on the same queue, which would "
                 "lead to a deadlock\"");
}

TEST(Database, QueueRunsBlocksOneAtATimeOnItsLabelledQueue)
{
    auto queue = queueWithTable("serial");
    QString label;
    queue->inDatabase([&](SLDatabase& db) {
        label = DispatchQueue::currentLabel();
        EXPECT_TRUE(db.executeUpdate("create table counter(n integer)"));
        EXPECT_TRUE(db.executeUpdate("insert into counter values (0)"));
    });
    EXPECT_EQ(label, "sldb." + queue->description());

    // A read followed by a write loses increments unless blocks never overlap.
    constexpr int Threads = 4;
    constexpr int Increments = 100;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < Increments; ++i)
                queue->inDatabase([](SLDatabase& db) {
                    const int n = db.intForQuery("select n from counter");
                    db.executeUpdate("update counter set n = ?", n + 1);
                });
        });
    for (auto& thread : threads)
        thread.join();
    int total = 0;
    queue->inDatabase([&](SLDatabase& db) { total = db.intForQuery("select n from counter"); });
    EXPECT_EQ(total, Threads * Increments);
}

TEST(Database, QueueOpeningClosingAndReopening)
{
    {
        ConsoleCapture console;
        const QString missing = TestSupport::home() + "/no/such/folder/db.sqlite";
        EXPECT_FALSE(SLDatabaseQueue::databaseQueueWithPath(missing));
        EXPECT_TRUE(console.text().contains("Could not create database queue for path " + missing));
    }

    auto queue = queueWithTable("reopen");
    queue->inDatabase([](SLDatabase& db) { db.executeUpdate("insert into t values (1)"); });
    queue->close();
    EXPECT_EQ(rowCount(*queue), 1);

    // A connection that cannot be reopened leaves blocks a connection that does nothing.
    const QString missing = TestSupport::home() + "/gone/db.sqlite";
    queue->setPath(missing);
    queue->close();
    ConsoleCapture console;
    bool sawHandle = true;
    queue->inDatabase([&](SLDatabase& db) {
        sawHandle = db.sqliteHandle() != nullptr;
        EXPECT_FALSE(db.executeUpdate("insert into t values (2)"));
    });
    EXPECT_FALSE(sawHandle);
    expectTransactionBlocksSkipped(*queue);
    EXPECT_TRUE(console.text().contains("SLDatabaseQueue could not reopen database for path " + missing));
}

TEST(Database, QueueWarnsAboutResultSetsLeftOpen)
{
    auto queue = queueWithTable("open-results");
    SLResultSet kept;
    {
        ConsoleCapture console;
        queue->inDatabase([&](SLDatabase& db) { kept = db.executeQuery("select 1"); });
        EXPECT_TRUE(console.text().contains(QStringLiteral(
            "Warning: there is at least one open result set around after performing [SLDatabaseQueue inDatabase:]")));
    }
    // Left open, not closed behind the caller's back.
    queue->inDatabase([&](SLDatabase&) {
        EXPECT_TRUE(kept.next());
        EXPECT_EQ(kept.intForColumnIndex(0), 1);
        kept.close();
    });
    ConsoleCapture console;
    queue->inDatabase([](SLDatabase& db) { db.intForQuery("select 1"); });
    EXPECT_FALSE(console.text().contains("open result set"));
}

TEST(Database, QueueTransactionsCommitOrRollBack)
{
    auto queue = queueWithTable("transactions");
    expectTransactionsAndSavePoints(*queue);

    // A transaction that cannot begin does not run its block.
    ConsoleCapture console;
    queue->inDatabase([](SLDatabase& db) { db.beginTransaction(); });
    bool ranBlock = false;
    EXPECT_FALSE(queue->inTransaction([&](SLDatabase&, bool&) { ranBlock = true; }));
    EXPECT_FALSE(ranBlock);
    queue->inDatabase([](SLDatabase& db) { EXPECT_TRUE(db.rollback()); });

    // A commit that fails is rolled back rather than left open.
    queue->inDatabase([](SLDatabase& db) {
        db.executeStatements(QStringLiteral("pragma foreign_keys = on;"
                                            "create table parent(id integer primary key);"
                                            "create table child(p references parent(id)"
                                            " deferrable initially deferred);"));
    });
    EXPECT_FALSE(queue->inTransaction([](SLDatabase& db, bool&) {
        EXPECT_TRUE(db.executeUpdate("insert into child values (7)"));
    }));
    queue->inDatabase([](SLDatabase& db) {
        EXPECT_FALSE(db.inTransaction());
        EXPECT_EQ(db.intForQuery("select count(*) from child"), 0);
    });
    EXPECT_TRUE(queue->inTransaction([](SLDatabase& db, bool&) { db.executeUpdate("insert into t values (5)"); }));
    EXPECT_EQ(rowCount(*queue), 3);
}

TEST(Database, QueueExclusiveAndDeferredTransactions)
{
    auto queue = queueWithTable("locking");
    auto other = SLDatabase::databaseWithPath(TestSupport::home() + "/locking.sqlite");
    ASSERT_TRUE(other->open());
    other->setMaxBusyRetryTimeInterval(0);
    ConsoleCapture console;

    // An exclusive transaction locks the file from its start; a deferred one
    // takes no lock until it reads or writes.
    queue->inTransaction([&](SLDatabase&, bool&) {
        EXPECT_FALSE(other->executeUpdate("insert into t values (1)"));
        EXPECT_EQ(other->lastErrorCode(), SQLITE_BUSY);
    });
    queue->inDeferredTransaction([&](SLDatabase&, bool&) {
        EXPECT_TRUE(other->executeUpdate("insert into t values (2)"));
    });
    EXPECT_EQ(rowCount(*queue), 1);
}

TEST(Database, QueueSavePointInsideATransactionUndoesOnlyItsOwnWork)
{
    auto queue = queueWithTable("savepoints");
    EXPECT_TRUE(queue->inTransaction([](SLDatabase& db, bool&) { db.executeUpdate("insert into t values (3)"); }));
    queue->inDatabase([](SLDatabase& db) {
        db.beginTransaction();
        db.executeUpdate("insert into t values (4)");
    });
    queue->inSavePoint([](SLDatabase& db, bool& rollback) {
        db.executeUpdate("insert into t values (5)");
        rollback = true;
    });
    queue->inDatabase([](SLDatabase& db) {
        EXPECT_TRUE(db.commit());
        EXPECT_EQ(db.intForQuery("select sum(a) from t"), 3 + 4);
    });
}
