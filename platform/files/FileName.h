#pragma once

#include <QString>

// Names made from other names: a file system takes at most 255 bytes of UTF-8
// in one name, and a longer one fails every write.
namespace FileName {

constexpr qsizetype MaximumBytes = 255;

// The longest start of `part`, ending at a character boundary, that leaves
// `besideBytes` bytes (what the caller adds to it) within `limit`.
QString fitted(const QString& part, qsizetype besideBytes, qsizetype limit = MaximumBytes);

} // namespace FileName
