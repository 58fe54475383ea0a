#include "FaultInjector.h"
#include "RecordStoreClient.h"
#include "RecordStoreError.h"
#include "TestSupport.h"

using namespace RecordStoreTest;
using Op = FaultInjector::Operation;

namespace {

class RecordStoreFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int stores = 0;
        const QString path = TestSupport::home() + QStringLiteral("/faults/%1.sqlite").arg(++stores);
        Error error;
        container = Container::open("net.brindlewick.notes", {path, "F", PushCenter::create(), {}}, &error);
        ASSERT_TRUE(container) << qPrintable(error.localizedDescription());
        faulty = std::make_shared<FaultInjector>(container->privateDatabase());
    }

    static Record note(const QString& name) { return Record("Notes", RecordID {name}); }

    std::shared_ptr<Container> container;
    std::shared_ptr<FaultInjector> faulty;
};

TEST_F(RecordStoreFaults, NextCallsFailThenPassThrough)
{
    faulty->failNext(Op::SaveRecord, 2, RecordStoreError::NetworkFailure);
    faulty->failNext(Op::Query, 1, RecordStoreError::ZoneBusy);
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(save(*faulty, note("a")).error.code, RecordStoreError::NetworkFailure) << "call " << i;
    EXPECT_EQ(fetch(*faulty, RecordID {"a"}).error.code, RecordStoreError::UnknownItem)
        << "a failed save reached the database";
    EXPECT_TRUE(save(*faulty, note("a")).error.isNull());

    const Query all {"Notes", Predicate::alwaysTrue()};
    EXPECT_EQ(query(*faulty, all).error.code, RecordStoreError::ZoneBusy);
    EXPECT_EQ(names(query(*faulty, all).records), QStringList {"a"});
    EXPECT_EQ(fetch(*faulty, RecordID {"a"}).error.code, 0) << "faults leak to other operations";
}

TEST_F(RecordStoreFaults, DelayRunsOnTheDispatchClock)
{
    TestSupport::VirtualTime time;
    faulty->setDelay(Op::FetchAllSubscriptions, 30);
    std::atomic<bool> done {false};
    faulty->fetchAllSubscriptions([&](QList<Subscription>, Error) { done = true; });
    time.advance(29);
    EXPECT_FALSE(done);
    time.advance(1);
    EXPECT_TRUE(done);
}

TEST_F(RecordStoreFaults, HeldCallbacksRunInOrderOnRelease)
{
    faulty->hold(Op::Query);
    ASSERT_TRUE(modify(*faulty, {note("a"), note("b")}, {}).error.isNull());
    auto order = std::make_shared<QStringList>();
    std::atomic<bool> finished {false};
    faulty->addQueryOperation({"Notes", Predicate::alwaysTrue()}, std::nullopt, 0,
                              [order](const Record& record) { order->append(record.recordID().recordName); },
                              [order, &finished](std::optional<QueryCursor>, QDateTime, Error) {
                                  order->append("done");
                                  finished = true;
                              });
    Dispatch::waitUntilIdle();
    EXPECT_EQ(faulty->heldCount(Op::Query), 3);
    EXPECT_TRUE(order->isEmpty());
    faulty->release(Op::Query);
    ASSERT_TRUE(waitUntil([&] { return finished.load(); }));
    EXPECT_EQ(*order, (QStringList {"a", "b", "done"}));
    EXPECT_EQ(faulty->heldCount(Op::Query), 0);
}

} // namespace
