#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

// Runs asynchronous jobs one at a time, in the order given. Held through a
// shared pointer: a job still running when its owner goes keeps it alive.
class OneAtATime : public std::enable_shared_from_this<OneAtATime> {
public:
    // The job calls its argument once, when it has finished.
    using Job = std::function<void(std::function<void()> finished)>;

    static std::shared_ptr<OneAtATime> create() { return std::shared_ptr<OneAtATime>(new OneAtATime()); }

    void run(Job job)
    {
        {
            std::lock_guard lock(mutex_);
            waiting_.push_back(std::move(job));
            if (running_)
                return;
            running_ = true;
        }
        startNext();
    }

private:
    OneAtATime() = default;

    void startNext()
    {
        Job next;
        {
            std::lock_guard lock(mutex_);
            if (waiting_.empty()) {
                running_ = false;
                return;
            }
            next = std::move(waiting_.front());
            waiting_.pop_front();
        }
        next([self = shared_from_this()] { self->startNext(); });
    }

    std::mutex mutex_;
    std::deque<Job> waiting_;
    bool running_ = false;
};
