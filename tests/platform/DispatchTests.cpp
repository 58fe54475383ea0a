#include "Dispatch.h"
#include "DispatchApply.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

// Collects strings from any thread.
struct Trace {
    std::mutex mutex;
    QStringList items;
    void add(const QString& item)
    {
        std::lock_guard lock(mutex);
        items << item;
    }
    QStringList snapshot()
    {
        std::lock_guard lock(mutex);
        return items;
    }
};

// Yields for a millisecond, long enough for a worker that wrongly took the
// queue's next block to show; bounded in time, as each yield can hand the
// core away for a whole slice on a loaded machine.
void holdAWhile()
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1);
    do
        std::this_thread::yield();
    while (std::chrono::steady_clock::now() < until);
}

// Keeps a serial queue's thread asleep for the life of the object: a signal
// stops it inside its wait for blocks, where it holds no lock of the queue,
// until the object goes.
class HeldThread {
public:
    explicit HeldThread(const DispatchQueuePtr& queue)
    {
        EXPECT_EQ(::pipe(release_), 0);
        releaseFd = release_[0];
        struct sigaction action {};
        action.sa_handler = &HeldThread::hold;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGUSR1, &action, &previous_);
        pid_t thread = 0;
        queue->sync([&] { thread = ::gettid(); });
        // Asleep: past the block and its count, waiting for the next one.
        while (stateOf(thread) != 'S')
            std::this_thread::yield();
        entered = false;
        EXPECT_EQ(::tgkill(::getpid(), thread, SIGUSR1), 0);
        while (!entered)
            std::this_thread::yield();
    }
    ~HeldThread()
    {
        const char go = 1;
        EXPECT_EQ(::write(release_[1], &go, 1), 1);
        ::sigaction(SIGUSR1, &previous_, nullptr);
        ::close(release_[1]); // the handler reads its byte first
    }
    HeldThread(const HeldThread&) = delete;
    HeldThread& operator=(const HeldThread&) = delete;

private:
    static char stateOf(pid_t thread)
    {
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(thread));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray line = stat.readAll();
        const qsizetype afterName = line.lastIndexOf(')');
        return afterName >= 0 && afterName + 2 < line.size() ? line.at(afterName + 2) : 0;
    }
    static void hold(int)
    {
        const int saved = errno;
        entered = true;
        char go = 0;
        while (::read(releaseFd, &go, 1) < 0 && errno == EINTR) {
        }
        ::close(releaseFd);
        errno = saved;
    }

    static inline std::atomic<bool> entered {false};
    static inline int releaseFd = -1;
    int release_[2] = {-1, -1};
    struct sigaction previous_ {};
};

} // namespace

TEST(Dispatch, SerialQueueRunsBlocksInOrderOneAtATime)
{
    // A lingering worker picks up blocks added while it waits for them.
    for (const bool lingers : {false, true}) {
        auto queue = DispatchQueue::createSerial("test.fifo");
        queue->setLingersWhenIdle(lingers);
        std::vector<int> seen;
        std::atomic<int> running {0};
        bool overlapped = false;
        // One producer keeps its own order; the queue must never run two blocks at once.
        for (int i = 0; i < 10000; ++i) {
            queue->async([&, i] {
                if (running.fetch_add(1) != 0)
                    overlapped = true;
                seen.push_back(i);
                running.fetch_sub(1);
            });
            if (i % 100 == 0)
                std::this_thread::yield();
        }
        queue->sync([] {});
        ASSERT_EQ(seen.size(), 10000u) << lingers;
        for (int i = 0; i < 10000; ++i)
            ASSERT_EQ(seen[i], i) << lingers;
        EXPECT_FALSE(overlapped) << lingers;
    }
}

TEST(Dispatch, SyncReturnsAfterTheBlockRanOnTheQueue)
{
    auto queue = DispatchQueue::createSerial("test.sync");
    QString labelInside;
    bool currentInside = false;
    queue->sync([&] {
        labelInside = DispatchQueue::currentLabel();
        currentInside = queue->isCurrent();
    });
    EXPECT_EQ(labelInside, "test.sync");
    EXPECT_TRUE(currentInside);
    EXPECT_FALSE(queue->isCurrent());
    EXPECT_EQ(DispatchQueue::currentLabel(), DispatchQueue::mainLabel());
}

TEST(Dispatch, RunOnCallerRunsAsTheQueueInItsTurn)
{
    for (const bool lingers : {false, true}) {
        static const int key = 0;
        auto queue = DispatchQueue::createSerial("test.caller");
        // A worker waiting for work must leave the held queue to its caller.
        queue->setLingersWhenIdle(lingers);
        queue->setSpecific(&key, std::make_shared<int>(7));
        const auto caller = std::this_thread::get_id();
        Trace trace;
        // Idle: on the caller's thread, as the queue; what it adds meanwhile waits for it.
        for (int i = 0; i < 200; ++i) {
            queue->runOnCaller([&] {
                if (i == 0) {
                    EXPECT_EQ(std::this_thread::get_id(), caller);
                    EXPECT_TRUE(queue->isCurrent());
                    EXPECT_EQ(DispatchQueue::currentLabel(), "test.caller");
                    EXPECT_EQ(*std::static_pointer_cast<int>(DispatchQueue::currentSpecific(&key)), 7);
                }
                queue->async([&] { trace.add("added"); });
                holdAWhile();
                trace.add("held");
            });
        }
        queue->sync([] {});
        const QStringList items = trace.snapshot();
        ASSERT_EQ(items.size(), 400);
        for (int i = 0; i < items.size(); i += 2)
            ASSERT_EQ(items[i], "held") << i;
        EXPECT_FALSE(queue->isCurrent());

        // Busy: it waits for the running block and runs on the queue's thread.
        std::atomic<bool> release {false};
        queue->async([&] {
            release.wait(false);
            trace.add("running");
        });
        std::thread other([&] { queue->runOnCaller([&] { trace.add("after"); }); });
        release = true;
        release.notify_all();
        other.join();
        EXPECT_EQ(trace.snapshot().mid(400), QStringList({"running", "after"}));
    }
}

TEST(Dispatch, ARetractableBlockRunsOnceHereOrOnItsQueue)
{
    auto queue = DispatchQueue::createSerial("test.retractable");
    const auto caller = std::this_thread::get_id();
    // Behind a running block: the queue keeps it.
    std::atomic<bool> release {false};
    queue->async([&] { release.wait(false); });
    std::atomic<int> onQueue {0};
    auto behind = queue->asyncRetractable([&] { onQueue += std::this_thread::get_id() != caller ? 1 : 100; });
    EXPECT_FALSE(behind.runHereIfWaiting());
    release = true;
    release.notify_all();
    queue->sync([] {});
    EXPECT_EQ(onQueue.load(), 1);

    // Waiting alone, the caller and the queue's thread race: either way it runs
    // once, as a block of the queue.
    const auto runOnceEitherWay = [&] {
        std::atomic<int> runs {0};
        std::atomic<bool> onCaller {false};
        auto block = queue->asyncRetractable([&] {
            EXPECT_TRUE(queue->isCurrent());
            onCaller = std::this_thread::get_id() == caller;
            ++runs;
        });
        const bool here = block.runHereIfWaiting();
        queue->sync([] {});
        EXPECT_EQ(runs.load(), 1);
        EXPECT_EQ(onCaller.load(), here);
        return here;
    };
    for (int i = 0; i < 100; ++i)
        runOnceEitherWay();

    // The caller wins whenever the queue's thread has not woken for the block:
    // held asleep, it can take none of them.
    int ranHere = 0;
    std::atomic<int> ranOnCaller {0};
    {
        HeldThread held(queue);
        for (int i = 0; i < 20; ++i) {
            auto block = queue->asyncRetractable([&] { ranOnCaller += std::this_thread::get_id() == caller ? 1 : 0; });
            ranHere += block.runHereIfWaiting() ? 1 : 0;
        }
    }
    queue->sync([] {});
    EXPECT_EQ(ranHere, 20);
    EXPECT_EQ(ranOnCaller.load(), 20);
}

TEST(DispatchDeathTest, SyncOntoOwnQueueIsCaughtWithItsLabel)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto queue = DispatchQueue::createSerial("test.reentrant");
            queue->sync([&] { queue->sync([] {}); });
        },
        "test.reentrant");
}

TEST(Dispatch, QueueSpecificValuesAreSeenOnlyByThatQueue)
{
    static const int key = 0;
    auto marked = DispatchQueue::createSerial("test.marked");
    auto plain = DispatchQueue::createSerial("test.plain");
    marked->setSpecific(&key, std::make_shared<int>(42));
    int seenOnMarked = 0;
    bool seenOnPlain = true;
    marked->sync([&] { seenOnMarked = *std::static_pointer_cast<int>(DispatchQueue::currentSpecific(&key)); });
    plain->sync([&] { seenOnPlain = DispatchQueue::currentSpecific(&key) != nullptr; });
    EXPECT_EQ(seenOnMarked, 42);
    EXPECT_FALSE(seenOnPlain);
    EXPECT_EQ(DispatchQueue::currentSpecific(&key), nullptr);
}

TEST(Dispatch, DestroyingAQueueFinishesItsWorkEvenFromItsOwnBlock)
{
    std::atomic<int> ran {0};
    {
        auto queue = DispatchQueue::createSerial("test.drop");
        for (int i = 0; i < 100; ++i)
            queue->async([&] { ran.fetch_add(1); });
    }
    EXPECT_EQ(ran.load(), 100);

    auto holder = std::make_shared<DispatchQueuePtr>(DispatchQueue::createSerial("test.self-drop"));
    std::atomic<bool> done {false};
    (*holder)->async([holder, &done]() mutable {
        holder->reset(); // the last reference drops inside the queue's own block
        done = true;
    });
    holder.reset();
    while (!done)
        std::this_thread::yield();
}

TEST(Dispatch, MainQueueRunsOnTheMainThreadThroughTheEventLoop)
{
    std::thread::id ranOn;
    std::thread([&] { DispatchQueue::main()->async([&] { ranOn = std::this_thread::get_id(); }); }).join();
    ASSERT_TRUE(DispatchQueue::runMainUntil([&] { return ranOn != std::thread::id(); }, 5));
    EXPECT_EQ(ranOn, std::this_thread::get_id());

    // A worker waiting on the main queue is served by the main run loop.
    auto queue = DispatchQueue::createSerial("test.to-main");
    std::atomic<bool> back {false};
    queue->async([&] { DispatchQueue::main()->sync([&] { back = true; }); });
    EXPECT_TRUE(DispatchQueue::runMainUntil([&] { return back.load(); }, 5));
}

TEST(Dispatch, GroupNotifiesOnceAfterTheLastLeave)
{
    auto group = DispatchGroup::create();
    auto queue = DispatchQueue::createSerial("test.group");
    std::atomic<int> work {0};
    std::atomic<int> notified {0};
    int workSeenByNotify = -1;
    group->enter();
    for (int i = 0; i < 8; ++i)
        group->async(DispatchQueue::global(), [&] { work.fetch_add(1); });
    group->notify(queue, [&] {
        workSeenByNotify = work.load();
        notified.fetch_add(1);
    });
    EXPECT_FALSE(group->wait(0.05)); // the manual enter is still open
    EXPECT_EQ(notified.load(), 0);
    group->leave();
    EXPECT_TRUE(group->wait(5));
    queue->sync([] {});
    EXPECT_EQ(notified.load(), 1);
    EXPECT_EQ(workSeenByNotify, 8);

    // Notify on an empty group runs at once.
    group->notify(queue, [&] { notified.fetch_add(1); });
    queue->sync([] {});
    EXPECT_EQ(notified.load(), 2);
}

TEST(Dispatch, VirtualTimeFiresDelayedBlocksInTimeOrder)
{
    TestSupport::VirtualTime time;
    Trace trace;
    auto queue = DispatchQueue::createSerial("test.delays");
    queue->after(60, [&] { trace.add("cloud 60"); });
    DispatchQueue::main()->after(2, [&] { trace.add("local 2"); });
    DispatchQueue::main()->after(1, [&] { trace.add("local 1"); });
    queue->after(2, [&] { trace.add("queue 2"); });

    time.advance(1.5);
    EXPECT_EQ(trace.snapshot(), QStringList({"local 1"}));
    time.advance(0.5);
    EXPECT_EQ(trace.snapshot(), QStringList({"local 1", "local 2", "queue 2"}));
    time.advance(86400);
    EXPECT_EQ(trace.snapshot().last(), "cloud 60");
    EXPECT_DOUBLE_EQ(DispatchTime::now(), 86402);
}

TEST(Dispatch, CancelledDelayedPerformNeverRuns)
{
    TestSupport::VirtualTime time;
    int ran = 0;
    DispatchHandle save = DispatchQueue::main()->after(2, [&] { ++ran; });
    DispatchHandle other = DispatchQueue::main()->after(2, [&] { ran += 10; });
    save.cancel();
    time.advance(5);
    EXPECT_EQ(ran, 10);
    EXPECT_TRUE(save.isCancelled());
    EXPECT_FALSE(other.isCancelled());
}

TEST(Dispatch, TimerSourceRestartReplacesTheScheduleAndRepeatsUntilCancelled)
{
    TestSupport::VirtualTime time;
    auto queue = DispatchQueue::createSerial("test.timer");
    std::vector<double> firedAt;
    bool cancelHandlerRan = false;
    DispatchTimer timer(queue, [&] { firedAt.push_back(DispatchTime::now()); });
    timer.setCancelHandler([&] { cancelHandlerRan = true; });
    timer.start(10, 0);
    time.advance(5);
    timer.start(20, 0); // the first deadline no longer counts
    time.advance(100);
    EXPECT_EQ(firedAt, (std::vector<double> {25}));

    timer.start(10, 5); // at 105
    time.advance(9);
    EXPECT_EQ(firedAt.size(), 1u);
    time.advance(11); // now 125: fired at 115, 120, 125
    EXPECT_EQ(firedAt, (std::vector<double> {25, 115, 120, 125}));
    timer.cancel();
    time.advance(100);
    EXPECT_EQ(firedAt.size(), 4u);
    EXPECT_TRUE(cancelHandlerRan);
}

TEST(Dispatch, ReadSourceRunsHandlerWhenDataArrivesAndStopsOnCancel)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    auto queue = DispatchQueue::createSerial("test.read");
    std::mutex mutex;
    QByteArray received;
    bool cancelled = false;
    auto source = std::make_unique<DispatchReadSource>(fds[0], queue, [&] {
        char buffer[64];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        std::lock_guard lock(mutex);
        if (n > 0)
            received.append(buffer, n);
    });
    source->setCancelHandler([&] { cancelled = true; });
    ASSERT_EQ(write(fds[1], "hello", 5), 5);
    const auto has = [&](const QByteArray& text) {
        for (int i = 0; i < 5000; ++i) {
            {
                std::lock_guard lock(mutex);
                if (received == text)
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    };
    EXPECT_TRUE(has("hello"));
    source->cancel();
    queue->sync([] {});
    EXPECT_TRUE(cancelled);
    ASSERT_EQ(write(fds[1], "more", 4), 4);
    source.reset();
    queue->sync([] {});
    EXPECT_EQ(received, "hello");
    close(fds[0]);
    close(fds[1]);
}

TEST(Dispatch, WaitUntilIdleRunsChainedWorkAcrossQueues)
{
    auto file = DispatchQueue::createSerial("test.file");
    auto db = DispatchQueue::createSerial("test.db");
    QStringList steps;
    file->async([&] {
        db->sync([] {});
        DispatchQueue::main()->async([&] {
            steps << "main";
            file->async([&] { DispatchQueue::main()->async([&] { steps << "main again"; }); });
        });
    });
    Dispatch::waitUntilIdle();
    EXPECT_EQ(steps, QStringList({"main", "main again"}));
}

TEST(Dispatch, ApplyRunsEveryIndexOnceInWholeSlices)
{
    const struct {
        size_t count;
        size_t sliceSize;
        int helpers;
    } cases[] = {{0, 4, 3}, {1, 4, 3}, {7, 4, 0}, {8, 4, 3}, {9, 4, 3}, {1000, 7, 3}, {1000, 1000, 3}, {5, 0, 2}, {50, 1, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.count << " by " << c.sliceSize << ", helpers " << c.helpers);
        std::vector<std::atomic<int>> runs(c.count);
        std::atomic<bool> oddSlice = false;
        dispatchApply(c.count, c.sliceSize, c.helpers, [&](size_t begin, size_t end) {
            const size_t size = std::max<size_t>(1, c.sliceSize);
            if (begin % size != 0 || end <= begin || (end - begin != size && end != c.count))
                oddSlice = true;
            for (size_t i = begin; i < end; ++i)
                runs[i].fetch_add(1);
        });
        EXPECT_FALSE(oddSlice);
        for (size_t i = 0; i < c.count; ++i)
            ASSERT_EQ(runs[i].load(), 1) << "index " << i;
    }
}

// The first slice waits for the second to start: with no helper running it, it never would.
TEST(Dispatch, ApplyRunsSlicesSideBySide)
{
    std::mutex mutex;
    std::condition_variable started;
    bool secondStarted = false;
    bool firstSawSecond = false;
    dispatchApply(2, 1, 1, [&](size_t begin, size_t) {
        std::unique_lock lock(mutex);
        if (begin == 1) {
            secondStarted = true;
            started.notify_all();
            return;
        }
        firstSawSecond = started.wait_for(lock, std::chrono::seconds(10), [&] { return secondStarted; });
    });
    EXPECT_TRUE(firstSawSecond);
}
