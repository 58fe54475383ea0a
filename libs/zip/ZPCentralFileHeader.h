#pragma once

#include "ZPRecordView.h"

// A central directory record: 46 fixed bytes, then name, extra field and comment.
class ZPCentralFileHeader : public ZPRecordView {
public:
    static constexpr std::uint32_t fixedSize = 46;
    static constexpr std::uint32_t signature = 0x02014b50;

    // The record at offset, if it ends at or before limit.
    static std::optional<ZPCentralFileHeader> at(std::span<const std::byte> bytes, std::uint64_t offset,
                                                 std::uint64_t limit);

    std::uint8_t hostSystem() const { return u8(5); }
    std::uint16_t versionNeeded() const { return u16(6); }
    std::uint16_t flags() const { return u16(8); }
    std::uint16_t compressionMethod() const { return u16(10); }
    std::uint16_t dosTime() const { return u16(12); }
    std::uint16_t dosDate() const { return u16(14); }
    std::uint32_t crc32() const { return u32(16); }
    std::uint32_t compressedSize() const { return u32(20); }
    std::uint32_t uncompressedSize() const { return u32(24); }
    std::uint16_t diskNumberStart() const { return u16(34); }
    std::uint32_t externalAttributes() const { return u32(38); }
    std::uint32_t localHeaderOffset() const { return u32(42); }
    std::span<const std::byte> name() const { return part(fixedSize, u16(28)); }
    std::span<const std::byte> extraField() const { return part(fixedSize + u16(28), u16(30)); }

    // The Unix file mode the host system's external attributes stand for.
    std::uint16_t fileMode() const;

private:
    using ZPRecordView::ZPRecordView;
};
