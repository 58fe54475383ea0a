#include "ConsoleLog.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>

#include <sys/syscall.h>
#include <unistd.h>

static QString processName()
{
    static const QString name = [] {
        char path[4096];
        const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
        return n > 0 ? QFileInfo(QString::fromLocal8Bit(path, n)).fileName() : QStringLiteral("brindlewick");
    }();
    return name;
}

void consoleLog(const QString& text)
{
    const QString line = QStringLiteral("%1 %2[%3:%4] %5\n")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")))
                             .arg(processName())
                             .arg(getpid())
                             .arg(static_cast<long>(syscall(SYS_gettid)))
                             .arg(text);
    const QByteArray bytes = line.toUtf8();
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
