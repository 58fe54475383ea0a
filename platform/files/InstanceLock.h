#pragma once

#include "Error.h"

#include <QString>

// One process per store: an exclusive lock on a file in the given folder
// (normally the caches folder), held until release, destruction or process
// exit (the system drops it even after a crash). A second process, or a second
// lock in this process, is refused with a readable error.
class InstanceLock {
public:
    static constexpr const char* FileName = ".instance.lock";

    InstanceLock() = default;
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();

    // Creates the folder when missing.
    bool acquire(const QString& folder, Error* error = nullptr);
    bool isHeld() const { return fd_ >= 0; }
    void release();

private:
    int fd_ = -1;
};
