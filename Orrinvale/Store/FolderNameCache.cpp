#include "FolderNameCache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr uint32_t WatchedEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Folders are keyed by their clean absolute path.
QString folderKey(const QString& folder)
{
    return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

} // namespace

FolderNameCache::FolderNameCache() : events_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

FolderNameCache::~FolderNameCache()
{
    if (events_ >= 0)
        ::close(events_);
}

FolderNameCache& FolderNameCache::shared()
{
    // Never destroyed: a queue may still name a note while the process exits.
    static auto* const cache = new FolderNameCache;
    return *cache;
}

QString FolderNameCache::folded(const QString& name)
{
    bool ascii = true;
    for (const QChar c : name)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii)
        return name.toLower();
    // Most names are composed already, which the composed form checks quickly.
    return name.toCaseFolded().normalized(QString::NormalizationForm_C);
}

void FolderNameCache::add(Names& names, const QString& spelling)
{
    QStringList& spellings = names[folded(spelling)];
    if (!spellings.contains(spelling))
        spellings.append(spelling);
}

void FolderNameCache::remove(Names& names, const QString& spelling)
{
    const auto found = names.find(folded(spelling));
    if (found == names.end())
        return;
    found->removeAll(spelling);
    if (found->isEmpty())
        names.erase(found);
}

// A folder that cannot be listed has no names; creates are exclusive.
void FolderNameCache::list(const QString& folder, Names& names)
{
    names.clear();
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return;
    names.reserve(1024);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        add(names, QFile::decodeName(name));
    }
    ::closedir(dir);
}

void FolderNameCache::forgetAll()
{
    for (const Folder& folder : std::as_const(folders_)) {
        if (folder.watch >= 0)
            ::inotify_rm_watch(events_, folder.watch);
    }
    folders_.clear();
    watched_.clear();
}

bool FolderNameCache::applyEvents()
{
    alignas(inotify_event) char buffer[64 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
        const ssize_t length = ::read(events_, buffer, sizeof buffer);
        if (length <= 0)
            return length == 0 || errno == EAGAIN;
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW)
                return false;
            const auto folder = folders_.find(watched_.value(event->wd));
            if (folder == folders_.end() || folder->watch != event->wd)
                continue;
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                // The folder itself went: the next question lists afresh.
                ::inotify_rm_watch(events_, event->wd);
                watched_.remove(event->wd);
                folders_.erase(folder);
            } else if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                add(folder->names, QFile::decodeName(event->name));
            } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                remove(folder->names, QFile::decodeName(event->name));
            }
        }
    }
}

FolderNameCache::Names& FolderNameCache::current(const QString& folder)
{
    if (!applyEvents())
        forgetAll();
    const auto cached = folders_.find(folder);
    if (cached != folders_.end() && cached->watch >= 0)
        return cached->names;
    Folder& entry = folders_[folder];
    // Watched before the listing, so that no change falls between the two;
    // an event for a name already listed changes nothing.
    entry.watch = events_ >= 0 ? ::inotify_add_watch(events_, QFile::encodeName(folder).constData(), WatchedEvents)
                               : -1;
    if (entry.watch >= 0)
        watched_.insert(entry.watch, folder);
    list(folder, entry.names);
    return entry.names;
}

void FolderNameCache::prepare(const QString& folder)
{
    const QString directory = folderKey(folder);
    std::lock_guard lock(mutex_);
    current(directory);
}

QString FolderNameCache::firstFree(const QString& folder, const std::function<QString(int)>& candidate)
{
    const QString directory = folderKey(folder);
    std::lock_guard lock(mutex_);
    const Names& names = current(directory);
    for (int n = 0;; ++n) {
        const QString name = candidate(n);
        if (name.isNull() || !names.contains(folded(name)))
            return name;
    }
}
