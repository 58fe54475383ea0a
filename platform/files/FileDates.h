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

// One version of a file: writing it, replacing it or changing its attributes
// gives another (the status change time moves on, never back).
struct Version {
    uint64_t inode = 0;
    int64_t size = -1;
    int64_t modifiedSeconds = 0;
    int64_t modifiedNanoseconds = 0;
    int64_t changed = 0; // nanoseconds

    bool operator==(const Version&) const = default;
};

// The version of a regular file named inside an open folder, looked at with
// the statx flags given (links followed unless they say otherwise); an empty
// version (size -1) when the name is no regular file.
Version versionAt(int folder, const char* name, int flags = 0);
// Changed over a second ago: a later write in place gets another change time,
// where one within the file system's clock tick could keep this one.
bool isSettled(const Version& version);

// The version of an open folder; an empty version (size -1) when it is none.
// On a file system that keepsFolderChanges, every name that comes into the
// folder or leaves it gives another.
Version folderVersion(int folder);
// True on the local file systems that move a folder's change time with each
// of its names that comes or goes; network and user-space ones may not.
bool keepsFolderChanges(int folder);

// The modification date of a regular file named inside an open folder (links
// followed), with its version when asked: one look, no creation date. False,
// the date 0, when the name is no regular file.
bool regularFileModifiedAt(int folder, const char* name, int64_t* modified, Version* version = nullptr);

// The same for a file already open, without looking its path up again.
bool setCreationDate(int fd, int64_t seconds);
bool setModificationDate(int fd, int64_t seconds);

} // namespace FileDates
