#include "ZPCentralFileHeader.h"

#include "ZPByteReader.h"

namespace {

enum HostSystem : std::uint8_t { MSDOS = 0, Unix = 3, WindowsNTFS = 10 };

std::uint16_t dosAttributesToMode(std::uint32_t attributes)
{
    constexpr std::uint32_t directoryOrVolume = 0x10 | 0x08;
    std::uint16_t mode = attributes & directoryOrVolume ? 040111 : 0100000;
    if (attributes & 0x01)
        mode |= 0200;
    return mode ^ 0644;
}

} // namespace

std::optional<ZPCentralFileHeader> ZPCentralFileHeader::at(std::span<const std::byte> bytes, std::uint64_t offset,
                                                           std::uint64_t limit)
{
    const ZPByteReader reader(bytes.first(static_cast<std::size_t>(std::min<std::uint64_t>(limit, bytes.size()))));
    const auto nameLength = reader.u16(offset + 28);
    const auto extraLength = reader.u16(offset + 30);
    const auto commentLength = reader.u16(offset + 32);
    if (!nameLength || !extraLength || !commentLength)
        return std::nullopt;
    const auto record = reader.bytes(offset, std::uint64_t(fixedSize) + *nameLength + *extraLength + *commentLength);
    if (!record)
        return std::nullopt;
    return ZPCentralFileHeader(*record);
}

#define ZP_FIELD(type, name, width, offset) \
    type ZPCentralFileHeader::name() const { return *ZPByteReader(m_record).width(offset); }
ZP_FIELD(std::uint8_t, hostSystem, u8, 5)
ZP_FIELD(std::uint16_t, versionNeeded, u16, 6)
ZP_FIELD(std::uint16_t, flags, u16, 8)
ZP_FIELD(std::uint16_t, compressionMethod, u16, 10)
ZP_FIELD(std::uint16_t, dosTime, u16, 12)
ZP_FIELD(std::uint16_t, dosDate, u16, 14)
ZP_FIELD(std::uint32_t, crc32, u32, 16)
ZP_FIELD(std::uint32_t, compressedSize, u32, 20)
ZP_FIELD(std::uint32_t, uncompressedSize, u32, 24)
ZP_FIELD(std::uint16_t, nameLength, u16, 28)
ZP_FIELD(std::uint16_t, extraLength, u16, 30)
ZP_FIELD(std::uint16_t, diskNumberStart, u16, 34)
ZP_FIELD(std::uint32_t, externalAttributes, u32, 38)
ZP_FIELD(std::uint32_t, localHeaderOffset, u32, 42)
#undef ZP_FIELD

std::span<const std::byte> ZPCentralFileHeader::name() const
{
    return m_record.subspan(fixedSize, nameLength());
}

std::span<const std::byte> ZPCentralFileHeader::extraField() const
{
    return m_record.subspan(fixedSize + nameLength(), extraLength());
}

std::uint16_t ZPCentralFileHeader::fileMode() const
{
    switch (hostSystem()) {
    case Unix:
        return static_cast<std::uint16_t>(externalAttributes() >> 16);
    case MSDOS:
    case WindowsNTFS:
        return dosAttributesToMode(externalAttributes());
    default:
        return 0;
    }
}
