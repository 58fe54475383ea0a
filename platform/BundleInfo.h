#pragma once

#include <QString>

// What the build knows about itself, compiled in when the project is configured: the version shown to
// the user, the build number (commits on the branch) and the source revision. A value the build could
// not learn (no git checkout) is a null string.
namespace BundleInfo {

QString shortVersion();
QString buildNumber();
QString gitRevision();

} // namespace BundleInfo
