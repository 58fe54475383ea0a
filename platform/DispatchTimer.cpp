// Timer sources: a handler fired on a queue at a start time and then every
// interval, by the scheduler on the dispatch clock.
#include "Dispatch.h"
#include "DispatchScheduler.h"

#include <algorithm>
#include <mutex>
#include <utility>

struct DispatchTimer::State : std::enable_shared_from_this<DispatchTimer::State> {
    DispatchQueuePtr queue;
    DispatchBlock handler;
    DispatchBlock cancelHandler;
    std::mutex mutex;
    std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> firingPending {false};
    std::atomic<uint64_t> generation {0};
    std::atomic<double> interval {0};

    void arm(double when, uint64_t forGeneration)
    {
        std::weak_ptr<State> weak = weak_from_this();
        auto onPool = [](DispatchBlock ready) { DispatchQueue::global()->async(std::move(ready)); };
        DispatchScheduler::shared().schedule(when, {onPool, [weak, when, forGeneration] {
            if (auto self = weak.lock())
                self->fire(when, forGeneration);
        }, cancelled});
    }

    void fire(double when, uint64_t forGeneration)
    {
        if (cancelled->load() || generation.load() != forGeneration)
            return;
        if (!firingPending.exchange(true)) {
            std::weak_ptr<State> weak = weak_from_this();
            queue->async([weak] {
                auto self = weak.lock();
                if (!self)
                    return;
                self->firingPending = false;
                if (!self->cancelled->load())
                    self->handler();
            });
        }
        if (interval > 0) {
            // The next deadline follows the schedule; one already past fires once, not in a burst.
            const double next = std::max(when + interval, DispatchTime::now());
            arm(next, forGeneration);
        }
    }
};

DispatchTimer::DispatchTimer(DispatchQueuePtr queue, DispatchBlock handler) : state_(std::make_shared<State>())
{
    state_->queue = std::move(queue);
    state_->handler = std::move(handler);
}

DispatchTimer::~DispatchTimer() { cancel(); }

void DispatchTimer::start(double startAfter, double interval, double /*leeway*/)
{
    if (isCancelled())
        return;
    const uint64_t generation = ++state_->generation;
    state_->interval = std::max(0.0, interval);
    state_->arm(DispatchTime::now() + std::max(0.0, startAfter), generation);
}

void DispatchTimer::setCancelHandler(DispatchBlock handler)
{
    std::lock_guard lock(state_->mutex);
    state_->cancelHandler = std::move(handler);
}

void DispatchTimer::cancel()
{
    if (state_->cancelled->exchange(true))
        return;
    DispatchBlock handler;
    {
        std::lock_guard lock(state_->mutex);
        handler = std::move(state_->cancelHandler);
    }
    if (handler)
        state_->queue->async(std::move(handler));
}

bool DispatchTimer::isCancelled() const { return state_->cancelled->load(); }
