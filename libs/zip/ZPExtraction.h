#pragma once

#include "ZPArchive.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// Writes an archive's entries below a folder and never outside it. Every entry
// is checked before any of its bytes are written; one that fails is refused
// with the reason, leaves no partial file, and the others go on.
namespace ZPExtraction {

inline const char* const domain = "net.brindlewick.notes.zip.extraction";

enum Code {
    NameOutsideTarget = 1,
    Overlapping = 2,
    SizeNotBacked = 3,
    OverLimit = 4,
    LinkOutsideTarget = 5,
};

struct Refusal {
    qsizetype index = 0;
    QString name;
    Error error;
};

struct Result {
    QList<Refusal> refusals;
    // The declared sizes of the entries written, which bound what was written.
    std::uint64_t written = 0;
};

struct Options {
    QString password;
    // The most the entries may declare in all; an entry that would pass it is
    // refused before writing. None: the free space of the target's file system
    // when extraction starts.
    std::optional<std::uint64_t> limit;
};

// The entry's bytes, decrypted, inflated and verified, written to the
// descriptor; false with the error on the first failure.
bool writeEntryData(const ZPOldArchiveEntry& entry, const QString& password, int descriptor, Error* error = nullptr);

// The target folder is made when missing (its parent must exist). Nothing,
// with a POSIX error, when it cannot be opened. Files take the entry's
// permission bits masked by the umask, never setuid, setgid or world-writable;
// a symbolic link entry becomes a link only when it points inside the target.
std::optional<Result> extract(const ZPArchive::Entries& entries, const QString& target, const Options& options = {},
                              Error* error = nullptr);

} // namespace ZPExtraction
