#include "FileTimes.h"

#include "Clock.h"

#include <QFile>

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr int64_t NanosecondsPerSecond = 1'000'000'000;

} // namespace

FileTime FileTime::fromSeconds(double seconds)
{
    const double whole = std::floor(seconds);
    auto nanoseconds = int64_t(std::llround((seconds - whole) * double(NanosecondsPerSecond)));
    auto result = int64_t(whole);
    if (nanoseconds >= NanosecondsPerSecond) {
        ++result;
        nanoseconds -= NanosecondsPerSecond;
    }
    return {result, int32_t(nanoseconds)};
}

FileTime FileTime::fromDateTime(const QDateTime& date)
{
    const qint64 ms = date.toMSecsSinceEpoch();
    const qint64 seconds = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    return {seconds, int32_t((ms - seconds * 1000) * 1'000'000)};
}

QDateTime FileTime::toDateTime() const
{
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + nanoseconds / 1'000'000, Qt::UTC);
}

FileTime FileTime::now()
{
    return fromSeconds(Clock::nowPrecise());
}

namespace FileTimes {

std::optional<FileTime> modificationTime(const QString& path)
{
    struct statx info {};
    if (path.isEmpty() || statx(AT_FDCWD, QFile::encodeName(path).constData(), 0, STATX_MTIME, &info) != 0
        || !(info.stx_mask & STATX_MTIME))
        return std::nullopt;
    return FileTime{info.stx_mtime.tv_sec, int32_t(info.stx_mtime.tv_nsec)};
}

bool setModificationTime(const QString& path, const FileTime& time)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(time.seconds), time.nanoseconds}};
    return !path.isEmpty() && utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

} // namespace FileTimes
