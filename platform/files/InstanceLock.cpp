#include "InstanceLock.h"

#include "Posix.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

InstanceLock::~InstanceLock() { release(); }

bool InstanceLock::acquire(const QString& folder, Error* error)
{
    if (isHeld())
        return true;
    const QString path = folder + QLatin1Char('/') + QLatin1String(FileName);
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        setError(error, posixError(ENOENT, QStringLiteral("Cannot create the folder of the lock"), path));
        return false;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        setError(error, posixError(errno, QStringLiteral("Cannot open the lock"), path));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        char owner[32] = {};
        const ssize_t length = ::pread(fd, owner, sizeof owner - 1, 0);
        ::close(fd);
        if (code == EWOULDBLOCK) {
            const QString process = length > 0 ? QString::fromLatin1(owner).trimmed() : QStringLiteral("?");
            setError(error, Error::make(QString::fromLatin1(PosixErrorDomain), code,
                                        QStringLiteral("Another Brindlewick process (%1) is already using the notes in \"%2\".")
                                            .arg(process, folder)));
        } else {
            setError(error, posixError(code, QStringLiteral("Cannot lock"), path));
        }
        return false;
    }
    // The holder's process id, only a hint for the message another process
    // gives: the lock holds without it.
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    const bool noted = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), static_cast<size_t>(pid.size()), 0) == pid.size();
    Q_UNUSED(noted)
    fd_ = fd;
    return true;
}

void InstanceLock::release()
{
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
}
