#pragma once

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

// Serial queues, the main queue, delayed blocks, groups, timer and read sources.
// Blocks of one queue run one at a time in the order they were added. The main
// queue runs on the main thread: drained by the Qt event loop while a
// QCoreApplication runs, otherwise by DispatchQueue::runMainUntil().
// One-time initialisation is std::call_once or a function-local static.

using DispatchBlock = std::function<void()>;

class DispatchQueue;
using DispatchQueuePtr = std::shared_ptr<DispatchQueue>;
class DispatchRetractable;

// Cancels a delayed block or a timer firing that has not started yet.
class DispatchHandle {
public:
    DispatchHandle() = default;
    void cancel();
    bool isCancelled() const;
    bool isValid() const { return bool(flag_); }

private:
    friend class DispatchScheduler;
    explicit DispatchHandle(std::shared_ptr<std::atomic<bool>> flag) : flag_(std::move(flag)) {}
    std::shared_ptr<std::atomic<bool>> flag_;
};

class DispatchQueue {
public:
    static DispatchQueuePtr createSerial(const QString& label);
    static DispatchQueuePtr main();
    // Runs blocks side by side on a pool of threads; sync runs on the caller.
    static DispatchQueuePtr global();

    // The label of the queue running the current thread's block; the main
    // queue's label on the main thread; empty elsewhere.
    static QString currentLabel();
    static const QString& mainLabel();

    ~DispatchQueue();
    DispatchQueue(const DispatchQueue&) = delete;
    DispatchQueue& operator=(const DispatchQueue&) = delete;

    const QString& label() const;
    void async(DispatchBlock block);
    // Runs the block on this queue and waits for it. Called from a block of
    // this very queue it would never return: the process stops, naming the label.
    void sync(const DispatchBlock& block);
    // Like sync, but when the queue is idle the block runs on the calling
    // thread, as a block of this queue (blocks added meanwhile wait for it),
    // which spares two thread switches when the caller would only wait.
    void runOnCaller(const DispatchBlock& block);
    // Queues the block; until the queue starts it, its caller may run it
    // itself through the handle (see DispatchRetractable).
    DispatchRetractable asyncRetractable(DispatchBlock block);
    // Runs the block on this queue after the delay, measured on the dispatch clock.
    DispatchHandle after(double seconds, DispatchBlock block);
    bool isCurrent() const;
    // For a queue fed a steady stream of short blocks: once idle, its worker
    // spins a few microseconds for the next block while a core is free, then
    // naps for some tens of microseconds before it sleeps; blocks queued
    // meanwhile need no wake-up and run after the nap. Off by default.
    void setLingersWhenIdle(bool lingers);
    // Ends a lingering worker's nap at once, for a block its caller waits for.
    void endLinger();

    // Values keyed by address that blocks of this queue can read back.
    void setSpecific(const void* key, std::shared_ptr<void> value);
    static std::shared_ptr<void> currentSpecific(const void* key);

    // Runs the main queue's blocks on the main thread until done() answers
    // true or the timeout (seconds, real time) passes; true when done.
    static bool runMainUntil(const std::function<bool()>& done, double timeoutSeconds);
    // Runs the blocks the main queue holds now; call on the main thread.
    static int drainMain();

    struct State;

private:
    explicit DispatchQueue(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};

// A block queued by asyncRetractable(). A caller that would otherwise wait
// for a queue whose thread has not started the block yet runs it at once.
class DispatchRetractable {
public:
    // Runs the block on the calling thread, as a block of its queue, when the
    // queue has neither started it nor holds anything before it; true when it
    // ran here, false when the queue runs (or ran) it.
    bool runHereIfWaiting();

    struct Shared;

private:
    friend class DispatchQueue;
    DispatchRetractable(std::shared_ptr<DispatchQueue::State> queue, std::shared_ptr<Shared> shared)
        : queue_(std::move(queue)), shared_(std::move(shared)) {}
    std::shared_ptr<DispatchQueue::State> queue_;
    std::shared_ptr<Shared> shared_;
};

// Counts outstanding work; notify blocks run once the count drops to zero.
class DispatchGroup : public std::enable_shared_from_this<DispatchGroup> {
public:
    static std::shared_ptr<DispatchGroup> create();

    void enter();
    void leave();
    void async(const DispatchQueuePtr& queue, DispatchBlock block);
    void notify(const DispatchQueuePtr& queue, DispatchBlock block);
    // Waits up to timeoutSeconds (negative: for ever); true when the group emptied.
    bool wait(double timeoutSeconds = -1);

    struct State;

private:
    DispatchGroup();
    std::shared_ptr<State> state_;
};

// A timer source: fires its handler on a queue at start and then every interval.
// A firing that comes while the previous one has not run yet is merged into it.
class DispatchTimer {
public:
    DispatchTimer(DispatchQueuePtr queue, DispatchBlock handler);
    ~DispatchTimer();
    DispatchTimer(const DispatchTimer&) = delete;
    DispatchTimer& operator=(const DispatchTimer&) = delete;

    // interval 0 fires once. The leeway is accepted for shape; firings are exact.
    void start(double startAfter, double interval, double leeway = 0);
    void setCancelHandler(DispatchBlock handler);
    void cancel();
    bool isCancelled() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// A read source: runs its handler on a queue whenever the descriptor is readable
// (the next check waits until the handler has run). The descriptor stays the caller's.
class DispatchReadSource {
public:
    DispatchReadSource(int fd, DispatchQueuePtr queue, DispatchBlock handler);
    ~DispatchReadSource();
    DispatchReadSource(const DispatchReadSource&) = delete;
    DispatchReadSource& operator=(const DispatchReadSource&) = delete;

    void setCancelHandler(DispatchBlock handler);
    void cancel();
    bool isCancelled() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

// The clock under delayed blocks and timer sources. In virtual mode time moves
// only through advance(), which fires every due block in time order.
namespace DispatchTime {
double now();
void setVirtual(bool on);
bool isVirtual();
// Moves virtual time forward, running each due firing and waiting for all
// queues to go idle after it.
void advance(double seconds);
} // namespace DispatchTime

namespace Dispatch {
// The cores this process may run on (taskset, cgroups' cpusets).
int allowedCores();
// Waits for the flag to be set by another thread: spinning a little first
// while a core is free, so a short wait needs no wake-up.
void waitUntilSet(const std::atomic<bool>& flag);
// Runs the main queue (on the main thread) and waits until every queue is idle.
// Pending delayed blocks that are not yet due do not count.
void waitUntilIdle();
} // namespace Dispatch
