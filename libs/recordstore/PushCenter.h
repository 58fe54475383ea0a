#pragma once

#include "Error.h"
#include "PushSource.h"

#include <QByteArray>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <vector>

// What the application hears from the push center, always on the main queue.
class PushCenterDelegate {
public:
    virtual ~PushCenterDelegate() = default;
    virtual void didRegister(const QByteArray& /*deviceToken*/) {}
    virtual void didFail(const Error& /*error*/) {}
    virtual void didReceive(const QVariantMap& /*dictionary*/) {}
};

// Remote notifications of the process: every container opened with this center
// is a source, and once registered each delivers its pushes here.
class PushCenter : public std::enable_shared_from_this<PushCenter> {
public:
    static std::shared_ptr<PushCenter> shared();
    // A center of its own, for a second client in one process.
    static std::shared_ptr<PushCenter> create();

    void setDelegate(std::weak_ptr<PushCenterDelegate> delegate);
    void registerForRemoteNotifications();
    void unregisterForRemoteNotifications();
    bool isRegistered() const;

    // Containers add themselves when they open and remove themselves when they close.
    void addSource(const std::shared_ptr<PushSource>& source);
    void removeSource(const PushSource* source);

private:
    PushCenter() = default;
    void start(PushSource& source);
    std::shared_ptr<PushCenterDelegate> delegate() const;

    mutable std::mutex mutex_;
    bool registered_ = false;
    std::weak_ptr<PushCenterDelegate> delegate_;
    std::vector<std::weak_ptr<PushSource>> sources_;
};
