#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The end of central directory record, found and checked in the archive's bytes.
struct ZPEndOfCentralDirectory {
    static constexpr std::uint32_t fixedSize = 22;
    static constexpr std::uint32_t signature = 0x06054b50;
    static constexpr std::uint32_t longestComment = 0xFFFF;

    static constexpr std::uint32_t zip64LocatorSignature = 0x07064b50;
    static constexpr std::uint32_t zip64LocatorSize = 20;

    std::uint64_t position = 0;
    std::uint16_t entryCount = 0;
    std::uint32_t centralDirectoryOffset = 0;
    // Its count, size or offset is a placeholder for one in the ZIP64 record
    // before it, which is not read: the fields here are not the archive's.
    bool deferredToZip64 = false;

    // The record whose signature lies nearest the end, if it passes every test
    // or defers to a ZIP64 record; no earlier signature is tried.
    static std::optional<ZPEndOfCentralDirectory> find(std::span<const std::byte> bytes);
};
