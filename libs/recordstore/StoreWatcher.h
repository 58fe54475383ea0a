#pragma once

#include "Dispatch.h"

#include <QString>

#include <memory>

// Tells the clients of one store file that pushes were added. A writer calls
// signalChange() after its commit: the write-ahead log itself changes before
// the commit is visible to readers, so watching it would wake readers too
// early. Watchers hear the signal through inotify on the folder, and poll every
// two seconds of the dispatch clock for what they may miss (a shared file
// system, lost events).
class StoreWatcher {
public:
    static constexpr double PollInterval = 2.0;

    static void signalChange(const QString& databasePath);

    StoreWatcher(const QString& databasePath, DispatchQueuePtr queue, DispatchBlock changed);
    ~StoreWatcher();
    StoreWatcher(const StoreWatcher&) = delete;
    StoreWatcher& operator=(const StoreWatcher&) = delete;

private:
    static QString signalPath(const QString& databasePath);
    void readEvents();

    int fd_ = -1;
    QByteArray signalName_;
    DispatchBlock changed_;
    std::unique_ptr<DispatchReadSource> source_;
    std::unique_ptr<DispatchTimer> timer_;
};
