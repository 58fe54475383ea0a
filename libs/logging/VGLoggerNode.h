#pragma once

#include "Dispatch.h"
#include "VGLogMessage.h"
#include "VGLogger.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// One message on its way to the loggers it was routed to. It is done when the
// last of them has handled it; that frees its place in the engine's bound.
struct VGLogDelivery {
    explicit VGLogDelivery(VGLogMessage message, bool holdsSlot)
        : message(std::move(message)), holdsSlot(holdsSlot) {}

    // Set by the router before it posts the delivery: one part per logger it
    // goes to. A delivery that goes nowhere still has the router's part, which
    // it ends with finishOne().
    void setParts(int parts) { remaining.store(parts > 0 ? parts : 1, std::memory_order_relaxed); }
    // Ends one logger's part; true when that freed the delivery's place in the
    // bound, which the caller hands back with freePlaces().
    bool finishPart();
    void finishOne() { freePlaces(finishPart() ? 1 : 0); }
    // A run hands back its places at once, so a caller waiting for one wakes
    // once per run rather than once per message.
    static void freePlaces(int count);
    void waitUntilDone() const { Dispatch::waitUntilSet(done); }
    // Loggers hand the deliveries of a finished run back here rather than
    // dropping them: freed on their own threads, they would be freed into
    // the caller's memory arena and contend for its lock with the caller's
    // next allocations. The caller frees them in runs instead.
    static void giveBack(std::vector<std::shared_ptr<VGLogDelivery>>& deliveries);
    // On the logging caller's thread: frees what the loggers gave back once
    // enough has gathered.
    static void releaseGivenBack();

    const VGLogMessage message;
    const bool holdsSlot;
    std::atomic<int> remaining {1};
    std::atomic<bool> done {false};
};

// One installed logger: the logger, the queue it is called on and its level.
// Messages and control blocks (add, remove, flush, setting changes) wait in the
// node's mailbox and run on the queue in the order posted, as many per queue
// turn as are waiting, so a busy logger drains in batches.
class VGLoggerNode : public std::enable_shared_from_this<VGLoggerNode> {
public:
    // The node's batches run on the runner's thread, each as a block of the
    // logger's queue: loggers sharing one runner take turns on one thread
    // instead of each needing a core of its own.
    // The mailbox is guarded by the router's lock, which the caller already
    // holds when it posts: a message then takes one lock, not one per logger.
    static std::shared_ptr<VGLoggerNode> create(VGLoggerPtr logger, DispatchQueuePtr loggerQueue, int32_t logLevel,
                                                DispatchQueuePtr runner, std::mutex& routingMutex);

    // Takes a lock that is held only for a push or a swap, spinning a little
    // before it sleeps.
    static std::unique_lock<std::mutex> lockBriefly(std::mutex& mutex);

    const VGLoggerPtr& logger() const { return logger_; }
    const DispatchQueuePtr& loggerQueue() const { return loggerQueue_; }
    int32_t logLevel() const { return logLevel_; }

    // Both with the routing lock held.
    void postMessage(const std::shared_ptr<VGLogDelivery>& delivery);
    void postBlock(DispatchBlock block);

private:
    struct Item {
        std::shared_ptr<VGLogDelivery> delivery;
        DispatchBlock block;
    };

    VGLoggerNode(VGLoggerPtr logger, DispatchQueuePtr loggerQueue, int32_t logLevel, DispatchQueuePtr runner,
                 std::mutex& routingMutex);
    void post(Item item);
    void scheduleDrain();
    void drain();

    const VGLoggerPtr logger_;
    const DispatchQueuePtr loggerQueue_;
    const int32_t logLevel_;
    const DispatchQueuePtr runner_;

    // What the caller reads, what both sides write and what only the drain
    // touches lie on cache lines of their own.
    std::mutex& routingMutex_; // guards the mailbox: pending_ to scheduledSelf_
    alignas(64) std::vector<Item> pending_;
    bool drainScheduled_ = false;
    // The node while a drain is scheduled, so that a removed logger outlives
    // what was queued for it; the drain block itself carries only a pointer,
    // which needs no allocation per scheduling.
    std::shared_ptr<VGLoggerNode> scheduledSelf_;
    alignas(64) std::vector<Item> draining_; // touched only by the one drain running on the queue
    std::vector<std::shared_ptr<VGLogDelivery>> handled_; // likewise
};
