// Read sources: a watcher thread per descriptor that runs the handler on a
// queue whenever the descriptor is readable.
#include "Dispatch.h"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

struct DispatchReadSource::State {
    int fd = -1;
    int stopFd = -1;
    DispatchQueuePtr queue;
    DispatchBlock handler;
    DispatchBlock cancelHandler;
    std::mutex mutex;
    std::condition_variable handled;
    bool handlerPending = false;
    std::atomic<bool> cancelled {false};
    std::thread watcher;

    void watch(const std::shared_ptr<State>& self)
    {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        while (!cancelled.load()) {
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0 || cancelled.load() || (fds[1].revents & POLLIN))
                break;
            if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
                std::unique_lock lock(mutex);
                handlerPending = true;
                queue->async([self] {
                    if (!self->cancelled.load())
                        self->handler();
                    std::lock_guard done(self->mutex);
                    self->handlerPending = false;
                    self->handled.notify_all();
                });
                handled.wait(lock, [&] { return !handlerPending || cancelled.load(); });
            }
            if (fds[0].revents & POLLNVAL)
                break;
        }
    }
};

DispatchReadSource::DispatchReadSource(int fd, DispatchQueuePtr queue, DispatchBlock handler)
    : state_(std::make_shared<State>())
{
    state_->fd = fd;
    state_->stopFd = eventfd(0, EFD_CLOEXEC);
    state_->queue = std::move(queue);
    state_->handler = std::move(handler);
    auto state = state_;
    state_->watcher = std::thread([state] { state->watch(state); });
}

DispatchReadSource::~DispatchReadSource()
{
    cancel();
    if (state_->watcher.joinable())
        state_->watcher.join();
    ::close(state_->stopFd);
}

void DispatchReadSource::setCancelHandler(DispatchBlock handler)
{
    std::lock_guard lock(state_->mutex);
    state_->cancelHandler = std::move(handler);
}

void DispatchReadSource::cancel()
{
    if (state_->cancelled.exchange(true))
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(state_->stopFd, &one, sizeof one);
    DispatchBlock handler;
    {
        std::lock_guard lock(state_->mutex);
        state_->handled.notify_all();
        handler = std::move(state_->cancelHandler);
    }
    if (handler)
        state_->queue->async(std::move(handler));
}

bool DispatchReadSource::isCancelled() const { return state_->cancelled.load(); }
