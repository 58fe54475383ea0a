#include "WalWatcher.h"

#include <QFileInfo>

#include <sys/inotify.h>
#include <unistd.h>

WalWatcher::WalWatcher(const QString& databasePath, DispatchQueuePtr queue, DispatchBlock changed)
    : changed_(std::move(changed))
{
    const QFileInfo info(databasePath);
    fileName_ = info.fileName().toUtf8();
    walName_ = fileName_ + "-wal";
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && inotify_add_watch(fd_, QFile::encodeName(info.absolutePath()).constData(),
                                      IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO) >= 0)
        source_ = std::make_unique<DispatchReadSource>(fd_, queue, [this] { readEvents(); });
    // Without inotify the poll alone carries push, only more slowly.
    timer_ = std::make_unique<DispatchTimer>(queue, [this] { changed_(); });
    timer_->start(PollInterval, PollInterval);
}

WalWatcher::~WalWatcher()
{
    timer_.reset();
    source_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

void WalWatcher::readEvents()
{
    alignas(inotify_event) char buffer[4096];
    bool relevant = false;
    ssize_t length;
    while ((length = ::read(fd_, buffer, sizeof buffer)) > 0) {
        for (char* at = buffer; at < buffer + length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            const QByteArray name(event->len ? event->name : "");
            relevant = relevant || name == walName_ || name == fileName_;
            at += sizeof(inotify_event) + event->len;
        }
    }
    if (relevant)
        changed_();
}
