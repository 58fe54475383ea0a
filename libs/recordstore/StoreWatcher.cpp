#include "StoreWatcher.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

QString StoreWatcher::signalPath(const QString& databasePath) { return databasePath + QStringLiteral("-push"); }

void StoreWatcher::signalChange(const QString& databasePath)
{
    // Closing a file opened for writing is the event; nothing needs writing.
    const int fd = ::open(QFile::encodeName(signalPath(databasePath)).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
}

StoreWatcher::StoreWatcher(const QString& databasePath, DispatchQueuePtr queue, DispatchBlock changed)
    : changed_(std::move(changed))
{
    const QFileInfo info(signalPath(databasePath));
    signalName_ = QFile::encodeName(info.fileName());
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && inotify_add_watch(fd_, QFile::encodeName(info.absolutePath()).constData(), IN_CLOSE_WRITE) >= 0)
        source_ = std::make_unique<DispatchReadSource>(fd_, queue, [this] { readEvents(); });
    // Without inotify the poll alone carries push, only more slowly.
    timer_ = std::make_unique<DispatchTimer>(queue, [this] { changed_(); });
    timer_->start(PollInterval, PollInterval);
}

StoreWatcher::~StoreWatcher()
{
    timer_.reset();
    source_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

void StoreWatcher::readEvents()
{
    alignas(inotify_event) char buffer[4096];
    bool signalled = false;
    ssize_t length;
    while ((length = ::read(fd_, buffer, sizeof buffer)) > 0) {
        for (char* at = buffer; at < buffer + length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            signalled = signalled || (event->len && QByteArray(event->name) == signalName_);
            at += sizeof(inotify_event) + event->len;
        }
    }
    if (signalled)
        changed_();
}
