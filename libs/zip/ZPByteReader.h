#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// Little-endian fields out of untrusted bytes: every read names its offset and
// answers nothing when the field does not lie wholly inside the range.
class ZPByteReader {
public:
    explicit ZPByteReader(std::span<const std::byte> bytes) : m_bytes(bytes) {}

    std::uint64_t size() const { return m_bytes.size(); }

    bool contains(std::uint64_t offset, std::uint64_t length) const
    {
        return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
    }

    std::optional<std::span<const std::byte>> bytes(std::uint64_t offset, std::uint64_t length) const
    {
        if (!contains(offset, length))
            return std::nullopt;
        return m_bytes.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    }

    std::optional<std::uint8_t> u8(std::uint64_t offset) const { return read<std::uint8_t>(offset); }
    std::optional<std::uint16_t> u16(std::uint64_t offset) const { return read<std::uint16_t>(offset); }
    std::optional<std::uint32_t> u32(std::uint64_t offset) const { return read<std::uint32_t>(offset); }
    std::optional<std::uint64_t> u64(std::uint64_t offset) const { return read<std::uint64_t>(offset); }

private:
    template <typename T>
    std::optional<T> read(std::uint64_t offset) const
    {
        if (!contains(offset, sizeof(T)))
            return std::nullopt;
        T value = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            value |= static_cast<T>(static_cast<T>(m_bytes[static_cast<std::size_t>(offset) + i]) << (8 * i));
        return value;
    }

    std::span<const std::byte> m_bytes;
};
