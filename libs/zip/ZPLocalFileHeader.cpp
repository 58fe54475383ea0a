#include "ZPLocalFileHeader.h"

#include "ZPByteReader.h"

std::optional<ZPLocalFileHeader> ZPLocalFileHeader::at(std::span<const std::byte> bytes, std::uint64_t offset)
{
    const ZPByteReader reader(bytes);
    const auto nameLength = reader.u16(offset + 26);
    const auto extraLength = reader.u16(offset + 28);
    if (!nameLength || !extraLength)
        return std::nullopt;
    const auto record = reader.bytes(offset, std::uint64_t(fixedSize) + *nameLength + *extraLength);
    if (!record)
        return std::nullopt;
    return ZPLocalFileHeader(*record, offset);
}

#define ZP_FIELD(type, name, width, offset) \
    type ZPLocalFileHeader::name() const { return *ZPByteReader(m_record).width(offset); }
ZP_FIELD(std::uint32_t, signatureField, u32, 0)
ZP_FIELD(std::uint16_t, versionNeeded, u16, 4)
ZP_FIELD(std::uint16_t, flags, u16, 6)
ZP_FIELD(std::uint16_t, compressionMethod, u16, 8)
ZP_FIELD(std::uint16_t, dosTime, u16, 10)
ZP_FIELD(std::uint16_t, dosDate, u16, 12)
ZP_FIELD(std::uint32_t, crc32, u32, 14)
ZP_FIELD(std::uint32_t, compressedSize, u32, 18)
ZP_FIELD(std::uint32_t, uncompressedSize, u32, 22)
ZP_FIELD(std::uint16_t, nameLength, u16, 26)
ZP_FIELD(std::uint16_t, extraLength, u16, 28)
#undef ZP_FIELD

std::span<const std::byte> ZPLocalFileHeader::name() const
{
    return m_record.subspan(fixedSize, nameLength());
}

std::span<const std::byte> ZPLocalFileHeader::extraField() const
{
    return m_record.subspan(fixedSize + nameLength(), extraLength());
}
