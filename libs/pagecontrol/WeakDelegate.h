#pragma once

#include <QObject>
#include <QPointer>

// A delegate held weakly: the object must be a QObject, and once it is destroyed get() gives null.
template <typename Interface>
class WeakDelegate {
public:
    WeakDelegate() = default;
    // A delegate that is not a QObject cannot be watched and is not kept.
    WeakDelegate(Interface* delegate) : object_(dynamic_cast<QObject*>(delegate)), delegate_(object_ ? delegate : nullptr) {}

    Interface* get() const { return object_ ? delegate_ : nullptr; }
    Interface* operator->() const { return get(); }
    explicit operator bool() const { return get() != nullptr; }

private:
    QPointer<QObject> object_;
    Interface* delegate_ = nullptr;
};
