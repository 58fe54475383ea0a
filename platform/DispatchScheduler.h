#pragma once

// The one thread that hands delayed blocks and timer firings to their queues
// when they fall due on the dispatch clock. In virtual mode it stands still
// and DispatchTime::advance() takes the due firings instead.
#include "Dispatch.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

class DispatchScheduler {
public:
    // `enqueue` hands the block to its queue; nothing runs once `cancelled` is set.
    struct Firing {
        std::function<void(DispatchBlock)> enqueue;
        DispatchBlock block;
        std::shared_ptr<std::atomic<bool>> cancelled;
    };

    static DispatchScheduler& shared();
    static DispatchHandle handle(std::shared_ptr<std::atomic<bool>> flag) { return DispatchHandle(std::move(flag)); }

    void schedule(double when, Firing firing);
    // Virtual mode: takes the earliest firing due at or before `limit`.
    bool takeDue(double limit, double& when, Firing& firing);
    void wakeUp() { changed_.notify_all(); }
    static void deliver(Firing firing);

private:
    DispatchScheduler();
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::pair<double, uint64_t>, Firing> firings_;
    uint64_t nextSequence_ = 0;
};
