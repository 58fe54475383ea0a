#include "VGLoggerNode.h"

#include <algorithm>

std::unique_lock<std::mutex> VGLogMailbox::lockBriefly(std::mutex& mutex)
{
    // A caller that finds the lock taken by the loggers' thread on the other
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

VGLogMailbox::VGLogMailbox(DispatchQueuePtr runner, std::mutex& routingMutex)
    : runner_(std::move(runner)), routingMutex_(routingMutex)
{
}

void VGLogMailbox::postMessage(std::shared_ptr<VGLogDelivery> delivery)
{
    VGLogDelivery* const entry = delivery.get();
    entry->keptAlive = std::move(delivery);
    post(entry);
}

void VGLogMailbox::postBlock(VGLoggerNodePtr node, DispatchBlock block)
{
    postControl(Kind::Block, std::move(node), std::move(block));
    // Control blocks are often waited for (flushes, settings read back).
    runner_->endLinger();
}

void VGLogMailbox::install(VGLoggerNodePtr node) { postControl(Kind::Install, std::move(node)); }

void VGLogMailbox::uninstall(VGLoggerNodePtr node) { postControl(Kind::Uninstall, std::move(node)); }

void VGLogMailbox::postControl(Kind kind, VGLoggerNodePtr node, DispatchBlock block)
{
    post(new Control(kind, std::move(node), std::move(block)));
}

void VGLogMailbox::post(VGLogMailboxEntry* entry)
{
    pending_.push_back(entry);
    if (drainScheduled_)
        return;
    drainScheduled_ = true;
    scheduleDrain();
}

void VGLogMailbox::scheduleDrain()
{
    // The hub, and with it the mailbox, is never destroyed; the block carries
    // only the pointer, so scheduling it allocates nothing.
    runner_->async([mailbox = this] { mailbox->drain(); });
}

void VGLogMailbox::deliverRun()
{
    if (handled_.empty())
        return;
    selected_.clear();
    for (const VGLoggerNodePtr& node : installed_) {
        if (node->logLevel & runFlags_)
            selected_.push_back(node.get());
    }
    runFlags_ = 0;
    run_.deliver(handled_, selected_);
    int freed = 0;
    for (VGLogDelivery* handled : handled_)
        freed += handled->finish() ? 1 : 0;
    // Given back before the places are freed: a caller that waited for a
    // place finds the run ready to let go, even when it logs nothing more
    // before this thread's next turn.
    VGLogDelivery::giveBack(handled_);
    VGLogDelivery::freePlaces(freed);
}

void VGLogMailbox::drain()
{
    {
        const auto lock = lockBriefly(routingMutex_);
        draining_.swap(pending_);
    }
    // Messages since the last control item end their run before it takes effect.
    for (size_t i = 0; i < draining_.size(); ++i) {
        if (!draining_[i]->isControl) {
            handled_.push_back(&delivery(i));
            runFlags_ |= delivery(i).message.logFlag();
            continue;
        }
        deliverRun();
        const std::unique_ptr<Control> control(static_cast<Control*>(draining_[i]));
        if (control->kind == Kind::Install)
            installed_.push_back(control->node);
        else if (control->kind == Kind::Uninstall)
            std::erase(installed_, control->node);
        if (!control->node) {
            control->block();
            continue;
        }
        // The item may hold the logger's last reference: it goes on the logger's queue too.
        const DispatchQueuePtr queue = control->node->loggerQueue;
        queue->runOnCaller([&] {
            if (control->block)
                control->block();
            control->block = {};
            control->node.reset();
        });
    }
    deliverRun();
    draining_.clear();
    // One batch per turn of the runner, so other queues' blocks get their turn.
    bool again = false;
    {
        const auto lock = lockBriefly(routingMutex_);
        again = !pending_.empty();
        drainScheduled_ = again;
    }
    if (again)
        scheduleDrain();
}
