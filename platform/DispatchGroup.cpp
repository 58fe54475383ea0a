// Dispatch groups: a count of outstanding work, waited for or followed by
// notify blocks once it drops to zero.
#include "Dispatch.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

struct DispatchGroup::State {
    std::mutex mutex;
    std::condition_variable emptied;
    int count = 0;
    std::vector<std::pair<DispatchQueuePtr, DispatchBlock>> notifications;
};

DispatchGroup::DispatchGroup() : state_(std::make_shared<State>()) {}

std::shared_ptr<DispatchGroup> DispatchGroup::create() { return std::shared_ptr<DispatchGroup>(new DispatchGroup); }

void DispatchGroup::enter()
{
    std::lock_guard lock(state_->mutex);
    ++state_->count;
}

void DispatchGroup::leave()
{
    std::vector<std::pair<DispatchQueuePtr, DispatchBlock>> ready;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count == 0) {
            fprintf(stderr, "dispatch: group left more often than entered\n");
            std::abort();
        }
        if (--state_->count > 0)
            return;
        ready.swap(state_->notifications);
    }
    state_->emptied.notify_all();
    for (auto& [queue, block] : ready)
        queue->async(std::move(block));
}

void DispatchGroup::async(const DispatchQueuePtr& queue, DispatchBlock block)
{
    enter();
    queue->async([self = shared_from_this(), block = std::move(block)] {
        block();
        self->leave();
    });
}

void DispatchGroup::notify(const DispatchQueuePtr& queue, DispatchBlock block)
{
    {
        std::lock_guard lock(state_->mutex);
        if (state_->count > 0) {
            state_->notifications.emplace_back(queue, std::move(block));
            return;
        }
    }
    queue->async(std::move(block));
}

bool DispatchGroup::wait(double timeoutSeconds)
{
    std::unique_lock lock(state_->mutex);
    const auto empty = [&] { return state_->count == 0; };
    if (timeoutSeconds < 0) {
        state_->emptied.wait(lock, empty);
        return true;
    }
    return state_->emptied.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), empty);
}
