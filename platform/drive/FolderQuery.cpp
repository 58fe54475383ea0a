#include "FolderQuery.h"

#include "DispatchApply.h"
#include "Folders.h"

#include <QDir>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Rewrites in place, moves, creation, removal, date changes (a modification
// date set alone reports as a modification), and the watched folder itself
// going away.
constexpr uint32_t WatchMask = IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE | IN_ATTRIB
                               | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;

std::vector<QString> subfolders(const QString& documents)
{
    std::vector<QString> folders;
    const QStringList names = QDir(documents).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& name : names)
        folders.push_back(QDir(documents).filePath(name));
    return folders;
}

// The entry named inside the folder open as at; none when it is no regular
// file. One that goes before it is looked at counts, without a date.
std::optional<DriveItem> itemAt(int at, const char* name, const QString& path)
{
    DriveItem item{path, std::nullopt, QStringLiteral("current"), QString(), QString()};
    struct stat info {};
    if (::fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        item.downloadingError = QStringLiteral("The file went away while it was read.");
        return item;
    }
    if (!S_ISREG(info.st_mode))
        return std::nullopt;
    item.changeDate = FileTime{int64_t(info.st_mtim.tv_sec), int32_t(info.st_mtim.tv_nsec)};
    // Both at once first: for nearly every file, one look says neither fails.
    if (::faccessat(at, name, R_OK | W_OK, AT_EACCESS) == 0)
        return item;
    if (::faccessat(at, name, R_OK, AT_EACCESS) != 0)
        item.downloadingError = QStringLiteral("The file cannot be read.");
    if (::faccessat(at, name, W_OK, AT_EACCESS) != 0)
        item.uploadingError = QStringLiteral("The file cannot be written.");
    return item;
}

// The looks at the entries go side by side: two system calls a file are
// most of a scan.
void listFolder(const QString& folder, std::vector<DriveItem>* items)
{
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return;
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN)
            names.emplace_back(entry->d_name);
    }
    std::vector<std::optional<DriveItem>> found(names.size());
    const int at = ::dirfd(dir);
    dispatchApply(names.size(), DiskLooks::PerSlice, DiskLooks::Helpers, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i)
            found[i] = itemAt(at, names[i].constData(), folder + QLatin1Char('/') + QFile::decodeName(names[i]));
    });
    ::closedir(dir);
    for (std::optional<DriveItem>& item : found) {
        if (item)
            items->push_back(std::move(*item));
    }
}

// Oldest change first; the path orders equal dates, so that a listing and
// the same files taken in one by one come out alike.
void sortByChange(std::vector<DriveItem>& items)
{
    std::sort(items.begin(), items.end(), [](const DriveItem& a, const DriveItem& b) {
        const FileTime first = a.changeDate.value_or(FileTime());
        const FileTime second = b.changeDate.value_or(FileTime());
        return first < second || (!(second < first) && a.path < b.path);
    });
}

} // namespace

std::shared_ptr<FolderQuery> FolderQuery::create(const QString& documents)
{
    return std::shared_ptr<FolderQuery>(new FolderQuery(documents));
}

FolderQuery::FolderQuery(const QString& documents)
    : documents_(documents), queue_(DispatchQueue::createSerial(Folders::queueLabel(QStringLiteral(".drivequery"))))
{
}

FolderQuery::~FolderQuery()
{
    stop();
}

void FolderQuery::setDidFinishGathering(Notification notification)
{
    std::lock_guard lock(mutex_);
    didFinishGathering_ = std::move(notification);
}

void FolderQuery::setDidUpdate(Notification notification)
{
    std::lock_guard lock(mutex_);
    didUpdate_ = std::move(notification);
}

void FolderQuery::setScanObserver(std::function<void()> observer)
{
    std::lock_guard lock(mutex_);
    scanObserver_ = std::move(observer);
}

bool FolderQuery::start()
{
    if (!QFileInfo(documents_).isDir())
        return false;
    {
        std::lock_guard lock(mutex_);
        if (started_)
            return true;
        started_ = true;
    }
    std::weak_ptr<FolderQuery> weak = weak_from_this();
    queue_->sync([this, weak] {
        inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify_ >= 0)
            events_ = std::make_unique<DispatchReadSource>(inotify_, queue_, [weak] {
                if (auto self = weak.lock())
                    self->readEvents();
            });
        rescan_ = std::make_unique<DispatchTimer>(queue_, [weak] {
            if (auto self = weak.lock())
                self->runScan(true);
        });
        rescan_->start(RescanInterval, RescanInterval);
    });
    queue_->async([weak] {
        if (auto self = weak.lock())
            self->runScan(true);
    });
    return true;
}

void FolderQuery::stop()
{
    {
        std::lock_guard lock(mutex_);
        if (!started_ || stopped_)
            return;
        stopped_ = true;
    }
    auto teardown = [this] {
        pendingScan_.cancel();
        if (rescan_)
            rescan_->cancel();
        rescan_.reset();
        if (events_)
            events_->cancel();
        events_.reset();
        if (inotify_ >= 0)
            ::close(inotify_);
        inotify_ = -1;
    };
    if (queue_->isCurrent())
        teardown();
    else
        queue_->sync(teardown);
}

bool FolderQuery::isStarted() const
{
    std::lock_guard lock(mutex_);
    return started_;
}

bool FolderQuery::isStopped() const
{
    std::lock_guard lock(mutex_);
    return stopped_;
}

void FolderQuery::disableUpdates()
{
    std::lock_guard lock(mutex_);
    ++disabled_;
}

void FolderQuery::enableUpdates()
{
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        disabled_ = std::max(0, disabled_ - 1);
        post = disabled_ == 0 && postDeferred_;
        if (post)
            postDeferred_ = false;
    }
    if (post)
        this->post(false);
}

std::vector<DriveItem> FolderQuery::results() const
{
    std::lock_guard lock(mutex_);
    return snapshot_;
}

std::vector<DriveItem> FolderQuery::scan(const QString& documents)
{
    std::vector<DriveItem> items;
    for (const QString& folder : subfolders(documents))
        listFolder(folder, &items);
    sortByChange(items);
    return items;
}

void FolderQuery::scheduleScan()
{
    // Each event moves the scan to a quiet spell after it, within a bound
    // from the first: a long run of changes is posted every few seconds, not
    // at every pause, as every post has its readers go over all the results.
    const double now = DispatchTime::now();
    if (pendingScan_.isValid() && !pendingScan_.isCancelled())
        pendingScan_.cancel();
    else
        burstStart_ = now;
    std::weak_ptr<FolderQuery> weak = weak_from_this();
    pendingScan_ = queue_->after(std::min(now + Debounce, burstStart_ + LongestWait) - now, [weak] {
        if (auto self = weak.lock())
            self->runScan(false);
    });
}

void FolderQuery::runScan(bool full)
{
    pendingScan_ = DispatchHandle();
    std::function<void()> observer;
    {
        std::lock_guard lock(mutex_);
        if (stopped_)
            return;
        observer = scanObserver_;
    }
    if (observer)
        observer();
    const bool gathering = !gathered_;
    std::vector<DriveItem> items = full || gathering || listAgain_ ? listAll() : takeInTouched();
    if (!gathering && items == lastScan_)
        return;
    gathered_ = true;
    lastScan_ = items;
    {
        std::lock_guard lock(mutex_);
        found_ = std::move(items);
        if (!gathering && disabled_ > 0) {
            postDeferred_ = true;
            return;
        }
    }
    post(gathering);
}

void FolderQuery::post(bool gathering)
{
    std::weak_ptr<FolderQuery> weak = weak_from_this();
    DispatchQueue::main()->async([weak, gathering] {
        auto self = weak.lock();
        if (!self)
            return;
        Notification notification;
        {
            std::lock_guard lock(self->mutex_);
            if (self->stopped_)
                return;
            self->snapshot_ = self->found_;
            notification = gathering ? self->didFinishGathering_ : self->didUpdate_;
        }
        if (notification)
            notification();
    });
}

std::vector<DriveItem> FolderQuery::listAll()
{
    watchFolders();
    std::vector<DriveItem> items = scan(documents_);
    known_.clear();
    known_.reserve(qsizetype(items.size()));
    for (const DriveItem& item : items)
        known_.insert(item.path, item);
    touched_.clear();
    listAgain_ = false;
    return items;
}

std::vector<DriveItem> FolderQuery::takeInTouched()
{
    for (const QString& path : std::as_const(touched_)) {
        const std::optional<DriveItem> item = itemAt(AT_FDCWD, QFile::encodeName(path).constData(), path);
        if (item && item->changeDate)
            known_.insert(path, *item);
        else
            known_.remove(path);
    }
    touched_.clear();
    std::vector<DriveItem> items;
    items.reserve(size_t(known_.size()));
    for (const DriveItem& item : std::as_const(known_))
        items.push_back(item);
    sortByChange(items);
    return items;
}

void FolderQuery::watchFolders()
{
    watched_.clear();
    if (inotify_ < 0)
        return;
    // The parent sees the documents folder itself removed, moved or recreated.
    for (const QString& folder : {QFileInfo(documents_).absolutePath(), documents_})
        ::inotify_add_watch(inotify_, QFile::encodeName(folder).constData(), WatchMask | IN_ONLYDIR);
    for (const QString& folder : subfolders(documents_)) {
        const int watch = ::inotify_add_watch(inotify_, QFile::encodeName(folder).constData(), WatchMask | IN_ONLYDIR);
        if (watch >= 0)
            watched_.insert(watch, folder);
    }
}

void FolderQuery::readEvents()
{
    alignas(inotify_event) char buffer[16384];
    bool changed = false;
    for (;;) {
        const ssize_t length = ::read(inotify_, buffer, sizeof buffer);
        if (length <= 0)
            break;
        changed = true;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            takeNote(*event);
        }
    }
    if (changed)
        scheduleScan();
}

// A file in a listed folder is looked at again on its own; anything else (a
// folder added, moved or gone, the documents folder itself, lost events)
// asks for a full listing.
void FolderQuery::takeNote(const inotify_event& event)
{
    const auto folder = watched_.constFind(event.wd);
    if (folder != watched_.cend() && event.len > 0 && !(event.mask & (IN_ISDIR | IN_Q_OVERFLOW)))
        touched_.insert(*folder + QLatin1Char('/') + QFile::decodeName(event.name));
    else
        listAgain_ = true;
}
