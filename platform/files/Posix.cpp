#include "Posix.h"

#include <QRandomGenerator>

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

int underFreshName(const std::function<int(const QByteArray& name)>& make, QByteArray* name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = QByteArrayLiteral(".save-")
                + QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0')
                + QByteArrayLiteral(".tmp");
        const int made = make(*name);
        if (made >= 0 || errno != EEXIST) {
            if (made < 0)
                name->clear();
            return made;
        }
    }
    name->clear();
    errno = EEXIST;
    return -1;
}
