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

    std::uint64_t position = 0;
    std::uint16_t entryCount = 0;
    std::uint32_t centralDirectoryOffset = 0;

    // The record whose signature lies nearest the end, if it passes every test;
    // no earlier signature is tried.
    static std::optional<ZPEndOfCentralDirectory> find(std::span<const std::byte> bytes);
};
