#include "VGLog.h"

#include "VGLogBound.h"
#include "VGLoggerNode.h"

#include <QHash>
#include <QStringList>

#include <atomic>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// Marks the queues of installed loggers.
const char loggerQueueKey = 0;

struct RegisteredClass {
    std::function<int32_t()> logLevel;
    std::function<void(int32_t)> setLogLevel;
};

struct Hub {
    DispatchQueuePtr loggingQueue = DispatchQueue::createSerial(QStringLiteral("vg.logging"));
    // Takes each run of messages to the loggers, which work on it side by
    // side, each on its own queue; this thread takes the first logger itself,
    // and any other whose thread has not started on the run by then, so a lone
    // logger costs no second wake-up and busy cores no wait for a woken
    // thread's turn. Its thread starts only when used. A lone caller's next message follows within microseconds: the
    // thread waits for it rather than sleep after each short batch.
    DispatchQueuePtr sharedRunner = [] {
        DispatchQueuePtr runner = DispatchQueue::createSerial(QStringLiteral("vg.logging.loggers"));
        runner->setLingersWhenIdle(true);
        return runner;
    }();
    // The three parts that callers and loggers touch at different times each
    // have cache lines of their own, so that a logger freeing places does not
    // take the routing lock's line away from the caller.
    alignas(64) VGLogBound outstanding {VGLog::MaximumOutstandingMessages};

    // Routing takes this lock, so every logger sees messages in one order;
    // it also guards the loggers' mailbox.
    alignas(64) std::mutex mutex;
    std::vector<VGLoggerNodePtr> nodes;
    // Every flag some installed logger takes: a message with none goes nowhere.
    int32_t routedFlags = 0;
    VGLogMailbox mailbox {sharedRunner, mutex};
    QHash<QString, RegisteredClass> registeredClasses;

    // Deliveries the loggers are done with, freed by a logging caller.
    alignas(64) std::mutex givenBackMutex;
    std::vector<VGLogDelivery*> givenBack;
    std::atomic<size_t> givenBackCount {0};
};

// Enough to take in one go that the lock is rare, few enough to hold little.
constexpr size_t GivenBackRun = 256;

// Deliveries are made on logging callers' threads and, given back, freed there.
// Each thread keeps the blocks it frees, up to a few runs, for its next
// messages: the block freed last is reused first, still in the cache, and none
// goes the allocator's way. The list is plain data, usable
// even while the thread's other objects are destroyed; a guard frees its blocks
// as the thread ends.
struct DeliveryBlocks {
    std::vector<void*>* kept = nullptr;
    size_t blockSize = 0;
    bool threadEnded = false;

    static constexpr size_t Kept = 4 * GivenBackRun;

    void* take(size_t size)
    {
        if (!kept || kept->empty() || size != blockSize)
            return ::operator new(size);
        void* block = kept->back();
        kept->pop_back();
        return block;
    }
    void keep(void* block, size_t size);
};

thread_local DeliveryBlocks deliveryBlocks;

struct DeliveryBlocksGuard {
    ~DeliveryBlocksGuard()
    {
        DeliveryBlocks& blocks = deliveryBlocks;
        blocks.threadEnded = true;
        if (!blocks.kept)
            return;
        for (void* block : *blocks.kept)
            ::operator delete(block);
        delete std::exchange(blocks.kept, nullptr);
    }
};

thread_local DeliveryBlocksGuard deliveryBlocksGuard;

void DeliveryBlocks::keep(void* block, size_t size)
{
    if (!kept && !threadEnded) {
        (void)&deliveryBlocksGuard; // made, and its end registered, on first use
        kept = new std::vector<void*>;
        kept->reserve(Kept);
        blockSize = size;
    }
    if (!kept || size != blockSize || kept->size() >= Kept) {
        ::operator delete(block);
        return;
    }
    kept->push_back(block);
}

template <typename T>
struct DeliveryAllocator {
    using value_type = T;
    DeliveryAllocator() = default;
    template <typename U>
    DeliveryAllocator(const DeliveryAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(deliveryBlocks.take(n * sizeof(T))); }
    void deallocate(T* block, size_t n) { deliveryBlocks.keep(block, n * sizeof(T)); }
    template <typename U>
    bool operator==(const DeliveryAllocator<U>&) const { return true; }
};

Hub& hub()
{
    // Never destroyed: loggers may still run while the process exits.
    static Hub* const instance = [] {
        auto* created = new Hub;
        // The exit flush uses the dispatch statics: made first, they are destroyed after it runs.
        DispatchQueue::main();
        DispatchQueue::currentSpecific(&loggerQueueKey);
        std::atexit([] { VGLog::applicationWillTerminate(); });
        return created;
    }();
    return *instance;
}

VGLoggerNodePtr nodeFor(Hub& h, const VGLogger* logger)
{
    for (const auto& node : h.nodes) {
        if (node->logger.get() == logger)
            return node;
    }
    return nullptr;
}

void updateRoutedFlags(Hub& h)
{
    h.routedFlags = 0;
    for (const auto& node : h.nodes)
        h.routedFlags |= node->logLevel;
}

// The logger still gets what was queued before; then it is told and left out.
void retire(Hub& h, const VGLoggerNodePtr& node)
{
    h.mailbox.postBlock(node, [logger = node->logger] { logger->willRemoveLogger(); });
    h.mailbox.uninstall(node);
}

// Waits for a flush block on every installed node, and for removed loggers
// to finish what was queued for them.
void flush(double timeoutSeconds)
{
    Hub& h = hub();
    auto group = DispatchGroup::create();
    {
        std::lock_guard lock(h.mutex);
        for (const auto& node : h.nodes) {
            group->enter();
            h.mailbox.postBlock(node, [group, logger = node->logger] {
                logger->flush();
                group->leave();
            });
        }
        group->enter();
        h.mailbox.postBlock(nullptr, [group] { group->leave(); });
    }
    // On a logger's queue the wait could be for this very queue: the flush is only queued.
    if (!VGLog::isOnLoggerQueue())
        group->wait(timeoutSeconds);
}

} // namespace

bool VGLogDelivery::finish()
{
    const bool freesPlace = holdsSlot;
    if (waitedFor) {
        done.store(true, std::memory_order_release);
        done.notify_all();
    }
    return freesPlace;
}

void VGLogDelivery::freePlaces(int count)
{
    hub().outstanding.give(count);
}

void VGLogDelivery::giveBack(std::vector<VGLogDelivery*>& deliveries)
{
    if (deliveries.empty())
        return;
    Hub& h = hub();
    std::lock_guard lock(h.givenBackMutex);
    if (h.givenBack.empty()) {
        h.givenBack.swap(deliveries);
    } else {
        std::move(deliveries.begin(), deliveries.end(), std::back_inserter(h.givenBack));
        deliveries.clear();
    }
    h.givenBackCount.store(h.givenBack.size(), std::memory_order_relaxed);
}

namespace {

// A run of given-back deliveries that a logging thread frees a few at a time,
// one or two per message it logs: each text is freed just before the next
// one is allocated, so both stay in the allocator's per-thread cache (freed
// all at once, a run overflowed it and every allocation took the slow way),
// and the block just freed is the one the next delivery reuses.
struct ReleaseRun {
    std::vector<VGLogDelivery*> deliveries;
    size_t next = 0;

    bool empty() const { return next == deliveries.size(); }
    void releaseNext()
    {
        // The loggers' thread read these last: the lines of the ones freed
        // next are asked for now, the text's only once the delivery's line
        // holding its pointer is here.
        if (next + 2 < deliveries.size())
            deliveries[next + 2]->prefetchBlock(true);
        if (next + 1 < deliveries.size())
            deliveries[next + 1]->prefetchText(true);
        // The delivery's own reference, moved out so that it is not reset from within.
        const std::shared_ptr<VGLogDelivery> last = std::move(deliveries[next++]->keptAlive);
    }
    // What a thread leaves unfreed goes with it.
    ~ReleaseRun()
    {
        while (!empty())
            releaseNext();
    }
};

thread_local ReleaseRun releaseRun;

} // namespace

void VGLogDelivery::releaseGivenBack()
{
    Hub& h = hub();
    // Two at a time while a full run waits behind this one, so no thread's
    // run falls further behind the messages it logs.
    const bool behind = h.givenBackCount.load(std::memory_order_relaxed) >= GivenBackRun;
    ReleaseRun& run = releaseRun;
    if (run.empty()) {
        if (!behind)
            return;
        run.deliveries.clear();
        run.next = 0;
        {
            std::lock_guard lock(h.givenBackMutex);
            run.deliveries.swap(h.givenBack);
            h.givenBackCount.store(0, std::memory_order_relaxed);
        }
        // Another thread may have taken the run since the count was read.
        if (run.empty())
            return;
    }
    run.releaseNext();
    if (behind && !run.empty())
        run.releaseNext();
}

namespace {

void prefetch(const void* address, bool forWriting)
{
    if (forWriting)
        __builtin_prefetch(address, 1);
    else
        __builtin_prefetch(address, 0);
}

} // namespace

void VGLogDelivery::prefetchBlock(bool forWriting) const
{
    // The shared pointer's counts lie just before the delivery.
    const char* const start = reinterpret_cast<const char*>(this) - 2 * sizeof(void*);
    for (const char* line = start; line < reinterpret_cast<const char*>(this + 1); line += 64)
        prefetch(line, forWriting);
}

void VGLogDelivery::prefetchText(bool forWriting) const
{
    // d_ptr() only reads, but Qt declares it non-const.
    if (const auto* text = const_cast<QString::DataPointer&>(message.logMsg().data_ptr()).d_ptr())
        prefetch(text, forWriting);
}

DispatchQueuePtr VGLog::loggingQueue() { return hub().loggingQueue; }

void VGLog::addLogger(VGLoggerPtr logger, int32_t level)
{
    if (!logger)
        return;
    DispatchQueuePtr queue = logger->loggerQueue();
    if (!queue)
        queue = DispatchQueue::createSerial(logger->loggerName());
    queue->setSpecific(&loggerQueueKey, std::make_shared<bool>(true));
    Hub& h = hub();
    auto node = std::make_shared<VGLoggerNode>(VGLoggerNode {logger, std::move(queue), level});
    std::lock_guard lock(h.mutex);
    h.nodes.push_back(node);
    updateRoutedFlags(h);
    h.mailbox.install(node);
    h.mailbox.postBlock(node, [logger] { logger->didAddLogger(); });
}

void VGLog::removeLogger(const VGLoggerPtr& logger)
{
    if (!logger)
        return;
    Hub& h = hub();
    std::lock_guard lock(h.mutex);
    const auto it = std::find_if(h.nodes.begin(), h.nodes.end(),
                                 [&](const auto& node) { return node->logger == logger; });
    if (it == h.nodes.end())
        return;
    auto node = *it;
    h.nodes.erase(it);
    updateRoutedFlags(h);
    retire(h, node);
}

void VGLog::removeAllLoggers()
{
    Hub& h = hub();
    std::lock_guard lock(h.mutex);
    auto nodes = std::move(h.nodes);
    h.nodes.clear();
    updateRoutedFlags(h);
    for (const auto& node : nodes)
        retire(h, node);
}

QList<VGLoggerPtr> VGLog::allLoggers()
{
    Hub& h = hub();
    std::lock_guard lock(h.mutex);
    QList<VGLoggerPtr> loggers;
    loggers.reserve(qsizetype(h.nodes.size()));
    for (const auto& node : h.nodes)
        loggers << node->logger;
    return loggers;
}

void VGLog::queueLogMessage(VGLogMessage message, bool asynchronous)
{
    Hub& h = hub();
    // A logger's queue never waits: the outstanding it would wait for may be freed only by itself.
    const bool mayWait = !isOnLoggerQueue();
    bool holdsSlot = true;
    if (mayWait) {
        if (!h.outstanding.tryTake()) {
            // The places are freed by the loggers' thread: it must not nap meanwhile.
            h.sharedRunner->endLinger();
            h.outstanding.take();
        }
    } else
        holdsSlot = h.outstanding.tryTake();
    const bool waits = !asynchronous && mayWait;
    auto delivery = std::allocate_shared<VGLogDelivery>(DeliveryAllocator<VGLogDelivery>(), std::move(message), holdsSlot,
                                                        waits);
    const int32_t flag = delivery->message.logFlag();
    // Kept for the wait; an asynchronous caller hands its delivery over.
    std::shared_ptr<VGLogDelivery> waitedFor;
    if (waits)
        waitedFor = delivery;
    bool routed = false;
    {
        const auto lock = VGLogMailbox::lockBriefly(h.mutex);
        routed = (h.routedFlags & flag) != 0;
        if (routed)
            h.mailbox.postMessage(std::move(delivery));
    }
    if (!routed)
        delivery->finishOne();
    if (waitedFor) {
        h.sharedRunner->endLinger();
        waitedFor->waitUntilDone();
    }
    VGLogDelivery::releaseGivenBack();
}

void VGLog::flushLog() { flush(-1); }

void VGLog::applicationWillTerminate() { flush(2.0); }

void VGLog::registerClass(const QString& name, std::function<int32_t()> logLevel,
                          std::function<void(int32_t)> setLogLevel)
{
    if (!logLevel || !setLogLevel)
        return;
    Hub& h = hub();
    std::lock_guard lock(h.mutex);
    h.registeredClasses.insert(name, {std::move(logLevel), std::move(setLogLevel)});
}

bool VGLog::isRegisteredClass(const QString& name)
{
    Hub& h = hub();
    std::lock_guard lock(h.mutex);
    return h.registeredClasses.contains(name);
}

QStringList VGLog::registeredClassNames()
{
    Hub& h = hub();
    std::lock_guard lock(h.mutex);
    QStringList names = h.registeredClasses.keys();
    names.sort();
    return names;
}

int32_t VGLog::logLevelForClassWithName(const QString& name)
{
    Hub& h = hub();
    std::function<int32_t()> logLevel;
    {
        std::lock_guard lock(h.mutex);
        logLevel = h.registeredClasses.value(name).logLevel;
    }
    return logLevel ? logLevel() : -1;
}

void VGLog::setLogLevelForClassWithName(int32_t level, const QString& name)
{
    Hub& h = hub();
    std::function<void(int32_t)> setLogLevel;
    {
        std::lock_guard lock(h.mutex);
        setLogLevel = h.registeredClasses.value(name).setLogLevel;
    }
    if (setLogLevel)
        setLogLevel(level);
}

void VGLog::performOnLoggerQueue(VGLogger& logger, DispatchBlock block)
{
    Hub& h = hub();
    {
        std::lock_guard lock(h.mutex);
        if (const auto node = nodeFor(h, &logger)) {
            h.mailbox.postBlock(node, std::move(block));
            return;
        }
    }
    if (const DispatchQueuePtr queue = logger.loggerQueue())
        queue->async(std::move(block));
    else
        block();
}

void VGLog::performOnLoggerQueueAndWait(VGLogger& logger, const DispatchBlock& block)
{
    DispatchQueuePtr queue;
    {
        Hub& h = hub();
        std::lock_guard lock(h.mutex);
        const auto node = nodeFor(h, &logger);
        queue = node ? node->loggerQueue : logger.loggerQueue();
    }
    if (!queue || queue->isCurrent()) {
        block();
        return;
    }
    std::atomic<bool> done {false};
    performOnLoggerQueue(logger, [&] {
        block();
        done.store(true, std::memory_order_release);
        done.notify_all();
    });
    Dispatch::waitUntilSet(done);
}

bool VGLog::isOnLoggerQueue() { return DispatchQueue::currentSpecific(&loggerQueueKey) != nullptr; }
