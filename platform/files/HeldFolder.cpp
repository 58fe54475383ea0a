#include "HeldFolder.h"

#include "DispatchApply.h"

#include <QFile>

#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// d_type where the file system gives it; a look at the entry for links and unknown types.
bool isWanted(int folder, const dirent& entry, HeldFolder::Entries entries)
{
    const bool files = entries == HeldFolder::Entries::Files;
    if (entry.d_type == DT_REG)
        return true;
    if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN)
        return files ? false : entry.d_type != DT_DIR;
    struct stat info {};
    if (::fstatat(folder, entry.d_name, &info, 0) != 0)
        return !files && entry.d_type == DT_LNK;
    return files ? S_ISREG(info.st_mode) : !S_ISDIR(info.st_mode);
}

} // namespace

HeldFolder::HeldFolder(const QString& path)
    : fd_(path.isEmpty() ? -1 : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
}

HeldFolder::~HeldFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

HeldFolder::HeldFolder(HeldFolder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

HeldFolder& HeldFolder::operator=(HeldFolder&& other) noexcept
{
    std::swap(fd_, other.fd_);
    return *this;
}

std::optional<FileTime> HeldFolder::modificationTime(const QString& name) const
{
    struct statx info {};
    if (fd_ < 0 || name.isEmpty() || statx(fd_, QFile::encodeName(name).constData(), 0, STATX_MTIME, &info) != 0
        || !(info.stx_mask & STATX_MTIME))
        return std::nullopt;
    return FileTime{info.stx_mtime.tv_sec, int32_t(info.stx_mtime.tv_nsec)};
}

std::vector<std::optional<FileTime>> HeldFolder::modificationTimes(const QStringList& names) const
{
    std::vector<std::optional<FileTime>> times(size_t(names.size()));
    dispatchApply(times.size(), DiskLooks::PerSlice, DiskLooks::Helpers, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i)
            times[i] = modificationTime(names[qsizetype(i)]);
    });
    return times;
}

QStringList HeldFolder::names(Entries entries) const
{
    QStringList names;
    // A listing of its own: the folder's descriptor keeps no read position.
    const int listing = fd_ < 0 ? -1 : ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const dir = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.' && isWanted(::dirfd(dir), *entry, entries))
            names.append(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    return names;
}
