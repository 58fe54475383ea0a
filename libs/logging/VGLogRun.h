#pragma once

#include "Dispatch.h"

#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <vector>

struct VGLogDelivery;
struct VGLoggerNode;

// Hands one run of messages to the loggers that take them, one message after
// the other: no logger starts a message before every logger has handled the
// one before. The loggers work on a message side by side, each on its own
// queue. The runner's thread takes the first logger, and takes on any other
// whose thread is not at its turn when needed, so busy cores cost no wait for
// a woken thread; a logger served by its own thread gets the message even
// while another is held inside its call. With one core the runner takes the
// loggers in turn.
class VGLogRun {
public:
    // On the runner's thread; returns once every logger has handled every
    // message (its share of them) and has been told the batch ended.
    void deliver(std::span<VGLogDelivery* const> messages, const std::vector<const VGLoggerNode*>& nodes);

private:
    // Who handles a logger's messages: a lane moves from its own thread to
    // the runner only between two messages.
    enum Owner : int { Unclaimed, HelperBetween, HelperWorking, Runner };
    struct alignas(64) Lane {
        const VGLoggerNode* node = nullptr;
        std::atomic<size_t> handled {0}; // messages of the run this logger is done with
        std::atomic<int> owner {Unclaimed};
        bool logged = false; // written by the owner only
        std::optional<DispatchRetractable> helper;
    };

    void prepare(std::span<VGLogDelivery* const> messages, const std::vector<const VGLoggerNode*>& nodes);
    // A lone logger takes the whole run in one go: there is no other to keep in step with.
    void deliverToOne(Lane& lane);
    void prefetchAhead(size_t index) const;
    void startHelpers();
    // On the lane's own queue: the lane's messages while they are its turn.
    void help(Lane& lane);
    // Makes the lane handle every message before the given one.
    void completeLane(Lane& lane, size_t until);
    bool takeOver(Lane& lane);
    void handleOnRunner(Lane& lane, size_t index);
    void handle(Lane& lane, size_t index);
    void finishLanes();

    // True once every lane has handled the messages before this one.
    bool mayStart(size_t index) const;
    void signal();
    template <typename Ready>
    void waitUntil(Ready ready);

    std::span<VGLogDelivery* const> messages_;
    std::unique_ptr<Lane[]> lanes_;
    size_t laneCapacity_ = 0;
    size_t laneCount_ = 0;
    alignas(64) std::atomic<uint32_t> signal_ {0}; // moves on whenever a lane does
    std::atomic<int> sleepers_ {0};
    std::atomic<size_t> helpersRunning_ {0};
    std::atomic<bool> helpersDone_ {true};
};
