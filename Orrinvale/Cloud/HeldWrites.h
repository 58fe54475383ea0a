#pragma once

#include <functional>
#include <mutex>
#include <vector>

// Writes asked for while a switch is under way, kept until it is done so
// none reaches what is being given up. Any thread.
class HeldWrites {
public:
    void hold()
    {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    // Keeps the write while holding; true when kept.
    bool keep(std::function<void()> write)
    {
        std::lock_guard lock(mutex_);
        if (holding_)
            kept_.push_back(std::move(write));
        return holding_;
    }
    // Stops holding and sends the kept writes in the order asked.
    void release()
    {
        std::vector<std::function<void()>> kept;
        {
            std::lock_guard lock(mutex_);
            holding_ = false;
            kept.swap(kept_);
        }
        for (const auto& write : kept)
            write();
    }

private:
    std::mutex mutex_;
    bool holding_ = false;
    std::vector<std::function<void()>> kept_;
};
