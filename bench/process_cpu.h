#pragma once

#include <sys/resource.h>

// CPU seconds of every thread of this process (not a competing load's), and
// the part of them spent in the kernel on its behalf.
struct ProcessCpu {
    double user = 0;
    double kernel = 0;
    double total() const { return user + kernel; }
};

inline ProcessCpu processCpu()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

inline double processCpuSeconds()
{
    return processCpu().total();
}
