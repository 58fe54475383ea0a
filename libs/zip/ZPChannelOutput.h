#pragma once

#include "Error.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// Where a channel's archive is written: a position and writes, seeks and
// truncations at it. Offsets are 32-bit, as in the archive's records.
class ZPChannelOutput {
public:
    // Archives end below 4 GiB: their offsets are 32-bit.
    static constexpr std::uint64_t sizeLimit = 0xFFFFFFFF;

    virtual ~ZPChannelOutput() = default;

    virtual std::uint32_t offset() = 0;
    virtual bool seekToOffset(std::uint32_t offset, Error* error = nullptr) = 0;
    // Writes every byte at the position and moves past them.
    virtual bool writeData(std::span<const std::byte> data, Error* error = nullptr) = 0;
    // Sets the length of the storage; the position stays.
    virtual bool truncateAtOffset(std::uint32_t length, Error* error = nullptr) = 0;
    // Releases the output; false when bytes still held back could not be written.
    virtual bool close(Error* error = nullptr) = 0;
    // Makes room for a storage of that length before it is written, so a lack
    // of space shows before any old byte is overwritten.
    virtual bool reserve(std::uint32_t length, Error* error = nullptr);

    // Where the next write lands in an archive whose first initialSkip bytes
    // are not written through this output; a file-too-large error past 4 GiB.
    std::optional<std::uint32_t> landingOffset(std::uint32_t initialSkip, Error* error = nullptr);

protected:
    // False with a file-too-large error when a write would pass the size limit.
    static bool fitsBelowLimit(std::uint64_t position, std::size_t length, Error* error);
};
