#include "VGLoggingContextSet.h"

void VGLoggingContextSet::addToSet(int32_t context)
{
    std::lock_guard lock(mutex_);
    set_.insert(context);
}

void VGLoggingContextSet::removeFromSet(int32_t context)
{
    std::lock_guard lock(mutex_);
    set_.remove(context);
}

QList<int32_t> VGLoggingContextSet::currentSet() const
{
    std::lock_guard lock(mutex_);
    return set_.values();
}

bool VGLoggingContextSet::isInSet(int32_t context) const
{
    std::lock_guard lock(mutex_);
    return set_.contains(context);
}
