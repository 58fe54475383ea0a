#pragma once

#include <QList>
#include <QSet>

#include <cstdint>
#include <mutex>

// A set of logging contexts, safe to use from any thread.
class VGLoggingContextSet {
public:
    void addToSet(int32_t context);
    void removeFromSet(int32_t context);
    // A snapshot, in no particular order.
    QList<int32_t> currentSet() const;
    bool isInSet(int32_t context) const;

private:
    mutable std::mutex mutex_;
    QSet<int32_t> set_;
};
