#include "NoteIndexMarker.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace NoteIndexMarker {

namespace {

Stamp fromStat(const struct stat& info)
{
    return Stamp{int64_t(info.st_size), int64_t(info.st_mtim.tv_sec), int64_t(info.st_mtim.tv_nsec),
                 S_ISREG(info.st_mode)};
}

} // namespace

Identity identityOf(const QString& path)
{
    struct stat info {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return Identity();
    return Identity{fromStat(info), uint64_t(info.st_ino)};
}

Stamp stampOf(const QString& path)
{
    return identityOf(path).stamp;
}

Stamp stampAt(int folder, const char* name)
{
    return identityAt(folder, name).stamp;
}

Identity identityAt(int folder, const char* name)
{
    struct stat info {};
    if (folder < 0 || ::fstatat(folder, name, &info, 0) != 0)
        return Identity();
    return Identity{fromStat(info), uint64_t(info.st_ino)};
}

namespace {

bool mark(int fd, const Stamp& document)
{
    if (fd < 0)
        return false;
    // The size first: setting it changes the modification time. Cut short
    // anywhere, the marker carries the time of now, which no text file has.
    const timespec times[2] = {{0, UTIME_OMIT}, {document.seconds, document.nanoseconds}};
    const bool ok = ::ftruncate(fd, document.size) == 0 && ::futimens(fd, times) == 0;
    ::close(fd);
    return ok;
}

constexpr int MarkerFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;

} // namespace

bool write(const QString& markerPath, const QString& documentPath)
{
    return write(markerPath, stampOf(documentPath));
}

bool write(const QString& markerPath, const Stamp& document)
{
    if (markerPath.isEmpty() || !document.regular)
        return false;
    return mark(::open(QFile::encodeName(markerPath).constData(), MarkerFlags, 0600), document);
}

bool writeAt(int folder, const char* name, const Stamp& document)
{
    return document.regular && folder >= 0 && mark(::openat(folder, name, MarkerFlags, 0600), document);
}

} // namespace NoteIndexMarker
