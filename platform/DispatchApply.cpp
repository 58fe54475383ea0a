#include "DispatchApply.h"

#include "Dispatch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

struct Slices {
    size_t count = 0;
    size_t sliceSize = 1;
    size_t slices = 0;
    // Read only by whoever took a slice, which the caller waits for.
    const std::function<void(size_t, size_t)>* work = nullptr;
    std::atomic<size_t> next = 0;
    std::mutex mutex;
    std::condition_variable finished;
    size_t done = 0;

    // False once no slice is left to take.
    bool runOne()
    {
        const size_t slice = next.fetch_add(1);
        if (slice >= slices)
            return false;
        const size_t begin = slice * sliceSize;
        (*work)(begin, std::min(count, begin + sliceSize));
        std::lock_guard lock(mutex);
        if (++done == slices)
            finished.notify_all();
        return true;
    }
};

} // namespace

void dispatchApply(size_t count, size_t sliceSize, int helpers, const std::function<void(size_t begin, size_t end)>& work)
{
    auto slices = std::make_shared<Slices>();
    slices->count = count;
    slices->sliceSize = std::max<size_t>(1, sliceSize);
    slices->slices = (count + slices->sliceSize - 1) / slices->sliceSize;
    slices->work = &work;
    const size_t started = std::min<size_t>(size_t(std::max(0, helpers)), slices->slices > 0 ? slices->slices - 1 : 0);
    for (size_t i = 0; i < started; ++i)
        DispatchQueue::global()->async([slices] {
            while (slices->runOne()) {
            }
        });
    while (slices->runOne()) {
    }
    std::unique_lock lock(slices->mutex);
    slices->finished.wait(lock, [&] { return slices->done == slices->slices; });
}
