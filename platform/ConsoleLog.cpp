#include "ConsoleLog.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <sys/syscall.h>
#include <unistd.h>

// Loggers report here from their own threads, also while the process exits and its
// statics, Qt's among them, are being destroyed: this uses only the C library and
// a name that is never destroyed.
static const char* processName()
{
    static const char* const name = [] {
        static char path[4096]; // never destroyed
        const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        if (n <= 0)
            return "brindlewick";
        path[n] = '\0';
        const char* slash = std::strrchr(path, '/');
        return slash ? slash + 1 : static_cast<const char*>(path);
    }();
    return name;
}

void consoleLog(const QString& text)
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm fields {};
    localtime_r(&now.tv_sec, &fields);
    char stamp[512];
    const int length = std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03ld %s[%d:%ld] ",
                                     fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                                     fields.tm_min, fields.tm_sec, now.tv_nsec / 1000000, processName(),
                                     int(getpid()), static_cast<long>(syscall(SYS_gettid)));
    QByteArray bytes(stamp, std::clamp(length, 0, int(sizeof stamp) - 1));
    bytes += text.toUtf8();
    bytes += '\n';
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, static_cast<size_t>(left));
        if (written <= 0)
            return;
        data += written;
        left -= written;
    }
}
