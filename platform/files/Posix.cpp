#include "Posix.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

Error posixError(int code, const QString& what, const QString& path)
{
    return Error::make(QString::fromLatin1(PosixErrorDomain), code,
                       QStringLiteral("%1 \"%2\": %3").arg(what, path, QString::fromLocal8Bit(std::strerror(code))));
}

bool writeAll(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t written = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (written < 0 && errno != EINTR)
            return false;
        if (written > 0)
            done += written;
    }
    return true;
}
