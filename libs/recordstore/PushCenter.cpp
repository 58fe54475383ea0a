#include "PushCenter.h"

#include "Dispatch.h"

std::shared_ptr<PushCenter> PushCenter::shared()
{
    static const auto* const center = new std::shared_ptr<PushCenter>(create()); // cloud queues use it at exit
    return *center;
}

std::shared_ptr<PushCenter> PushCenter::create() { return std::shared_ptr<PushCenter>(new PushCenter()); }

void PushCenter::setDelegate(std::weak_ptr<PushCenterDelegate> delegate)
{
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<PushCenterDelegate> PushCenter::delegate() const
{
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void PushCenter::registerForRemoteNotifications()
{
    std::vector<std::shared_ptr<PushSource>> sources;
    {
        std::lock_guard lock(mutex_);
        if (registered_)
            return;
        registered_ = true;
        for (const auto& weak : sources_)
            if (auto source = weak.lock())
                sources.push_back(source);
    }
    for (const auto& source : sources)
        start(*source);
}

void PushCenter::unregisterForRemoteNotifications()
{
    std::vector<std::shared_ptr<PushSource>> sources;
    {
        std::lock_guard lock(mutex_);
        registered_ = false;
        for (const auto& weak : sources_)
            if (auto source = weak.lock())
                sources.push_back(source);
    }
    for (const auto& source : sources)
        source->stopPush(true);
}

bool PushCenter::isRegistered() const
{
    std::lock_guard lock(mutex_);
    return registered_;
}

void PushCenter::addSource(const std::shared_ptr<PushSource>& source)
{
    bool registered;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(sources_, [](const auto& weak) { return weak.expired(); });
        sources_.push_back(source);
        registered = registered_;
    }
    if (registered)
        start(*source);
}

void PushCenter::removeSource(const PushSource* source)
{
    std::lock_guard lock(mutex_);
    std::erase_if(sources_, [&](const auto& weak) {
        const auto locked = weak.lock();
        return !locked || locked.get() == source;
    });
}

void PushCenter::start(PushSource& source)
{
    const std::weak_ptr<PushCenter> weakSelf = weak_from_this();
    // Hands one delegate call to the main queue, if center and delegate still exist then.
    const auto onMain = [weakSelf](std::function<void(PushCenterDelegate&)> call) {
        DispatchQueue::main()->async([weakSelf, call = std::move(call)] {
            const auto self = weakSelf.lock();
            if (const auto delegate = self ? self->delegate() : nullptr)
                call(*delegate);
        });
    };
    source.startPush(
        [onMain](const QVariantMap& dictionary) {
            onMain([dictionary](PushCenterDelegate& delegate) { delegate.didReceive(dictionary); });
        },
        [onMain](const QByteArray& token, const Error& error) {
            if (error.isNull())
                onMain([token](PushCenterDelegate& delegate) { delegate.didRegister(token); });
            else
                onMain([error](PushCenterDelegate& delegate) { delegate.didFail(error); });
        });
}
