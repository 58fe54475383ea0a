#include "ZPEndOfCentralDirectory.h"

#include "ZPByteReader.h"
#include "ZPCentralFileHeader.h"

namespace {

std::optional<std::uint64_t> lastSignature(const ZPByteReader& reader)
{
    if (reader.size() < ZPEndOfCentralDirectory::fixedSize)
        return std::nullopt;
    const std::uint64_t last = reader.size() - ZPEndOfCentralDirectory::fixedSize;
    const std::uint64_t window = ZPEndOfCentralDirectory::fixedSize + ZPEndOfCentralDirectory::longestComment;
    const std::uint64_t first = reader.size() > window ? reader.size() - window : 0;
    for (std::uint64_t position = last + 1; position-- > first;) {
        if (reader.u32(position) == ZPEndOfCentralDirectory::signature)
            return position;
    }
    return std::nullopt;
}

} // namespace

std::optional<ZPEndOfCentralDirectory> ZPEndOfCentralDirectory::find(std::span<const std::byte> bytes)
{
    const ZPByteReader reader(bytes);
    const auto position = lastSignature(reader);
    if (!position)
        return std::nullopt;
    // The record lies wholly inside the archive: the search starts 22 bytes from the end.
    const std::uint16_t disk = *reader.u16(*position + 4);
    const std::uint16_t centralDisk = *reader.u16(*position + 6);
    const std::uint16_t entriesHere = *reader.u16(*position + 8);
    const std::uint16_t entries = *reader.u16(*position + 10);
    const std::uint32_t size = *reader.u32(*position + 12);
    const std::uint32_t offset = *reader.u32(*position + 16);
    const std::uint16_t commentLength = *reader.u16(*position + 20);
    // A writer that keeps ZIP64 records when it need not still fills these
    // fields, so only a placeholder sends the reader to them.
    const bool zip64Located = *position >= zip64LocatorSize
        && reader.u32(*position - zip64LocatorSize) == zip64LocatorSignature;
    if (zip64Located && (entries == 0xFFFF || entriesHere == 0xFFFF || size == 0xFFFFFFFF || offset == 0xFFFFFFFF))
        return ZPEndOfCentralDirectory{*position, entries, offset, true};
    const bool valid = disk == 0 && centralDisk == 0 && entriesHere == entries
        && std::uint64_t(offset) + std::uint64_t(ZPCentralFileHeader::fixedSize) * entries <= *position
        && *position + fixedSize + commentLength == reader.size();
    if (!valid)
        return std::nullopt;
    return ZPEndOfCentralDirectory{*position, entries, offset};
}
