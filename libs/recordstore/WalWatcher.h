#pragma once

#include "Dispatch.h"

#include <QString>

#include <memory>

// Calls back on a queue when a SQLite file or its write-ahead log changes
// (inotify on the folder), and every two seconds of the dispatch clock in case
// a change went unseen (another machine's write over a shared file system, a
// lost event).
class WalWatcher {
public:
    static constexpr double PollInterval = 2.0;

    WalWatcher(const QString& databasePath, DispatchQueuePtr queue, DispatchBlock changed);
    ~WalWatcher();
    WalWatcher(const WalWatcher&) = delete;
    WalWatcher& operator=(const WalWatcher&) = delete;

private:
    void readEvents();

    int fd_ = -1;
    QByteArray fileName_;
    QByteArray walName_;
    DispatchBlock changed_;
    std::unique_ptr<DispatchReadSource> source_;
    std::unique_ptr<DispatchTimer> timer_;
};
