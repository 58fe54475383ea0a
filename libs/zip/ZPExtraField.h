#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// The extra field area of a file header: a run of (id, size, data) fields.
namespace ZPExtraField {

inline constexpr std::uint16_t zip64ID = 0x0001;
inline constexpr std::uint16_t winZipAESID = 0x9901;

enum class Scan { Found, Absent, Malformed };

struct Result {
    Scan scan = Scan::Absent;
    std::span<const std::byte> data;
};

// The first field with the id; Malformed when a field before it, or any field
// of an area without it, runs past the end of the area.
Result find(std::span<const std::byte> area, std::uint16_t id);

} // namespace ZPExtraField

// The WinZip AES field: key strength, the entry's real compression method, and
// the vendor version (2 when the entry's CRC is left 0).
struct ZPWinZipAESExtraField {
    std::uint8_t strength = 0;
    std::uint16_t compressionMethod = 0;
    std::uint16_t vendorVersion = 0;

    // The field of the area, if any; nothing when the area or the field is malformed.
    static std::optional<ZPWinZipAESExtraField> in(std::span<const std::byte> area, bool* malformed = nullptr);

    // 8, 12 or 16 bytes for strengths 1 to 3; 0 for any other strength.
    std::uint32_t saltLength() const;
};
