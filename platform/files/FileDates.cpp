#include "FileDates.h"

#include <QFile>

#include <cerrno>
#include <charconv>
#include <ctime>
#include <string>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>

namespace FileDates {

namespace {

// Truncated toward zero, like every time of the store.
int64_t wholeSeconds(int64_t seconds, int64_t nanoseconds)
{
    return (seconds < 0 && nanoseconds > 0) ? seconds + 1 : seconds;
}

bool attributeDate(const QByteArray& path, int64_t* seconds)
{
    char buffer[32];
    const ssize_t length = getxattr(path.constData(), CreationDateAttribute, buffer, sizeof buffer);
    if (length <= 0)
        return false;
    const auto [end, status] = std::from_chars(buffer, buffer + length, *seconds);
    return status == std::errc() && end == buffer + length;
}

// Without the attribute: the birth time where the file system keeps one.
int64_t fileCreation(const struct statx& info)
{
    if (info.stx_mask & STATX_BTIME)
        return wholeSeconds(info.stx_btime.tv_sec, info.stx_btime.tv_nsec);
    return wholeSeconds(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
}

} // namespace

int64_t creationDate(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    int64_t seconds = 0;
    if (attributeDate(native, &seconds))
        return seconds;
    struct statx info {};
    if (statx(AT_FDCWD, native.constData(), 0, STATX_BTIME | STATX_MTIME, &info) != 0)
        return 0;
    return fileCreation(info);
}

bool regularFileDates(const QString& path, int64_t* created, int64_t* modified)
{
    *created = 0;
    *modified = 0;
    const QByteArray native = QFile::encodeName(path);
    struct statx info {};
    if (statx(AT_FDCWD, native.constData(), 0, STATX_TYPE | STATX_BTIME | STATX_MTIME, &info) != 0 ||
        !S_ISREG(info.stx_mode))
        return false;
    *modified = wholeSeconds(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
    if (!attributeDate(native, created))
        *created = fileCreation(info);
    return true;
}

namespace {

// The version of what the name inside the folder names, when it is of the kind (S_IFREG, S_IFDIR).
Version versionOfKind(int folder, const char* name, int flags, mode_t kind)
{
    struct statx info {};
    if (statx(folder, name, flags, STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME, &info) != 0
        || (info.stx_mode & S_IFMT) != kind)
        return {};
    return {info.stx_ino, int64_t(info.stx_size), info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec,
            int64_t(info.stx_ctime.tv_sec) * 1'000'000'000 + info.stx_ctime.tv_nsec};
}

} // namespace

Version versionAt(int folder, const char* name, int flags)
{
    return versionOfKind(folder, name, flags, S_IFREG);
}

bool isSettled(const Version& version)
{
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return version.changed < (int64_t(now.tv_sec) - 1) * 1'000'000'000 + now.tv_nsec;
}

Version folderVersion(int folder)
{
    return versionOfKind(folder, "", AT_EMPTY_PATH, S_IFDIR);
}

bool keepsFolderChanges(int folder)
{
    struct statfs info {};
    if (fstatfs(folder, &info) != 0)
        return false;
    switch (info.f_type) {
    case EXT4_SUPER_MAGIC: // ext2 and ext3 too
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

bool regularFileModifiedAt(int folder, const char* name, int64_t* modified, Version* version)
{
    const Version found = versionAt(folder, name);
    const bool regular = found.size >= 0;
    *modified = regular ? wholeSeconds(found.modifiedSeconds, found.modifiedNanoseconds) : 0;
    if (version)
        *version = found;
    return regular;
}

bool setCreationDate(const QString& path, int64_t seconds)
{
    const std::string value = std::to_string(seconds);
    return setxattr(QFile::encodeName(path).constData(), CreationDateAttribute, value.data(), value.size(), 0) == 0;
}

int64_t modificationDate(const QString& path)
{
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return wholeSeconds(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
}

bool setModificationDate(const QString& path, int64_t seconds)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

bool setCreationDate(int fd, int64_t seconds)
{
    const std::string value = std::to_string(seconds);
    return fsetxattr(fd, CreationDateAttribute, value.data(), value.size(), 0) == 0;
}

bool setModificationDate(int fd, int64_t seconds)
{
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
    return futimens(fd, times) == 0;
}

} // namespace FileDates
