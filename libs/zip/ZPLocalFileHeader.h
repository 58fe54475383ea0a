#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// A local file header (30 fixed bytes, then name and extra field) as a view of
// archive bytes that holds all of it; the file data follows.
class ZPLocalFileHeader {
public:
    static constexpr std::uint32_t fixedSize = 30;
    static constexpr std::uint32_t signature = 0x04034b50;

    static std::optional<ZPLocalFileHeader> at(std::span<const std::byte> bytes, std::uint64_t offset);

    std::uint32_t signatureField() const;
    std::uint16_t versionNeeded() const;
    std::uint16_t flags() const;
    std::uint16_t compressionMethod() const;
    std::uint16_t dosTime() const;
    std::uint16_t dosDate() const;
    std::uint32_t crc32() const;
    std::uint32_t compressedSize() const;
    std::uint32_t uncompressedSize() const;

    std::span<const std::byte> name() const;
    std::span<const std::byte> extraField() const;
    // Where the file data begins, counted from the start of the archive.
    std::uint64_t dataOffset() const { return m_offset + m_record.size(); }

private:
    ZPLocalFileHeader(std::span<const std::byte> record, std::uint64_t offset) : m_record(record), m_offset(offset) {}
    std::uint16_t nameLength() const;
    std::uint16_t extraLength() const;

    std::span<const std::byte> m_record;
    std::uint64_t m_offset = 0;
};
