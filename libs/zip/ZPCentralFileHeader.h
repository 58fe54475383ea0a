#pragma once

#include "ZPExtraField.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// A central directory record (46 fixed bytes, then name, extra field and
// comment) as a view of archive bytes that holds all of it.
class ZPCentralFileHeader {
public:
    static constexpr std::uint32_t fixedSize = 46;
    static constexpr std::uint32_t signature = 0x02014b50;

    // The record at offset, if it ends at or before limit.
    static std::optional<ZPCentralFileHeader> at(std::span<const std::byte> bytes, std::uint64_t offset,
                                                 std::uint64_t limit);

    std::uint8_t hostSystem() const;
    std::uint16_t versionNeeded() const;
    std::uint16_t flags() const;
    std::uint16_t compressionMethod() const;
    std::uint16_t dosTime() const;
    std::uint16_t dosDate() const;
    std::uint32_t crc32() const;
    std::uint32_t compressedSize() const;
    std::uint32_t uncompressedSize() const;
    std::uint16_t diskNumberStart() const;
    std::uint32_t externalAttributes() const;
    std::uint32_t localHeaderOffset() const;

    std::span<const std::byte> name() const;
    std::span<const std::byte> extraField() const;
    std::span<const std::byte> record() const { return m_record; }

    // The Unix file mode the host system's external attributes stand for.
    std::uint16_t fileMode() const;

private:
    explicit ZPCentralFileHeader(std::span<const std::byte> record) : m_record(record) {}
    std::uint16_t nameLength() const;
    std::uint16_t extraLength() const;

    std::span<const std::byte> m_record;
};
