#include "AtomicFile.h"

#include "Dispatch.h"
#include "FileDates.h"
#include "Posix.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <optional>
#include <utility>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

// The tests' hooks.
std::mutex hooksMutex;
std::function<int(const QString&)> faultCheck;
std::function<void(const QString&)> flushWatch;
// The folders of the holder collecting on this thread; none outside collect().
thread_local std::vector<QString>* collectedFolders = nullptr;
// The texts written ahead on this thread; none outside a holder.
thread_local Prepared* preparedTexts = nullptr;

int injectedFault(const QString& path)
{
    std::lock_guard lock(hooksMutex);
    return faultCheck ? faultCheck(path) : 0;
}

// A fresh name beside the target, hidden and not ending in ".txt" so that
// listings of notes pass over it. The folder is open (at) or named by path.
int createTemporary(int at, const QString& folder, mode_t mode, QByteArray* temporary)
{
    const QByteArray prefix = folder.isEmpty() ? QByteArray() : QFile::encodeName(folder) + '/';
    QByteArray name;
    const int fd = underFreshName(
        [&](const QByteArray& candidate) {
            return ::openat(at, (prefix + candidate).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        },
        &name);
    *temporary = prefix + name;
    return fd;
}

void tellFlushWatch(const QString& path)
{
    std::function<void(const QString&)> watch;
    {
        std::lock_guard lock(hooksMutex);
        watch = flushWatch;
    }
    if (watch)
        watch(path);
}

bool syncFolder(const QString& folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::fsync(fd);
    ::close(fd);
    return true;
}

// Runs work(0) .. work(count - 1) on the pool while meanwhile runs here, and
// returns once all are done: waits for the disk side by side share one
// commit of the file system and one flush of the disk's cache.
template <typename Work>
void sideBySide(size_t count, const Work& work, const std::function<void()>& meanwhile)
{
    const auto group = DispatchGroup::create();
    for (size_t i = 0; i < count; ++i)
        group->async(DispatchQueue::global(), [&work, i] { work(i); });
    meanwhile();
    group->wait();
}

void flushFolderOf(const QString& folder)
{
    if (syncFolder(folder))
        tellFlushWatch(folder);
}

void flushOrCollect(const QString& folder)
{
    if (!collectedFolders)
        flushFolderOf(folder);
    else if (std::find(collectedFolders->begin(), collectedFolders->end(), folder) == collectedFolders->end())
        collectedFolders->push_back(folder);
}

// A symbolic link is written through: its target gets the new bytes, and
// the link stays a link.
QString resolvedTarget(const QString& path)
{
    QString target = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo link(target);
        if (!link.isSymLink())
            break;
        target = link.symLinkTarget();
    }
    return target;
}

// Puts the finished temporary in place; when creating, only where no entry is.
int moveIntoPlace(int at, const char* temporary, const char* target, bool replace)
{
    if (replace)
        return ::renameat(at, temporary, at, target);
    if (::renameat2(at, temporary, at, target, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // A file system without the flag: a hard link fails on an existing name too.
    if (::linkat(at, temporary, at, target, 0) != 0)
        return -1;
    ::unlinkat(at, temporary, 0);
    return 0;
}

enum class Flush { None, File, FileAndFolder };

// Held while a guarded save checks its file and renames over it; 0 when
// the folder cannot be locked (then nothing is renamed).
class FolderLock {
public:
    explicit FolderLock(const QString& folder)
        : fd_(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                break;
            }
        }
        if (fd_ < 0)
            error_ = errno;
    }
    ~FolderLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    int error() const { return error_; }

private:
    int fd_;
    int error_ = 0;
};

// Notes take the user's umask; the caches, which hold the notes' text too,
// are the user's alone.
constexpr mode_t NoteMode = 0666;
constexpr mode_t CacheMode = 0600;

bool save(const QString& path, const QByteArray& data, Error* error, Flush flush, bool replace, mode_t newMode,
          const std::function<bool()>& unchanged = {})
{
    if (path.isEmpty()) {
        setError(error, posixError(EINVAL, QStringLiteral("Cannot save an unnamed file"), path));
        return false;
    }
    // Only a replacement writes through a link; a creation fails on any entry.
    // One look at the entry answers both unless it is a link.
    const QString absolute = QFileInfo(path).absoluteFilePath();
    struct stat old {};
    const bool entry = ::lstat(QFile::encodeName(absolute).constData(), &old) == 0;
    if (!replace && entry) {
        setError(error, posixError(EEXIST, QStringLiteral("Cannot create"), absolute));
        return false;
    }
    const bool link = entry && S_ISLNK(old.st_mode);
    const QFileInfo info(link ? resolvedTarget(absolute) : absolute);
    const QString target = info.absoluteFilePath();
    const QString folder = info.absolutePath();
    const QByteArray nativeTarget = QFile::encodeName(target);
    const bool hadFile = link ? ::stat(nativeTarget.constData(), &old) == 0 : entry;
    if (const int fault = injectedFault(target)) {
        setError(error, posixError(fault, QStringLiteral("Cannot write"), target));
        return false;
    }
    if (hadFile && S_ISDIR(old.st_mode)) {
        setError(error, posixError(EISDIR, QStringLiteral("Cannot save over the folder"), target));
        return false;
    }
    const mode_t mode = hadFile ? (old.st_mode & 07777) : newMode;
    const int64_t created = hadFile ? FileDates::creationDate(target) : 0;

    // A text written ahead is on disk already; a link's target was not known then.
    QByteArray temporary
        = flush != Flush::None && !link && preparedTexts ? preparedTexts->take(target, data) : QByteArray();
    const auto fail = [&](int code, const QString& what) {
        ::unlink(temporary.constData());
        setError(error, posixError(code, what, target));
        return false;
    };
    if (temporary.isEmpty()) {
        const int fd = createTemporary(AT_FDCWD, folder, mode, &temporary);
        if (fd < 0) {
            setError(error, posixError(errno, QStringLiteral("Cannot create a temporary file for"), target));
            return false;
        }
        // The umask narrowed the new file's permissions; the old file's stand.
        if (hadFile)
            ::fchmod(fd, mode);
        if (!writeAll(fd, data) || (flush != Flush::None && ::fsync(fd) != 0)) {
            const int code = errno;
            ::close(fd);
            return fail(code, QStringLiteral("Cannot write"));
        }
        if (::close(fd) != 0)
            return fail(errno, QStringLiteral("Cannot write"));
    } else if (hadFile) {
        ::chmod(temporary.constData(), mode);
    }
    // Renaming replaces the file with a new one: carry its creation date over.
    if (hadFile)
        FileDates::setCreationDate(QFile::decodeName(temporary), created);
    std::optional<FolderLock> lock;
    if (unchanged) {
        lock.emplace(folder);
        if (lock->error() != 0)
            return fail(lock->error(), QStringLiteral("Cannot lock the folder of"));
        if (!unchanged())
            return fail(ESTALE, QStringLiteral("Changed since it was read:"));
    }
    if (moveIntoPlace(AT_FDCWD, temporary.constData(), nativeTarget.constData(), replace) != 0)
        return fail(errno, replace ? QStringLiteral("Cannot replace") : QStringLiteral("Cannot create"));
    lock.reset();
    if (flush == Flush::FileAndFolder)
        flushOrCollect(folder);
    return true;
}

} // namespace

FolderFlushes::~FolderFlushes()
{
    flush();
}

void FolderFlushes::collect(const std::function<void()>& work)
{
    struct Restore {
        std::vector<QString>* outer;
        ~Restore() { collectedFolders = outer; }
    } restore{std::exchange(collectedFolders, &folders_)};
    work();
}

void FolderFlushes::flush()
{
    for (const QString& folder : std::exchange(folders_, {}))
        flushFolderOf(folder);
}

void FolderFlushes::flushWhile(const std::function<void()>& meanwhile)
{
    const std::vector<QString> folders = std::exchange(folders_, {});
    std::vector<char> synced(folders.size(), false);
    sideBySide(folders.size(), [&](size_t i) { synced[i] = syncFolder(folders[i]); }, meanwhile);
    for (size_t i = 0; i < folders.size(); ++i) {
        if (synced[i])
            tellFlushWatch(folders[i]);
    }
}

Prepared::Prepared()
    : outer_(std::exchange(preparedTexts, this))
{
}

Prepared::~Prepared()
{
    preparedTexts = outer_;
    for (const Entry& entry : entries_) {
        if (entry.fd >= 0)
            ::close(entry.fd);
        if (!entry.temporary.isEmpty())
            ::unlink(entry.temporary.constData());
    }
}

void Prepared::prepare(const QString& path, const QByteArray& data)
{
    const QFileInfo info(path);
    if (path.isEmpty() || injectedFault(info.absoluteFilePath()) != 0)
        return;
    Entry entry{info.absoluteFilePath(), {}, data};
    entry.fd = createTemporary(AT_FDCWD, info.absolutePath(), NoteMode, &entry.temporary);
    if (entry.fd < 0)
        return;
    // Started now, every text is written by the time the first wait for one
    // ends, and that wait's commit carries them all: the next waits are short.
    if (!writeAll(entry.fd, data) || ::sync_file_range(entry.fd, 0, 0, SYNC_FILE_RANGE_WRITE) != 0) {
        ::close(entry.fd);
        ::unlink(entry.temporary.constData());
        return;
    }
    entries_.push_back(std::move(entry));
}

void Prepared::makeDurable(const std::function<void()>& meanwhile)
{
    // One after another, each wait would be for a flush of its own.
    std::vector<Entry*> open;
    for (Entry& entry : entries_) {
        if (entry.fd >= 0)
            open.push_back(&entry);
    }
    const auto flush = [&open](size_t i) { open[i]->durable = ::fsync(open[i]->fd) == 0; };
    if (meanwhile)
        sideBySide(open.size(), flush, meanwhile);
    else if (!open.empty())
        sideBySide(open.size() - 1, [&flush](size_t i) { flush(i + 1); }, [&flush] { flush(0); });
    for (Entry* entry : open) {
        entry->durable = ::close(std::exchange(entry->fd, -1)) == 0 && entry->durable;
        if (entry->durable)
            tellFlushWatch(QFile::decodeName(entry->temporary));
    }
}

QByteArray Prepared::take(const QString& target, const QByteArray& data)
{
    for (Entry& entry : entries_) {
        if (entry.durable && entry.target == target && entry.data == data) {
            entry.durable = false;
            return std::exchange(entry.temporary, {});
        }
    }
    return {};
}

void setFaultCheck(std::function<int(const QString& path)> check)
{
    std::lock_guard lock(hooksMutex);
    faultCheck = std::move(check);
}

void setFlushWatch(std::function<void(const QString& folder)> watch)
{
    std::lock_guard lock(hooksMutex);
    flushWatch = std::move(watch);
}

bool write(const QString& path, const QByteArray& data, Error* error, bool flushFolder)
{
    return save(path, data, error, flushFolder ? Flush::FileAndFolder : Flush::File, true, NoteMode);
}

bool writeIfUnchanged(const QString& path, const QByteArray& data, const std::function<bool()>& unchanged,
                      Error* error)
{
    return save(path, data, error, Flush::FileAndFolder, true, NoteMode, unchanged);
}

bool create(const QString& path, const QByteArray& data, Error* error, bool flushFolder)
{
    return save(path, data, error, flushFolder ? Flush::FileAndFolder : Flush::File, false, NoteMode);
}

bool writeCache(const QString& path, const QByteArray& data, Error* error)
{
    return save(path, data, error, Flush::None, true, CacheMode);
}

bool holds(const QString& path, const QByteArray& data)
{
    if (path.isEmpty() || injectedFault(path) != 0)
        return false;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool same = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == data.size();
    // One byte more than expected is read, so a file that grew meanwhile differs.
    QByteArray read(same ? data.size() + 1 : 0, Qt::Uninitialized);
    qsizetype filled = 0;
    while (same && filled < read.size()) {
        const ssize_t n = ::read(fd, read.data() + filled, size_t(read.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        same = n >= 0;
        if (n <= 0)
            break;
        filled += n;
    }
    ::close(fd);
    return same && filled == data.size() && std::memcmp(read.constData(), data.constData(), size_t(filled)) == 0;
}

namespace {

// Made under its own name: no other writer can have taken the name, and a
// reader that meets the file before its bytes takes it for missing, as after
// a crash.
int createCacheNamed(int at, const QByteArray& name, const QString& path, const QByteArray& data)
{
    if (const int fault = injectedFault(path))
        return fault;
    const int fd = ::openat(at, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, CacheMode);
    if (fd < 0)
        return errno;
    const bool written = writeAll(fd, data);
    int code = written ? 0 : errno;
    if (::close(fd) != 0 && code == 0)
        code = errno;
    if (code != 0)
        ::unlinkat(at, name.constData(), 0);
    return code;
}

} // namespace

int createCacheAt(int folder, const QString& path, const QByteArray& data)
{
    if (folder < 0 || path.isEmpty())
        return EINVAL;
    return createCacheNamed(folder, QFile::encodeName(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1)), path, data);
}

int createCache(const QString& path, const QByteArray& data)
{
    return path.isEmpty() ? EINVAL : createCacheNamed(AT_FDCWD, QFile::encodeName(path), path, data);
}

} // namespace AtomicFile
