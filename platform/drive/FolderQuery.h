#pragma once

#include "Dispatch.h"
#include "files/FileTimes.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct inotify_event;

// One document the folder query found.
struct DriveItem {
    QString path;
    std::optional<FileTime> changeDate;
    QString downloadingStatus; // "current"
    QString downloadingError;  // set when the file went between listing and reading it, or cannot be read
    QString uploadingError;    // set when this computer cannot write the file

    friend bool operator==(const DriveItem&, const DriveItem&) = default;
};

// Watches "<documents>/<folder>/<name>" for regular files (deeper levels and
// anything but regular files never count). Scans run on the query's own
// queue; the notifications run on the main queue, and the results a reader
// sees are the snapshot last posted, oldest change first. Changes are taken
// in after a short quiet spell (or a few seconds into a long run of them),
// each file an event names looked at on its own; a full rescan runs at
// start, when folders come or go, on an event overflow and every minute, as
// network folders send no events.
class FolderQuery : public std::enable_shared_from_this<FolderQuery> {
public:
    using Notification = std::function<void()>;

    static constexpr double Debounce = 0.3;
    // The longest a scan waits for the changes to stop.
    static constexpr double LongestWait = 3;
    static constexpr double RescanInterval = 60;

    static std::shared_ptr<FolderQuery> create(const QString& documents);
    ~FolderQuery();
    FolderQuery(const FolderQuery&) = delete;
    FolderQuery& operator=(const FolderQuery&) = delete;

    void setDidFinishGathering(Notification notification);
    void setDidUpdate(Notification notification);
    // Runs on the query's queue before each scan.
    void setScanObserver(std::function<void()> observer);

    // False when the folder is missing.
    bool start();
    void stop();
    bool isStarted() const;
    bool isStopped() const;

    // Counted; changes found meanwhile are posted once when the count is back to 0.
    void disableUpdates();
    void enableUpdates();

    std::vector<DriveItem> results() const;

    // Lists the folder as a scan does.
    static std::vector<DriveItem> scan(const QString& documents);

private:
    explicit FolderQuery(const QString& documents);
    void scheduleScan();
    // A full listing, or the files events named since the last scan.
    void runScan(bool full);
    std::vector<DriveItem> listAll();
    std::vector<DriveItem> takeInTouched();
    void readEvents();
    void takeNote(const inotify_event& event);
    void watchFolders();
    void post(bool gathering);

    QString documents_;
    DispatchQueuePtr queue_;
    // Queue only.
    int inotify_ = -1;
    std::unique_ptr<DispatchReadSource> events_;
    std::unique_ptr<DispatchTimer> rescan_;
    DispatchHandle pendingScan_;
    double burstStart_ = 0;
    bool gathered_ = false;
    std::vector<DriveItem> lastScan_;
    // What the scans found by path, the listed folders by watch, and the
    // paths events named since.
    QHash<QString, DriveItem> known_;
    QHash<int, QString> watched_;
    QSet<QString> touched_;
    bool listAgain_ = false;

    mutable std::mutex mutex_;
    bool started_ = false;
    bool stopped_ = false;
    int disabled_ = 0;
    bool postDeferred_ = false;
    std::vector<DriveItem> found_;
    std::vector<DriveItem> snapshot_;
    Notification didFinishGathering_;
    Notification didUpdate_;
    std::function<void()> scanObserver_;
};
