#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

// The places of the engine's bound on outstanding messages. A caller that
// finds none free sleeps until the loggers free some; it never yields its
// core on the way, as a spinning wait does: on cores shared with busy
// processes a yield hands the core away for a whole time slice, while the
// loggers need only a few microseconds to free a run. The loggers free
// places a run at a time, so a waiting caller wakes once per run.
class VGLogBound {
public:
    explicit VGLogBound(int places) : free_(places) {}

    bool tryTake();
    void take();
    void give(int count);

private:
    std::atomic<int> free_;
    std::atomic<int> sleepers_ {0};
    std::mutex mutex_;
    std::condition_variable freed_;
};
