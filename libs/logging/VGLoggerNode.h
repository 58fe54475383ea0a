#pragma once

#include "Dispatch.h"
#include "VGLogRun.h"
#include "VGLogMessage.h"
#include "VGLogger.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// What waits in the loggers' mailbox: a message or a control item.
struct VGLogMailboxEntry {
    explicit VGLogMailboxEntry(bool isControl) : isControl(isControl) {}
    const bool isControl;
};

// One message on its way to the loggers. It is done once every logger it was
// routed to has handled it; that frees its place in the engine's bound.
struct VGLogDelivery : VGLogMailboxEntry {
    VGLogDelivery(VGLogMessage&& message, bool holdsSlot, bool waitedFor)
        : VGLogMailboxEntry(false), message(std::move(message)), holdsSlot(holdsSlot), waitedFor(waitedFor) {}

    // Marks the delivery done; true when that freed its place in the bound,
    // which the caller hands back with freePlaces(). Only a delivery that is
    // waited for is written: the loggers' thread leaves the others' cache
    // lines unmodified for the caller that reuses them.
    bool finish();
    void finishOne() { freePlaces(finish() ? 1 : 0); }
    // A run hands back its places at once, so a caller waiting for one wakes
    // once per run rather than once per message.
    static void freePlaces(int count);
    void waitUntilDone() const { Dispatch::waitUntilSet(done); }
    // The loggers' thread hands the deliveries of a finished run back here
    // rather than dropping them: freed on its own thread, they would be freed
    // into the caller's memory arena and contend for its lock with the
    // caller's next allocations. Logging callers free them instead, taking
    // them in runs.
    static void giveBack(std::vector<VGLogDelivery*>& deliveries);
    // On the logging caller's thread: once a run has gathered, frees one or
    // two of what the loggers gave back per message logged.
    static void releaseGivenBack();
    // Ask for the delivery's cache lines and its text's: to be written when
    // the caller frees it (and reuses its block), or read by the loggers.
    void prefetchBlock(bool forWriting) const;
    void prefetchText(bool forWriting) const;

    const VGLogMessage message;
    const bool holdsSlot;
    const bool waitedFor;
    std::atomic<bool> done {false};
    // The mailbox's reference, kept here so that passing the delivery on
    // copies a plain pointer and touches no count; dropped when the caller
    // frees what was given back.
    std::shared_ptr<VGLogDelivery> keptAlive;
};

// One installed logger: the logger, the queue it is called on and its level.
struct VGLoggerNode {
    VGLoggerPtr logger;
    DispatchQueuePtr loggerQueue;
    int32_t logLevel = 0;
};
using VGLoggerNodePtr = std::shared_ptr<VGLoggerNode>;

// The one mailbox of all loggers. Messages, control blocks (add, remove,
// flush, setting changes) and the changes to the set of loggers wait here in
// the order posted; the runner's thread takes all that waits in one go and
// hands each run of messages to the loggers (see VGLogRun), one message
// after the other, each logger on its own queue. So a message is posted once
// however many loggers it goes to, no logger starts a message before all are
// done with the one before, and a logger sees exactly the messages queued
// while it was installed.
// Posting is guarded by the router's lock, which the caller already holds.
class VGLogMailbox {
public:
    VGLogMailbox(DispatchQueuePtr runner, std::mutex& routingMutex);

    // Takes a lock that is held only for a push or a swap, spinning a little
    // before it sleeps.
    static std::unique_lock<std::mutex> lockBriefly(std::mutex& mutex);

    // All with the routing lock held.
    void postMessage(std::shared_ptr<VGLogDelivery> delivery);
    // Runs the block on the node's queue; with no node, on the runner.
    void postBlock(VGLoggerNodePtr node, DispatchBlock block);
    void install(VGLoggerNodePtr node);
    void uninstall(VGLoggerNodePtr node);

private:
    enum class Kind { Block, Install, Uninstall };
    struct Control : VGLogMailboxEntry {
        Control(Kind kind, VGLoggerNodePtr node, DispatchBlock block)
            : VGLogMailboxEntry(true), kind(kind), node(std::move(node)), block(std::move(block)) {}
        Kind kind;
        VGLoggerNodePtr node;
        DispatchBlock block;
    };

    // Plain pointers: a message adds eight bytes to the caller's side of the
    // mailbox, and the drain only reads them, so their lines come back to the
    // caller unmodified.
    void post(VGLogMailboxEntry* entry);
    void postControl(Kind kind, VGLoggerNodePtr node, DispatchBlock block = {});
    void scheduleDrain();
    void drain();
    // The messages gathered since the last control item, to every logger that takes some of them.
    void deliverRun();
    VGLogDelivery& delivery(size_t index) const { return *static_cast<VGLogDelivery*>(draining_[index]); }

    const DispatchQueuePtr runner_;
    std::mutex& routingMutex_; // guards pending_ and drainScheduled_

    // What callers write and what only the drain touches lie on cache lines of their own.
    alignas(64) std::vector<VGLogMailboxEntry*> pending_;
    bool drainScheduled_ = false;
    alignas(64) std::vector<VGLogMailboxEntry*> draining_; // touched only by the one drain running on the runner
    std::vector<VGLoggerNodePtr> installed_; // likewise: the loggers as of the item being drained
    std::vector<VGLogDelivery*> handled_; // likewise
    int32_t runFlags_ = 0; // likewise: the flags of the run being gathered
    std::vector<const VGLoggerNode*> selected_; // likewise: the loggers that take some of the run
    VGLogRun run_; // likewise
};
