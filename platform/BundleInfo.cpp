#include "BundleInfo.h"

// CMake defines these for this file alone, so a new revision recompiles one file.
#ifndef BUNDLE_SHORT_VERSION
#error "BUNDLE_SHORT_VERSION is set by the build"
#endif

namespace {

QString valueOrNull(const char* value)
{
    return *value ? QString::fromUtf8(value) : QString();
}

} // namespace

namespace BundleInfo {

QString shortVersion()
{
    return valueOrNull(BUNDLE_SHORT_VERSION);
}

QString buildNumber()
{
    return valueOrNull(BUNDLE_BUILD_NUMBER);
}

QString gitRevision()
{
    return valueOrNull(BUNDLE_GIT_REVISION);
}

} // namespace BundleInfo
