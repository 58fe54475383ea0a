// The dispatch clock (real, or virtual for tests), the scheduler that fires
// delayed blocks and timers when due on it, and the handles that cancel them.
#include "Dispatch.h"
#include "DispatchScheduler.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

std::atomic<bool> virtualMode {false};
std::mutex virtualMutex;
double virtualNow = 0;

double realNow()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

double DispatchTime::now()
{
    if (virtualMode.load()) {
        std::lock_guard lock(virtualMutex);
        return virtualNow;
    }
    return realNow();
}

bool DispatchTime::isVirtual() { return virtualMode.load(); }

DispatchScheduler& DispatchScheduler::shared()
{
    static DispatchScheduler* scheduler = new DispatchScheduler; // lives with the process
    return *scheduler;
}

DispatchScheduler::DispatchScheduler() { std::thread([this] { run(); }).detach(); }

void DispatchScheduler::schedule(double when, Firing firing)
{
    {
        std::lock_guard lock(mutex_);
        firings_.emplace(std::make_pair(when, nextSequence_++), std::move(firing));
    }
    changed_.notify_all();
}

bool DispatchScheduler::takeDue(double limit, double& when, Firing& firing)
{
    std::lock_guard lock(mutex_);
    if (firings_.empty() || firings_.begin()->first.first > limit)
        return false;
    auto it = firings_.begin();
    when = it->first.first;
    firing = std::move(it->second);
    firings_.erase(it);
    return true;
}

void DispatchScheduler::deliver(Firing firing)
{
    if (firing.cancelled->load())
        return;
    firing.enqueue([flag = firing.cancelled, block = std::move(firing.block)] {
        if (!flag->load())
            block();
    });
}

void DispatchScheduler::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        if (virtualMode.load() || firings_.empty()) {
            changed_.wait_for(lock, std::chrono::milliseconds(50));
            continue;
        }
        const double when = firings_.begin()->first.first;
        const double now = realNow();
        if (when > now) {
            changed_.wait_for(lock, std::chrono::duration<double>(when - now));
            continue;
        }
        Firing firing = std::move(firings_.begin()->second);
        firings_.erase(firings_.begin());
        lock.unlock();
        deliver(std::move(firing));
        lock.lock();
    }
}

void DispatchTime::setVirtual(bool on)
{
    {
        std::lock_guard lock(virtualMutex);
        virtualNow = 0;
    }
    virtualMode = on;
    DispatchScheduler::shared().wakeUp();
}

void DispatchTime::advance(double seconds)
{
    double target;
    {
        std::lock_guard lock(virtualMutex);
        target = virtualNow + seconds;
    }
    Dispatch::waitUntilIdle();
    double when = 0;
    DispatchScheduler::Firing firing;
    while (DispatchScheduler::shared().takeDue(target, when, firing)) {
        {
            std::lock_guard lock(virtualMutex);
            virtualNow = std::max(virtualNow, when);
        }
        DispatchScheduler::deliver(std::move(firing));
        Dispatch::waitUntilIdle();
    }
    std::lock_guard lock(virtualMutex);
    virtualNow = target;
}

void DispatchHandle::cancel()
{
    if (flag_)
        flag_->store(true);
}

bool DispatchHandle::isCancelled() const { return flag_ && flag_->load(); }
