#pragma once

#include "ZPRecordView.h"

// A local file header: 30 fixed bytes, then name and extra field; the file data follows.
class ZPLocalFileHeader : public ZPRecordView {
public:
    static constexpr std::uint32_t fixedSize = 30;
    static constexpr std::uint32_t signature = 0x04034b50;
    // Opens the optional descriptor that follows the file data.
    static constexpr std::uint32_t dataDescriptorSignature = 0x08074b50;

    static std::optional<ZPLocalFileHeader> at(std::span<const std::byte> bytes, std::uint64_t offset)
    {
        const auto record = extent(bytes, offset, fixedSize, {26, 28});
        if (!record)
            return std::nullopt;
        return ZPLocalFileHeader(*record, offset);
    }

    std::uint32_t signatureField() const { return u32(0); }
    std::uint16_t versionNeeded() const { return u16(4); }
    std::uint16_t flags() const { return u16(6); }
    std::uint16_t compressionMethod() const { return u16(8); }
    std::uint16_t dosTime() const { return u16(10); }
    std::uint16_t dosDate() const { return u16(12); }
    std::uint32_t crc32() const { return u32(14); }
    std::uint32_t compressedSize() const { return u32(18); }
    std::uint32_t uncompressedSize() const { return u32(22); }
    std::span<const std::byte> name() const { return part(fixedSize, u16(26)); }
    std::span<const std::byte> extraField() const { return part(fixedSize + u16(26), u16(28)); }
    // Where the file data begins, counted from the start of the archive.
    std::uint64_t dataOffset() const { return m_offset + record().size(); }

private:
    ZPLocalFileHeader(std::span<const std::byte> record, std::uint64_t offset) : ZPRecordView(record), m_offset(offset) {}

    std::uint64_t m_offset = 0;
};
