#include "VGLoggerNode.h"

std::unique_lock<std::mutex> VGLoggerNode::lockBriefly(std::mutex& mutex)
{
    // A caller that finds the lock taken by the logger's thread on the other
    // core would otherwise sleep on the futex and need a wake-up for a wait of
    // a few dozen nanoseconds.
    constexpr int Tries = 64;
    for (int i = 0; i < Tries; ++i) {
        if (mutex.try_lock())
            return std::unique_lock(mutex, std::adopt_lock);
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    return std::unique_lock(mutex);
}

std::shared_ptr<VGLoggerNode> VGLoggerNode::create(VGLoggerPtr logger, DispatchQueuePtr loggerQueue, int32_t logLevel,
                                                   DispatchQueuePtr runner, std::mutex& routingMutex)
{
    return std::shared_ptr<VGLoggerNode>(
        new VGLoggerNode(std::move(logger), std::move(loggerQueue), logLevel, std::move(runner), routingMutex));
}

VGLoggerNode::VGLoggerNode(VGLoggerPtr logger, DispatchQueuePtr loggerQueue, int32_t logLevel, DispatchQueuePtr runner,
                           std::mutex& routingMutex)
    : logger_(std::move(logger))
    , loggerQueue_(std::move(loggerQueue))
    , logLevel_(logLevel)
    , runner_(std::move(runner))
    , routingMutex_(routingMutex)
{
}

void VGLoggerNode::postMessage(const std::shared_ptr<VGLogDelivery>& delivery) { post({delivery, {}}); }

void VGLoggerNode::postBlock(DispatchBlock block)
{
    post({{}, std::move(block)});
    // Control blocks are often waited for (flushes, settings read back).
    runner_->endLinger();
}

void VGLoggerNode::post(Item item)
{
    pending_.push_back(std::move(item));
    if (drainScheduled_)
        return;
    drainScheduled_ = true;
    scheduledSelf_ = shared_from_this();
    scheduleDrain();
}

void VGLoggerNode::scheduleDrain()
{
    // The queue is held while the drain runs: the drain may release the node, and with it its
    // reference. The block carries only the pointer, so scheduling it allocates nothing.
    runner_->async([node = this] {
        const DispatchQueuePtr queue = node->loggerQueue_;
        queue->runOnCaller([node] { node->drain(); });
    });
}

void VGLoggerNode::drain()
{
    {
        const auto lock = lockBriefly(routingMutex_);
        draining_.swap(pending_);
    }
    // Messages since the last control block end their run before the next one runs.
    size_t runStart = 0;
    const auto endRun = [&](size_t end) {
        if (runStart == end)
            return;
        logger_->didLogBatch();
        int freed = 0;
        for (size_t i = runStart; i < end; ++i)
            freed += draining_[i].delivery->finishPart() ? 1 : 0;
        VGLogDelivery::freePlaces(freed);
    };
    for (size_t i = 0; i < draining_.size(); ++i) {
        Item& item = draining_[i];
        if (item.delivery) {
            logger_->logMessage(item.delivery->message);
        } else {
            endRun(i);
            item.block();
            runStart = i + 1;
        }
    }
    endRun(draining_.size());
    for (Item& item : draining_) {
        if (item.delivery)
            handled_.push_back(std::move(item.delivery));
    }
    draining_.clear();
    VGLogDelivery::giveBack(handled_);
    // One batch per queue turn, so the logger's timers and watchers get their turn.
    bool again = false;
    std::shared_ptr<VGLoggerNode> self;
    {
        const auto lock = lockBriefly(routingMutex_);
        again = !pending_.empty();
        drainScheduled_ = again;
        if (!again)
            self = std::move(scheduledSelf_);
    }
    if (again)
        scheduleDrain();
    // self, perhaps the last reference, goes last: nothing of the node is touched after it.
}
