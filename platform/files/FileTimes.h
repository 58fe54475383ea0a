#pragma once

#include <QDateTime>
#include <QString>

#include <compare>
#include <cstdint>
#include <optional>

// A file time to the nanosecond. Link files and drive documents are compared
// at this precision: cut to seconds or milliseconds, a document would look
// newer than the link written from its own date and be taken in again.
struct FileTime {
    int64_t seconds = 0;     // since 1970
    int32_t nanoseconds = 0; // 0 to 999,999,999

    static FileTime fromSeconds(double seconds);
    static FileTime fromWholeSeconds(int64_t seconds) { return {seconds, 0}; }
    static FileTime fromDateTime(const QDateTime& date);
    // Milliseconds are all a date keeps; the rest is cut toward the past.
    QDateTime toDateTime() const;
    // The wall clock of Clock::nowPrecise().
    static FileTime now();

    friend auto operator<=>(const FileTime&, const FileTime&) = default;
    friend bool operator==(const FileTime&, const FileTime&) = default;
};

namespace FileTimes {

// The modification time, or nothing when the file's attributes cannot be read
// (a missing file, a dangling link).
std::optional<FileTime> modificationTime(const QString& path);
// Leaves the access time alone.
bool setModificationTime(const QString& path, const FileTime& time);

} // namespace FileTimes
