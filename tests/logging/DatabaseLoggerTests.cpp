#include "LoggingTestSupport.h"
#include "VGAbstractDatabaseLogger.h"

namespace {

// Counts what the base asks of it; refuses messages of context 9.
class CountingDatabaseLogger : public VGAbstractDatabaseLogger {
public:
    std::atomic<int> saved {0};    // entries stored
    std::atomic<int> saves {0};
    std::atomic<int> deletes {0};
    std::atomic<int> saveAndDeletes {0};

protected:
    bool db_log(const VGLogMessage& message) override
    {
        if (message.logContext() == 9)
            return false;
        ++pending_;
        return true;
    }
    void db_save() override { saved += std::exchange(pending_, (++saves, 0)); }
    void db_delete() override { ++deletes; }
    void db_saveAndDelete() override { saved += std::exchange(pending_, (++saveAndDeletes, 0)); }

private:
    int pending_ = 0;
};

class LoggingDatabaseLogger : public LoggingTest {
protected:
    void SetUp() override
    {
        LoggingTest::SetUp();
        logger = std::make_shared<CountingDatabaseLogger>();
        VGLog::addLogger(logger);
    }
    static void log(int count, int32_t context = 0)
    {
        for (int i = 0; i < count; ++i)
            VGLog::log(true, makeMessage("entry", LogFlagInfo, context));
        Dispatch::waitUntilIdle();
    }

    TestSupport::VirtualTime time;
    std::shared_ptr<CountingDatabaseLogger> logger;
};

} // namespace

TEST_F(LoggingDatabaseLogger, SavesAtTheThresholdOrAfterTheInterval)
{
    log(499);
    EXPECT_EQ(logger->saves, 0);
    log(1);
    EXPECT_EQ(logger->saves, 1);
    EXPECT_EQ(logger->saved, 500);

    log(1);
    time.advance(59.5);
    EXPECT_EQ(logger->saves, 1);
    time.advance(0.5);
    EXPECT_EQ(logger->saves, 2);
    EXPECT_EQ(logger->saved, 501);
    // Saved and suspended: no further saves with nothing unsaved.
    time.advance(600);
    EXPECT_EQ(logger->saves, 2);

    // The interval counts from the first entry of a batch.
    log(1);
    time.advance(30);
    log(1);
    time.advance(30);
    EXPECT_EQ(logger->saves, 3);
    EXPECT_EQ(logger->saved, 503);
}

TEST_F(LoggingDatabaseLogger, RefusedEntriesChangeNothing)
{
    log(600, 9);
    time.advance(120);
    EXPECT_EQ(logger->saves, 0);
    // A save with nothing unsaved stores nothing.
    logger->savePendingLogEntries();
    VGLog::flushLog();
    EXPECT_EQ(logger->saves + logger->saveAndDeletes, 0);
}

TEST_F(LoggingDatabaseLogger, LoweringTheThresholdSavesAtOnce)
{
    logger->setSaveThreshold(0);
    log(600);
    EXPECT_EQ(logger->saves, 0);
    logger->setSaveThreshold(10);
    VGLog::flushLog(); // flushing saves too, so look before it
    EXPECT_EQ(logger->saved, 600);
    EXPECT_EQ(logger->saves, 1);
}

TEST_F(LoggingDatabaseLogger, DeletesPeriodicallyAndWhenMaxAgeShrinks)
{
    log(1);
    time.advance(300);
    EXPECT_EQ(logger->deletes, 1);
    time.advance(300);
    EXPECT_EQ(logger->deletes, 2);

    logger->setMaxAge(86400); // from 7 days to 1: at once
    Dispatch::waitUntilIdle();
    EXPECT_EQ(logger->deletes, 3);
    logger->setMaxAge(7 * 86400); // longer: nothing now
    Dispatch::waitUntilIdle();
    EXPECT_EQ(logger->deletes, 3);

    logger->setDeleteInterval(0);
    time.advance(3600);
    EXPECT_EQ(logger->deletes, 3);
    logger->deleteOldLogEntries();
    Dispatch::waitUntilIdle();
    EXPECT_EQ(logger->deletes, 4);

    logger->setMaxAge(0);
    logger->deleteOldLogEntries();
    Dispatch::waitUntilIdle();
    EXPECT_EQ(logger->deletes, 4);
}

TEST_F(LoggingDatabaseLogger, DeleteOnEverySaveAndRemoval)
{
    logger->setDeleteOnEverySave(true);
    log(3);
    time.advance(60);
    EXPECT_EQ(logger->saveAndDeletes, 1);
    EXPECT_EQ(logger->saves, 0);
    logger->setDeleteOnEverySave(false);

    // Removal saves what is pending before the timers go.
    log(2);
    VGLog::removeLogger(logger);
    Dispatch::waitUntilIdle();
    EXPECT_EQ(logger->saves, 1);
    EXPECT_EQ(logger->saved, 5);
    time.advance(3600);
    EXPECT_EQ(logger->deletes, 0);
}

TEST_F(LoggingDatabaseLogger, SaveIntervalOffStopsTheTimer)
{
    logger->setSaveInterval(0);
    log(1);
    time.advance(3600);
    EXPECT_EQ(logger->saves, 0);
    logger->setSaveInterval(10); // the waiting entry is long past its deadline: saved at once
    Dispatch::waitUntilIdle();
    time.advance(0);
    EXPECT_EQ(logger->saves, 1);
    log(1);
    time.advance(9);
    EXPECT_EQ(logger->saves, 1);
    time.advance(1);
    EXPECT_EQ(logger->saves, 2);
    EXPECT_EQ(logger->saved, 2);
}
