#pragma once

#include "Error.h"

#include <QByteArray>
#include <QVariantMap>

#include <functional>

// A backend's side of push, driven by the PushCenter. Callbacks run on the
// source's queue.
class PushSource {
public:
    using Deliver = std::function<void(const QVariantMap& dictionary)>;
    using Registered = std::function<void(const QByteArray& deviceToken, const Error& error)>;

    virtual ~PushSource() = default;
    // Marks this client registered and delivers every push for it that others
    // cause, from now on. A client still registered from an earlier run first
    // catches up on what it missed; a new or unregistered one starts afresh.
    virtual void startPush(Deliver deliver, Registered registered) = 0;
    // Stops delivering; with unregister the client also stops collecting pushes.
    virtual void stopPush(bool unregister) = 0;
};
