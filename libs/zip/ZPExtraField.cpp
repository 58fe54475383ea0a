#include "ZPExtraField.h"

#include "ZPByteReader.h"

namespace ZPExtraField {

Result find(std::span<const std::byte> area, std::uint16_t id)
{
    const ZPByteReader reader(area);
    std::uint64_t position = 0;
    while (position < reader.size()) {
        const auto fieldID = reader.u16(position);
        const auto size = reader.u16(position + 2);
        if (!fieldID || !size)
            return {Scan::Malformed, {}};
        const auto data = reader.bytes(position + 4, *size);
        if (!data)
            return {Scan::Malformed, {}};
        if (*fieldID == id)
            return {Scan::Found, *data};
        position += 4 + *size;
    }
    return {Scan::Absent, {}};
}

} // namespace ZPExtraField

std::optional<ZPWinZipAESExtraField> ZPWinZipAESExtraField::in(std::span<const std::byte> area, bool* malformed)
{
    const ZPExtraField::Result field = ZPExtraField::find(area, ZPExtraField::winZipAESID);
    const ZPByteReader reader(field.data);
    const bool tooShort = field.scan == ZPExtraField::Scan::Found && !reader.contains(0, 7);
    if (malformed)
        *malformed = field.scan == ZPExtraField::Scan::Malformed || tooShort;
    if (field.scan != ZPExtraField::Scan::Found || tooShort)
        return std::nullopt;
    // Bytes 2-3 are the vendor id, which nothing depends on.
    return ZPWinZipAESExtraField{*reader.u8(4), *reader.u16(5), *reader.u16(0)};
}

std::uint32_t ZPWinZipAESExtraField::saltLength() const
{
    return strength >= 1 && strength <= 3 ? 4 + 4 * strength : 0;
}
