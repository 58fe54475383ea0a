#pragma once

#include "ZPByteReader.h"

#include <initializer_list>

// The bytes of one header record, checked once to lie inside the archive, so
// its fields are read without further tests.
class ZPRecordView {
public:
    std::span<const std::byte> record() const { return m_record; }

protected:
    explicit ZPRecordView(std::span<const std::byte> record) : m_record(record) {}

    // The record at offset: fixedSize bytes plus the lengths its 16-bit length
    // fields give, if all of it lies inside bytes.
    static std::optional<std::span<const std::byte>> extent(std::span<const std::byte> bytes, std::uint64_t offset,
                                                            std::uint32_t fixedSize,
                                                            std::initializer_list<std::uint32_t> lengthFields)
    {
        const ZPByteReader reader(bytes);
        std::uint64_t length = fixedSize;
        for (const std::uint32_t field : lengthFields) {
            const auto variable = reader.u16(offset + field);
            if (!variable)
                return std::nullopt;
            length += *variable;
        }
        return reader.bytes(offset, length);
    }

    std::uint8_t u8(std::size_t offset) const { return *ZPByteReader(m_record).u8(offset); }
    std::uint16_t u16(std::size_t offset) const { return *ZPByteReader(m_record).u16(offset); }
    std::uint32_t u32(std::size_t offset) const { return *ZPByteReader(m_record).u32(offset); }
    std::span<const std::byte> part(std::size_t offset, std::size_t length) const
    {
        return m_record.subspan(offset, length);
    }

private:
    std::span<const std::byte> m_record;
};
