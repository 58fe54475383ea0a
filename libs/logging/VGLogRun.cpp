#include "VGLogRun.h"

#include "VGLoggerNode.h"

#include <thread>

namespace {

void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// A wait between two messages is mostly a few hundred nanoseconds: spun,
// yielding now and then for a busy core's other thread, before it sleeps.
constexpr int SpinsBeforeSleep = 256;
// How long a logger's thread that is between two messages has to start the
// next before the runner takes the logger on itself.
constexpr int GraceSpins = 64;
// The messages the runner's loggers read next, asked for ahead: all were
// written on the callers' cores.
constexpr size_t Ahead = 8;

} // namespace

void VGLogRun::deliver(std::span<VGLogDelivery* const> messages, const std::vector<const VGLoggerNode*>& nodes)
{
    if (nodes.empty())
        return;
    prepare(messages, nodes);
    if (laneCount_ == 1) {
        deliverToOne(lanes_[0]);
        return;
    }
    const bool sideBySide = Dispatch::allowedCores() > 1;
    for (size_t n = 0; n < laneCount_; ++n)
        lanes_[n].owner.store(n > 0 && sideBySide ? Unclaimed : Runner);
    if (sideBySide)
        startHelpers();
    const size_t count = messages_.size();
    for (size_t index = 0;; ++index) {
        for (size_t n = 1; n < laneCount_; ++n)
            completeLane(lanes_[n], index);
        if (index == count)
            break;
        prefetchAhead(index);
        handleOnRunner(lanes_[0], index);
    }
    finishLanes();
}

void VGLogRun::deliverToOne(Lane& lane)
{
    lane.node->loggerQueue->runOnCaller([&] {
        for (size_t index = 0; index < messages_.size(); ++index) {
            prefetchAhead(index);
            handle(lane, index);
        }
        if (lane.logged)
            lane.node->logger->didLogBatch();
    });
}

void VGLogRun::prefetchAhead(size_t index) const
{
    if (index + Ahead < messages_.size()) {
        messages_[index + Ahead]->prefetchBlock(false);
        messages_[index + Ahead / 2]->prefetchText(false);
    }
}

void VGLogRun::prepare(std::span<VGLogDelivery* const> messages, const std::vector<const VGLoggerNode*>& nodes)
{
    messages_ = messages;
    if (nodes.size() > laneCapacity_) {
        lanes_ = std::make_unique<Lane[]>(nodes.size());
        laneCapacity_ = nodes.size();
    }
    laneCount_ = nodes.size();
    for (size_t n = 0; n < laneCount_; ++n) {
        Lane& lane = lanes_[n];
        lane.node = nodes[n];
        lane.handled.store(0);
        lane.logged = false;
        lane.helper.reset();
    }
}

void VGLogRun::startHelpers()
{
    helpersRunning_.store(laneCount_ - 1);
    helpersDone_.store(false);
    for (size_t n = 1; n < laneCount_; ++n) {
        Lane& lane = lanes_[n];
        // The runner waits for every helper before the run ends, so the lane outlives it.
        lane.helper = lane.node->loggerQueue->asyncRetractable([this, &lane] {
            help(lane);
            if (helpersRunning_.fetch_sub(1) == 1) {
                helpersDone_.store(true, std::memory_order_release);
                helpersDone_.notify_one();
            }
        });
    }
}

void VGLogRun::help(Lane& lane)
{
    int unclaimed = Unclaimed;
    if (!lane.owner.compare_exchange_strong(unclaimed, HelperBetween))
        return;
    const size_t count = messages_.size();
    for (size_t index = lane.handled.load(); index < count; index = lane.handled.load()) {
        waitUntil([&] { return mayStart(index) || lane.owner.load() != HelperBetween; });
        int between = HelperBetween;
        if (!lane.owner.compare_exchange_strong(between, HelperWorking))
            return; // the runner has taken the logger on
        handle(lane, index);
        if (index + 1 == count && lane.logged)
            lane.node->logger->didLogBatch();
        lane.handled.store(index + 1);
        lane.owner.store(HelperBetween);
        signal();
    }
}

void VGLogRun::completeLane(Lane& lane, size_t until)
{
    while (lane.handled.load() < until) {
        const int owner = lane.owner.load();
        if (owner == Runner)
            handleOnRunner(lane, lane.handled.load());
        else if (owner == HelperWorking)
            waitUntil([&] { return lane.handled.load() >= until || lane.owner.load() != HelperWorking; });
        else
            takeOver(lane);
    }
}

bool VGLogRun::takeOver(Lane& lane)
{
    int owner = lane.owner.load();
    const size_t handled = lane.handled.load();
    for (int i = 0; i < GraceSpins; ++i) {
        cpuRelax();
        if (lane.owner.load() != owner || lane.handled.load() != handled)
            return false;
    }
    if (!lane.owner.compare_exchange_strong(owner, Runner))
        return false;
    // A helper asleep between two messages wakes and leaves; one not started yet runs here and leaves.
    signal();
    lane.helper->runHereIfWaiting();
    return true;
}

void VGLogRun::handleOnRunner(Lane& lane, size_t index)
{
    lane.node->loggerQueue->runOnCaller([&] { handle(lane, index); });
    lane.handled.store(index + 1);
    signal();
}

void VGLogRun::handle(Lane& lane, size_t index)
{
    const VGLogMessage& message = messages_[index]->message;
    if (lane.node->logLevel & message.logFlag()) {
        lane.node->logger->logMessage(message);
        lane.logged = true;
    }
}

void VGLogRun::finishLanes()
{
    for (size_t n = 0; n < laneCount_; ++n) {
        Lane& lane = lanes_[n];
        if (lane.owner.load() == Runner && lane.logged)
            lane.node->loggerQueue->runOnCaller([&] { lane.node->logger->didLogBatch(); });
    }
    if (helpersDone_.load())
        return;
    for (size_t n = 1; n < laneCount_; ++n)
        lanes_[n].helper->runHereIfWaiting();
    Dispatch::waitUntilSet(helpersDone_);
}

bool VGLogRun::mayStart(size_t index) const
{
    for (size_t n = 0; n < laneCount_; ++n) {
        if (lanes_[n].handled.load() < index)
            return false;
    }
    return true;
}

void VGLogRun::signal()
{
    signal_.fetch_add(1);
    if (sleepers_.load() > 0)
        signal_.notify_all();
}

template <typename Ready>
void VGLogRun::waitUntil(Ready ready)
{
    for (int i = 0; i < SpinsBeforeSleep; ++i) {
        if (ready())
            return;
        if ((i & 7) == 7)
            std::this_thread::yield();
        else
            cpuRelax();
    }
    for (;;) {
        const uint32_t seen = signal_.load();
        sleepers_.fetch_add(1);
        const bool done = ready();
        if (!done)
            signal_.wait(seen);
        sleepers_.fetch_sub(1);
        if (done || ready())
            return;
    }
}
