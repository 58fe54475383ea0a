#include "Clock.h"

#include <QUuid>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>

namespace Clock {

namespace {
std::mutex mutex;
std::function<double()> wallClock;
// Set while a replacement clock is installed, so that the real clock, read
// for every log message, takes no lock.
std::atomic<bool> clockReplaced {false};
std::function<QString()> uuidGenerator;
}

double nowPrecise()
{
    if (clockReplaced.load(std::memory_order_acquire)) {
        std::lock_guard lock(mutex);
        if (wallClock)
            return wallClock();
    }
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

int64_t now() { return static_cast<int64_t>(std::trunc(nowPrecise())); }

void setWallClock(std::function<double()> clock)
{
    std::lock_guard lock(mutex);
    wallClock = std::move(clock);
    clockReplaced.store(bool(wallClock), std::memory_order_release);
}

QString newUUID()
{
    {
        std::lock_guard lock(mutex);
        if (uuidGenerator)
            return uuidGenerator();
    }
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

void setUUIDGenerator(std::function<QString()> generator)
{
    std::lock_guard lock(mutex);
    uuidGenerator = std::move(generator);
}

} // namespace Clock
