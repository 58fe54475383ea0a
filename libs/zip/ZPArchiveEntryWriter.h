#pragma once

#include "Error.h"
#include "ZPChannelOutput.h"

#include <cstdint>

// Writes one entry of an archive being rebuilt: its local record, then later
// its central record, which names where the local record went.
class ZPArchiveEntryWriter {
public:
    virtual ~ZPArchiveEntryWriter() = default;

    // Where the entry's local record ends in the old archive when it is kept
    // there unwritten; 0 when the writer writes it.
    virtual std::uint32_t offsetToLocalFileEnd() const = 0;
    // The output's offset plus the initial skip is where the record lands.
    virtual bool writeLocalFile(ZPChannelOutput& output, std::uint32_t initialSkip, Error* error = nullptr) = 0;
    virtual bool writeCentralFileHeader(ZPChannelOutput& output, Error* error = nullptr) = 0;
};
