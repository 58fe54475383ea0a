#pragma once

#include <QString>

#include <cstdint>

// Creation and modification dates of a file in whole seconds since 1970.
// Linux cannot set a file's birth time, so the creation date is kept in an
// extended attribute of the file; reading falls back to the birth time and
// then to the modification time when the attribute is absent. A date that
// cannot be read is 0.
namespace FileDates {

inline constexpr const char* CreationDateAttribute = "user.net.brindlewick.creationdate";

int64_t creationDate(const QString& path);
bool setCreationDate(const QString& path, int64_t seconds);

int64_t modificationDate(const QString& path);
bool setModificationDate(const QString& path, int64_t seconds);

// Both dates of a regular file (links followed) with one look at it instead
// of one per date; false, both dates 0, when the path names no regular file.
bool regularFileDates(const QString& path, int64_t* created, int64_t* modified);

// The same for a file already open, without looking its path up again.
bool setCreationDate(int fd, int64_t seconds);
bool setModificationDate(int fd, int64_t seconds);

} // namespace FileDates
