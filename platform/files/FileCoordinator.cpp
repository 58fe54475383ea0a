#include "FileCoordinator.h"

#include <QDir>
#include <QHash>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

struct Holder {
    std::thread::id thread;
    int depth = 0;
};

std::mutex lock;
std::condition_variable released;
QHash<QString, Holder> holders;

// The working folder is asked for only when the path is relative: a call
// per look-up otherwise, on every read of a note.
QString key(const QString& path)
{
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

bool available(const QStringList& paths)
{
    for (const QString& path : paths) {
        const auto found = holders.constFind(path);
        if (found != holders.constEnd() && found->thread != std::this_thread::get_id())
            return false;
    }
    return true;
}

} // namespace

FileCoordinator::Access FileCoordinator::coordinate(const QString& path) { return coordinate(path, path); }

FileCoordinator::Access FileCoordinator::coordinate(const QString& first, const QString& second)
{
    QStringList paths{key(first)};
    if (second != first) {
        const QString other = key(second);
        if (other != paths.first())
            paths.append(other);
    }
    std::unique_lock guard(lock);
    released.wait(guard, [&] { return available(paths); });
    for (const QString& path : paths) {
        Holder& holder = holders[path];
        holder.thread = std::this_thread::get_id();
        ++holder.depth;
    }
    return Access(std::move(paths));
}

FileCoordinator::Access::Access(Access&& other) noexcept : paths_(std::exchange(other.paths_, {})) {}

FileCoordinator::Access& FileCoordinator::Access::operator=(Access&& other) noexcept
{
    if (this != &other) {
        release();
        paths_ = std::exchange(other.paths_, {});
    }
    return *this;
}

FileCoordinator::Access::~Access() { release(); }

void FileCoordinator::Access::release()
{
    if (paths_.isEmpty())
        return;
    {
        std::lock_guard guard(lock);
        for (const QString& path : std::as_const(paths_)) {
            const auto found = holders.find(path);
            if (--found->depth == 0)
                holders.erase(found);
        }
    }
    paths_.clear();
    released.notify_all();
}
