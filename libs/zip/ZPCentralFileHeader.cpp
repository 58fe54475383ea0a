#include "ZPCentralFileHeader.h"

#include <algorithm>

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
    const auto record = extent(bytes.first(static_cast<std::size_t>(std::min<std::uint64_t>(limit, bytes.size()))),
                               offset, fixedSize, {28, 30, 32});
    if (!record)
        return std::nullopt;
    return ZPCentralFileHeader(*record);
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
