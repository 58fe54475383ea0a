#include "ConsoleCapture.h"
#include "Dispatch.h"
#include "SLDatabasePool.h"
#include "SLDatabasePoolDelegate.h"

#include <gmock/gmock.h>

#include <barrier>
#include <stdexcept>
#include <thread>

namespace {

struct Counts {
    uint64_t in, out, open;
    bool operator==(const Counts&) const = default;
};

Counts counts(const SLDatabasePool& pool)
{
    return {pool.countOfCheckedInDatabases(), pool.countOfCheckedOutDatabases(), pool.countOfOpenDatabases()};
}

class RecordingDelegate : public SLDatabasePoolDelegate {
public:
    bool databasePoolShouldAddDatabaseToPool(SLDatabasePool&, SLDatabase& database) override
    {
        asked.push_back(&database);
        return refusals-- <= 0;
    }
    void databasePoolDidAddDatabase(SLDatabasePool&, SLDatabase& database) override { added.push_back(&database); }

    int refusals = 0;
    std::vector<SLDatabase*> asked;
    std::vector<SLDatabase*> added;
};

} // namespace

TEST(Database, PoolReusesTheLastConnectionCheckedIn)
{
    auto pool = SLDatabasePool::databasePoolWithPath();
    EXPECT_EQ(counts(*pool), (Counts {0, 0, 0}));
    auto first = pool->db();
    auto second = pool->db();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_NE(first->sqliteHandle(), nullptr);
    EXPECT_EQ(counts(*pool), (Counts {0, 2, 2}));
    pool->pushDatabaseBackInPool(first);
    pool->pushDatabaseBackInPool(second);
    pool->pushDatabaseBackInPool(nullptr);
    EXPECT_EQ(counts(*pool), (Counts {2, 0, 2}));

    SLDatabase* used = nullptr;
    pool->inDatabase([&](SLDatabase& db) { used = &db; });
    EXPECT_EQ(used, second.get());
    EXPECT_EQ(counts(*pool), (Counts {2, 0, 2}));

    pool->releaseAllDatabases();
    EXPECT_EQ(counts(*pool), (Counts {0, 0, 0}));
}

TEST(Database, PoolRefusesADoubleCheckIn)
{
    auto pool = SLDatabasePool::databasePoolWithPath();
    auto db = pool->db();
    pool->pushDatabaseBackInPool(db);
    EXPECT_THAT([&] { pool->pushDatabaseBackInPool(db); },
                testing::ThrowsMessage<std::logic_error>("Database already in pool: The SLDatabase being put back "
                                                         "into the pool is already present in the pool"));
    EXPECT_EQ(counts(*pool), (Counts {1, 0, 1}));
}

TEST(Database, PoolStopsAtItsMaximum)
{
    auto pool = SLDatabasePool::databasePoolWithPath();
    pool->setMaximumNumberOfDatabasesToCreate(2);
    ConsoleCapture console;
    bool thirdHadHandle = true;
    pool->inDatabase([&](SLDatabase& first) {
        pool->inDatabase([&](SLDatabase& second) {
            EXPECT_NE(&first, &second);
            EXPECT_EQ(counts(*pool), (Counts {0, 2, 2}));
            pool->inDatabase([&](SLDatabase& third) {
                thirdHadHandle = third.sqliteHandle() != nullptr;
                EXPECT_FALSE(third.executeUpdate("create table t(a)"));
            });
        });
    });
    EXPECT_FALSE(thirdHadHandle);
    EXPECT_TRUE(console.text().contains("Maximum number of databases (2) has already been reached!"));
    EXPECT_EQ(counts(*pool), (Counts {2, 0, 2}));
}

TEST(Database, PoolRunsBlocksOnDifferentConnectionsAtOnce)
{
    auto pool = withTable(SLDatabasePool::databasePoolWithPath, "concurrent");
    // Both blocks must be inside the pool at the same time to pass the barrier.
    std::barrier meet(2);
    uint64_t outWhileBothRan = 0;
    auto work = [&](int value) {
        pool->inDatabase([&](SLDatabase& db) {
            meet.arrive_and_wait();
            if (value == 1)
                outWhileBothRan = pool->countOfCheckedOutDatabases();
            meet.arrive_and_wait();
            EXPECT_TRUE(db.executeUpdate("insert into t values (?)", value));
        });
    };
    std::thread a(work, 1);
    std::thread b(work, 2);
    a.join();
    b.join();
    EXPECT_EQ(outWhileBothRan, 2u);
    EXPECT_EQ(rowCount(*pool), 2);
    EXPECT_EQ(pool->countOfOpenDatabases(), 2u);
}

TEST(Database, PoolDelegateIsAskedEveryTimeAndRefusedConnectionsLeave)
{
    auto pool = SLDatabasePool::databasePoolWithPath();
    auto delegate = std::make_shared<RecordingDelegate>();
    pool->setDelegate(delegate);

    auto db = pool->db();
    pool->pushDatabaseBackInPool(db);
    pool->inDatabase([](SLDatabase&) {});
    EXPECT_EQ(delegate->asked, (std::vector<SLDatabase*> {db.get(), db.get()}));
    EXPECT_EQ(delegate->added, (std::vector<SLDatabase*> {db.get()}));

    // A refused connection is closed and leaves both lists.
    delegate->refusals = 1;
    bool refusedHadHandle = true;
    pool->inDatabase([&](SLDatabase& refused) { refusedHadHandle = refused.sqliteHandle() != nullptr; });
    EXPECT_FALSE(refusedHadHandle);
    EXPECT_EQ(db->sqliteHandle(), nullptr);
    EXPECT_EQ(counts(*pool), (Counts {0, 0, 0}));

    delegate->refusals = 1000;
    expectTransactionBlocksSkipped(*pool);
    EXPECT_EQ(counts(*pool), (Counts {0, 0, 0}));

    // Not retained: once its owner lets go, connections are handed out unasked.
    delegate.reset();
    EXPECT_EQ(pool->delegate(), nullptr);
    pool->inDatabase([&](SLDatabase& db) { EXPECT_NE(db.sqliteHandle(), nullptr); });
    EXPECT_EQ(counts(*pool), (Counts {1, 0, 1}));
}

TEST(Database, PoolThatCannotOpenHandsOutTheNullDatabase)
{
    const QString missing = TestSupport::home() + "/no/such/folder/db.sqlite";
    auto pool = SLDatabasePool::databasePoolWithPath(missing, SQLITE_OPEN_READWRITE);
    ConsoleCapture console;
    EXPECT_EQ(pool->db(), nullptr);
    bool hadHandle = true;
    pool->inDatabase([&](SLDatabase& db) { hadHandle = db.sqliteHandle() != nullptr; });
    EXPECT_FALSE(hadHandle);
    EXPECT_TRUE(console.text().contains("Could not open up the database at path " + missing));
    EXPECT_EQ(counts(*pool), (Counts {0, 0, 0}));
}

TEST(Database, PoolTransactionsAndSavePoints)
{
    auto pool = withTable(SLDatabasePool::databasePoolWithPath, "pool-transactions");
    expectTransactionsAndSavePoints(*pool);

    // A connection checked back in while still inside a transaction cannot
    // begin another: the block is skipped and the failure reported.
    auto db = pool->db();
    ASSERT_TRUE(db->beginTransaction());
    pool->pushDatabaseBackInPool(db);
    bool ranBlock = false;
    ConsoleCapture console;
    EXPECT_FALSE(pool->inTransaction([&](SLDatabase&, bool&) { ranBlock = true; }));
    EXPECT_FALSE(ranBlock);
    EXPECT_TRUE(db->rollback());
    EXPECT_EQ(counts(*pool), (Counts {1, 0, 1}));
}
