#pragma once

#include "Error.h"

#include <cstdint>
#include <optional>

// The zip library's errors: one domain, the codes below, and user info holding
// the underlying error and the entry's index where they apply.
namespace ZPError {

inline const char* const domain = "net.brindlewick.notes.zip";
inline const char* const entryIndexKey = "ZPEntryIndexKey";

enum Code {
    ReadFailed = 0,
    EndOfCentralDirectoryInvalid = 1,
    CentralFileHeaderInvalid = 2,
    LocalFileHeaderInvalid = 3,
    TemporaryChannelFailed = 4,
    LocalFileWriteFailed = 5,
    CentralFileHeaderWriteFailed = 6,
    EndOfCentralDirectoryWriteFailed = 7,
    ReplaceFailed = 8,
    UnsupportedCompression = 9,
    UnsupportedEncryption = 10,
    EntryDataCorrupt = 11,
    WrongPassword = 12,
};

Error make(Code code, const std::optional<Error>& underlying = std::nullopt,
           std::optional<std::uint32_t> entryIndex = std::nullopt);

} // namespace ZPError
