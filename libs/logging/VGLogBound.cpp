#include "VGLogBound.h"

bool VGLogBound::tryTake()
{
    int free = free_.load(std::memory_order_relaxed);
    while (free > 0) {
        if (free_.compare_exchange_weak(free, free - 1, std::memory_order_acquire, std::memory_order_relaxed))
            return true;
    }
    return false;
}

void VGLogBound::take()
{
    if (tryTake())
        return;
    std::unique_lock lock(mutex_);
    // Announced before the last look, which give() orders against its own
    // look at the sleepers: one of the two sees the other.
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    freed_.wait(lock, [&] { return tryTake(); });
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
}

void VGLogBound::give(int count)
{
    if (count <= 0)
        return;
    free_.fetch_add(count, std::memory_order_seq_cst);
    if (sleepers_.load(std::memory_order_seq_cst) == 0)
        return;
    // Taken so that the notice cannot fall between a sleeper's look and its sleep.
    { const std::lock_guard lock(mutex_); }
    freed_.notify_all();
}
