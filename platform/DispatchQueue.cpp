// Serial queues, the main queue and the global pool: their workers, the
// spinning and lingering that spare wake-ups, runOnCaller, queue-specific
// values, delayed blocks handed to the scheduler, and the waits on all queues
// (Dispatch::waitUntilSet, Dispatch::waitUntilIdle).
#include "Dispatch.h"
#include "DispatchScheduler.h"

#include <QCoreApplication>
#include <QHash>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

int Dispatch::allowedCores()
{
    static const int cores = [] {
        cpu_set_t set;
        CPU_ZERO(&set);
        if (::sched_getaffinity(0, sizeof set, &set) != 0)
            return int(std::max(1u, std::thread::hardware_concurrency()));
        return std::max(1, CPU_COUNT(&set));
    }();
    return cores;
}

namespace {

void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// Spinning before sleeping keeps a sync round trip off the futex path, but
// only while every thread that spins or works has a core of its own: past
// that the spinners take the time of the very threads they wait for. Each
// waiter's budget halves after a run of spins that ended without the work
// and doubles when the work arrives within one.
constexpr int MaxSpin = 4000;
constexpr int MinSpin = 32;
constexpr int YieldsWhenOversubscribed = 8;
constexpr int MissesBeforeBackOff = 4;

// A lingering worker spins for the next block while a core is free, then
// naps. On two cores shared with busy processes naps of about 65 us (with the
// wake-up's own delay) let a lone logging caller go fastest: 25 us cost about
// as many wake-ups as no nap, and from 120 us on the batches waited too long.
constexpr int MaxLingerRounds = 512;
constexpr int MinLingerRounds = 16;
constexpr std::chrono::microseconds LingerNap {50};

// Threads of the dispatch layer that run blocks or spin.
std::atomic<int> activeThreads {0};

struct SpinBudget {
    std::atomic<int> limit {MaxSpin};
    std::atomic<int> misses {0};
};

// Spins until ready() or the budget is spent; true when ready. The waiter
// counts itself among the active threads while it spins.
template <typename Ready>
bool spinUntil(SpinBudget& budget, Ready ready)
{
    if (activeThreads.load(std::memory_order_relaxed) + 1 > Dispatch::allowedCores()) {
        // No core to spare: hand this one to a runnable thread a few times,
        // the one being waited for perhaps, rather than sleep at once.
        for (int i = 0; i < YieldsWhenOversubscribed; ++i) {
            if (ready())
                return true;
            std::this_thread::yield();
        }
        return ready();
    }
    activeThreads.fetch_add(1, std::memory_order_relaxed);
    const struct Uncount {
        ~Uncount() { activeThreads.fetch_sub(1, std::memory_order_relaxed); }
    } uncount;
    const int limit = budget.limit.load(std::memory_order_relaxed);
    for (int i = 0; i < limit; ++i) {
        if (ready()) {
            budget.limit.store(std::min(MaxSpin, limit * 2), std::memory_order_relaxed);
            budget.misses.store(0, std::memory_order_relaxed);
            return true;
        }
        if ((i & 3) == 3)
            std::this_thread::yield();
        else
            cpuRelax();
    }
    if (budget.misses.fetch_add(1, std::memory_order_relaxed) + 1 >= MissesBeforeBackOff) {
        budget.limit.store(std::max(MinSpin, limit / 2), std::memory_order_relaxed);
        budget.misses.store(0, std::memory_order_relaxed);
    }
    return ready();
}

// The thread that runs static initialisation is the process's main thread.
const std::thread::id mainThreadId = std::this_thread::get_id();

bool isMainThread() { return std::this_thread::get_id() == mainThreadId; }

} // namespace

struct DispatchQueue::State {
    enum class Kind { Serial, Main, Global };

    QString label;
    Kind kind = Kind::Serial;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<DispatchBlock> blocks;
    bool sleeping = false;
    bool stopping = false;
    bool heldByCaller = false; // a runOnCaller block runs on its caller's thread
    std::atomic<bool> lingers {false};
    std::atomic<bool> napping {false};
    bool napEnded = false;
    int lingerRounds = MaxLingerRounds; // the worker's own, as napTimed
    bool napTimed = false;
    std::thread worker;
    std::atomic<int> outstanding {0}; // queued or running
    SpinBudget callerSpin;
    std::atomic<bool> drainPosted {false};
    QHash<const void*, std::shared_ptr<void>> specifics;

    bool hasRunnable() const { return !blocks.empty() && !heldByCaller; }
    // An idle serial queue is taken by a caller running one block on its own thread.
    bool holdForCaller();
    void releaseFromCaller();
    void runWorker(const std::shared_ptr<State>& self);
    void lingerSpin();
    void enqueue(DispatchBlock block, const std::shared_ptr<State>& self);
    int drainOnce();
};

namespace {

thread_local DispatchQueue::State* currentState = nullptr;

struct CurrentScope {
    DispatchQueue::State* saved;
    explicit CurrentScope(DispatchQueue::State* state) : saved(currentState) { currentState = state; }
    ~CurrentScope() { currentState = saved; }
};

// Every live queue, for Dispatch::waitUntilIdle(). Never destroyed: queues are made
// and waited for while the process exits, too.
struct Registry {
    std::mutex mutex;
    std::vector<std::weak_ptr<DispatchQueue::State>> states;
};

Registry& registry()
{
    static Registry* const instance = new Registry;
    return *instance;
}

void registerState(const std::shared_ptr<DispatchQueue::State>& state)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase_if(r.states, [](const auto& weak) { return weak.expired(); });
    r.states.push_back(state);
}

std::shared_ptr<DispatchQueue::State> makeState(const QString& label, DispatchQueue::State::Kind kind)
{
    auto state = std::make_shared<DispatchQueue::State>();
    state->label = label;
    state->kind = kind;
    registerState(state);
    return state;
}

// Global (concurrent) work runs on a small pool of plain threads.
class GlobalPool {
public:
    explicit GlobalPool(std::shared_ptr<DispatchQueue::State> state) : state_(std::move(state))
    {
        const unsigned count = std::max(4u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < count; ++i)
            std::thread([this] { run(); }).detach();
    }

    void enqueue(DispatchBlock block)
    {
        state_->outstanding.fetch_add(1);
        {
            std::lock_guard lock(state_->mutex);
            state_->blocks.push_back(std::move(block));
        }
        state_->wake.notify_one();
    }

private:
    void run()
    {
        CurrentScope scope(state_.get());
        for (;;) {
            DispatchBlock block;
            {
                std::unique_lock lock(state_->mutex);
                state_->wake.wait(lock, [&] { return !state_->blocks.empty(); });
                block = std::move(state_->blocks.front());
                state_->blocks.pop_front();
            }
            block();
            state_->outstanding.fetch_sub(1);
        }
    }

    std::shared_ptr<DispatchQueue::State> state_;
};

GlobalPool& globalPool();

// The main queue is drained by queued calls to the application. A request from another
// thread can meet the application's destruction: a post routine, run while the
// application is still whole, shuts it out under the lock that requests take.
struct DrainTarget {
    std::mutex mutex;
    QCoreApplication* open = nullptr; // its post routine is registered
    QCoreApplication* closed = nullptr; // being destroyed
};

DrainTarget& drainTarget()
{
    static DrainTarget* const target = new DrainTarget; // used while the process exits
    return *target;
}

bool postDrain()
{
    DrainTarget& target = drainTarget();
    std::lock_guard lock(target.mutex);
    QCoreApplication* app = QCoreApplication::instance();
    // Only the main thread makes an application, perhaps where a destroyed one was.
    if (!app || (app == target.closed && !isMainThread()))
        return false;
    if (app != target.open) {
        target.open = app;
        target.closed = nullptr;
        qAddPostRoutine([] {
            DrainTarget& t = drainTarget();
            std::lock_guard lock(t.mutex);
            t.closed = std::exchange(t.open, nullptr);
        });
    }
    QMetaObject::invokeMethod(app, [] { DispatchQueue::drainMain(); }, Qt::QueuedConnection);
    return true;
}

} // namespace

void DispatchQueue::State::lingerSpin()
{
    // A spin that the next block ends is cheaper than a nap; one that runs out
    // (the caller lost its core, or stopped) was wasted, so it shortens.
    for (int i = 0; i < lingerRounds; ++i) {
        if (outstanding.load(std::memory_order_relaxed) != 0) {
            lingerRounds = std::min(MaxLingerRounds, lingerRounds * 2);
            return;
        }
        cpuRelax();
    }
    lingerRounds = std::max(MinLingerRounds, lingerRounds / 2);
}

void DispatchQueue::State::runWorker(const std::shared_ptr<State>& self)
{
    CurrentScope scope(self.get());
    std::deque<DispatchBlock> batch;
    activeThreads.fetch_add(1, std::memory_order_relaxed);
    for (;;) {
        // Only while a core is free: otherwise the wait takes the time of the
        // thread that would add the next block.
        const bool lingering = lingers.load(std::memory_order_relaxed);
        if (lingering && activeThreads.load(std::memory_order_relaxed) <= Dispatch::allowedCores())
            lingerSpin();
        {
            std::unique_lock lock(mutex);
            if (lingering && !hasRunnable() && !stopping) {
                // Unannounced, so the blocks that come meanwhile cost their
                // callers no wake-up; one that is waited for ends the nap.
                if (!napTimed) {
                    // The kernel may otherwise end a nap up to 50 us late.
                    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
                    napTimed = true;
                }
                napping.store(true, std::memory_order_relaxed);
                wake.wait_for(lock, LingerNap, [&] { return napEnded || stopping; });
                napping.store(false, std::memory_order_relaxed);
                napEnded = false;
            }
            if (!hasRunnable()) {
                // An idle worker sleeps at once: spinning here, with nothing
                // to wait for, only takes the core from the threads that work.
                sleeping = true;
                activeThreads.fetch_sub(1, std::memory_order_relaxed);
                wake.wait(lock, [&] { return hasRunnable() || stopping; });
                activeThreads.fetch_add(1, std::memory_order_relaxed);
                sleeping = false;
                if (!hasRunnable()) {
                    activeThreads.fetch_sub(1, std::memory_order_relaxed);
                    return;
                }
            }
            batch.swap(blocks);
        }
        while (!batch.empty()) {
            DispatchBlock block = std::move(batch.front());
            batch.pop_front();
            block();
            block = nullptr; // captured state is released before the block counts as done
            outstanding.fetch_sub(1, std::memory_order_acq_rel);
        }
    }
}

void DispatchQueue::State::enqueue(DispatchBlock block, const std::shared_ptr<State>& self)
{
    outstanding.fetch_add(1, std::memory_order_acq_rel);
    bool notify = false;
    {
        std::lock_guard lock(mutex);
        blocks.push_back(std::move(block));
        if (kind == Kind::Serial && !worker.joinable())
            worker = std::thread([self] { self->runWorker(self); });
        notify = sleeping;
    }
    if (notify)
        wake.notify_one();
    if (kind == Kind::Main)
        wake.notify_all(); // runMainUntil() waits on it
    if (kind == Kind::Main && !drainPosted.exchange(true) && !postDrain())
        drainPosted = false;
}

int DispatchQueue::State::drainOnce()
{
    drainPosted = false;
    CurrentScope scope(this);
    int ran = 0;
    for (;;) {
        DispatchBlock block;
        {
            std::lock_guard lock(mutex);
            if (blocks.empty())
                return ran;
            block = std::move(blocks.front());
            blocks.pop_front();
        }
        block();
        block = nullptr;
        outstanding.fetch_sub(1, std::memory_order_acq_rel);
        ++ran;
    }
}

namespace {

// The process-wide queues are never destroyed: exit handlers may still use them.
std::shared_ptr<DispatchQueue::State> mainState()
{
    static const auto* state = new std::shared_ptr(makeState(DispatchQueue::mainLabel(), DispatchQueue::State::Kind::Main));
    return *state;
}

std::shared_ptr<DispatchQueue::State> globalState()
{
    static const auto* state = new std::shared_ptr(makeState(QStringLiteral("global"), DispatchQueue::State::Kind::Global));
    return *state;
}

GlobalPool& globalPool()
{
    static GlobalPool* pool = new GlobalPool(globalState()); // its threads live as long as the process
    return *pool;
}

} // namespace

DispatchQueue::DispatchQueue(std::shared_ptr<State> state) : state_(std::move(state)) {}

DispatchQueue::~DispatchQueue()
{
    if (state_->kind != State::Kind::Serial)
        return;
    std::thread worker;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        worker = std::move(state_->worker);
    }
    state_->wake.notify_all();
    if (!worker.joinable())
        return;
    // The last reference can drop inside one of the queue's own blocks: the worker
    // then finishes what is queued on its own, holding the state alive.
    if (worker.get_id() == std::this_thread::get_id())
        worker.detach();
    else
        worker.join();
}

DispatchQueuePtr DispatchQueue::createSerial(const QString& label)
{
    return DispatchQueuePtr(new DispatchQueue(makeState(label, State::Kind::Serial)));
}

DispatchQueuePtr DispatchQueue::main()
{
    static const auto* queue = new DispatchQueuePtr(new DispatchQueue(mainState()));
    return *queue;
}

DispatchQueuePtr DispatchQueue::global()
{
    static const auto* queue = new DispatchQueuePtr(new DispatchQueue(globalState()));
    return *queue;
}

const QString& DispatchQueue::mainLabel()
{
    static const QString* label = new QString(QStringLiteral("main-thread"));
    return *label;
}

QString DispatchQueue::currentLabel()
{
    if (currentState)
        return currentState->label;
    return isMainThread() ? mainLabel() : QString();
}

const QString& DispatchQueue::label() const { return state_->label; }

void DispatchQueue::async(DispatchBlock block)
{
    if (state_->kind == State::Kind::Global)
        globalPool().enqueue(std::move(block));
    else
        state_->enqueue(std::move(block), state_);
}

bool DispatchQueue::isCurrent() const
{
    if (state_->kind == State::Kind::Main)
        return isMainThread();
    return currentState == state_.get();
}

void DispatchQueue::sync(const DispatchBlock& block)
{
    if (state_->kind == State::Kind::Global) {
        block();
        return;
    }
    if (isCurrent()) {
        fprintf(stderr, "dispatch: sync onto queue \"%s\" from one of its own blocks would deadlock\n",
                qPrintable(state_->label));
        std::abort();
    }
    std::atomic<bool> done {false};
    state_->enqueue([&] {
        block();
        done.store(true, std::memory_order_release);
        done.notify_one();
    }, state_);
    if (state_->kind == State::Kind::Main) {
        // Another thread waits for the main thread: keep it waiting, nothing to run here.
        done.wait(false, std::memory_order_acquire);
        return;
    }
    spinUntil(state_->callerSpin, [&] { return done.load(std::memory_order_acquire); });
    done.wait(false, std::memory_order_acquire);
}

bool DispatchQueue::State::holdForCaller()
{
    std::lock_guard lock(mutex);
    if (kind != Kind::Serial || outstanding.load() != 0)
        return false;
    heldByCaller = true;
    outstanding.fetch_add(1, std::memory_order_acq_rel);
    return true;
}

void DispatchQueue::State::releaseFromCaller()
{
    bool notify = false;
    {
        std::lock_guard lock(mutex);
        heldByCaller = false;
        outstanding.fetch_sub(1, std::memory_order_acq_rel);
        notify = sleeping && !blocks.empty();
    }
    if (notify)
        wake.notify_one();
}

void DispatchQueue::runOnCaller(const DispatchBlock& block)
{
    // Blocks queued or running: this one waits its turn on the queue's thread.
    if (!state_->holdForCaller()) {
        sync(block);
        return;
    }
    {
        CurrentScope scope(state_.get());
        block();
    }
    state_->releaseFromCaller();
}

struct DispatchRetractable::Shared {
    explicit Shared(DispatchBlock block) : block(std::move(block)) {}
    std::atomic<bool> started {false};
    DispatchBlock block;
};

DispatchRetractable DispatchQueue::asyncRetractable(DispatchBlock block)
{
    auto shared = std::make_shared<DispatchRetractable::Shared>(std::move(block));
    async([shared] {
        if (!shared->started.exchange(true, std::memory_order_acq_rel))
            shared->block();
    });
    return DispatchRetractable(state_, std::move(shared));
}

bool DispatchRetractable::runHereIfWaiting()
{
    DispatchQueue::State& queue = *queue_;
    DispatchBlock taken;
    {
        std::lock_guard lock(queue.mutex);
        // Its one block still waiting in the queue is this one: the worker takes
        // blocks only under the lock, and one it holds counts as outstanding.
        if (queue.kind != DispatchQueue::State::Kind::Serial || queue.heldByCaller || queue.outstanding.load() != 1
            || queue.blocks.size() != 1 || shared_->started.exchange(true, std::memory_order_acq_rel))
            return false;
        taken = std::move(queue.blocks.front());
        queue.blocks.clear();
        // The place it held in the count is kept while it runs here.
        queue.heldByCaller = true;
    }
    taken = nullptr;
    {
        CurrentScope scope(&queue);
        shared_->block();
    }
    queue.releaseFromCaller();
    return true;
}

void DispatchQueue::setLingersWhenIdle(bool lingers) { state_->lingers.store(lingers, std::memory_order_relaxed); }

void DispatchQueue::endLinger()
{
    // A nap that starts just after this look still ends on its own, one nap later.
    if (!state_->napping.load(std::memory_order_relaxed))
        return;
    {
        std::lock_guard lock(state_->mutex);
        state_->napEnded = true;
    }
    state_->wake.notify_one();
}

void DispatchQueue::setSpecific(const void* key, std::shared_ptr<void> value)
{
    std::lock_guard lock(state_->mutex);
    state_->specifics.insert(key, std::move(value));
}

std::shared_ptr<void> DispatchQueue::currentSpecific(const void* key)
{
    State* state = currentState;
    if (!state && isMainThread())
        state = mainState().get();
    if (!state)
        return nullptr;
    std::lock_guard lock(state->mutex);
    return state->specifics.value(key);
}

int DispatchQueue::drainMain()
{
    if (!isMainThread())
        return 0;
    return mainState()->drainOnce();
}

bool DispatchQueue::runMainUntil(const std::function<bool()>& done, double timeoutSeconds)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + duration_cast<steady_clock::duration>(duration<double>(timeoutSeconds));
    const auto state = mainState();
    for (;;) {
        drainMain();
        if (done())
            return true;
        if (steady_clock::now() >= deadline)
            return false;
        // done() may depend on other threads, so look again every few milliseconds.
        std::unique_lock lock(state->mutex);
        state->wake.wait_for(lock, milliseconds(2), [&] { return !state->blocks.empty(); });
    }
}

DispatchHandle DispatchQueue::after(double seconds, DispatchBlock block)
{
    auto flag = std::make_shared<std::atomic<bool>>(false);
    // The firing holds the queue weakly: a queue gone by then simply drops it.
    std::weak_ptr<State> weak = state_;
    const bool global = state_->kind == State::Kind::Global;
    auto enqueue = [weak, global](DispatchBlock ready) {
        if (global)
            DispatchQueue::global()->async(std::move(ready));
        else if (auto state = weak.lock())
            state->enqueue(std::move(ready), state);
    };
    DispatchScheduler::shared().schedule(DispatchTime::now() + std::max(0.0, seconds),
                                         {std::move(enqueue), std::move(block), flag});
    return DispatchScheduler::handle(flag);
}

void Dispatch::waitUntilSet(const std::atomic<bool>& flag)
{
    static SpinBudget budget;
    spinUntil(budget, [&] { return flag.load(std::memory_order_acquire); });
    flag.wait(false, std::memory_order_acquire);
}

void Dispatch::waitUntilIdle()
{
    const bool onMain = isMainThread();
    // The pause doubles while the work goes on: a waiter polling every 50 µs through a long run
    // took a good part of a core from the work it waited for.
    constexpr auto firstPause = std::chrono::microseconds(50);
    constexpr auto longestPause = std::chrono::microseconds(1000);
    auto pause = firstPause;
    int quietRounds = 0;
    while (quietRounds < 2) {
        int busy = onMain ? DispatchQueue::drainMain() : 0;
        {
            Registry& r = registry();
            std::lock_guard lock(r.mutex);
            for (const auto& weak : r.states) {
                const auto state = weak.lock();
                // The caller's own queue counts its running block; that one is us.
                if (state && state.get() != currentState && state->outstanding.load() > 0)
                    ++busy;
            }
        }
        if (busy == 0) {
            ++quietRounds;
        } else {
            quietRounds = 0;
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, longestPause);
        }
    }
}
