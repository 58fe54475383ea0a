#include "Clock.h"

#include <QUuid>

#include <chrono>
#include <cmath>
#include <mutex>

namespace Clock {

namespace {
std::mutex mutex;
std::function<double()> wallClock;
std::function<QString()> uuidGenerator;
}

double nowPrecise()
{
    {
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
