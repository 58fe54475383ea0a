#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <span>

// Little-endian fields written into records built in memory.
namespace ZPByteWriter {

inline void put16(QByteArray& bytes, qsizetype at, std::uint16_t value)
{
    bytes[at] = char(value & 0xFF);
    bytes[at + 1] = char(value >> 8);
}

inline void put32(QByteArray& bytes, qsizetype at, std::uint32_t value)
{
    put16(bytes, at, std::uint16_t(value & 0xFFFF));
    put16(bytes, at + 2, std::uint16_t(value >> 16));
}

inline std::span<const std::byte> bytesOf(const QByteArray& bytes)
{
    return std::as_bytes(std::span(bytes.constData(), std::size_t(bytes.size())));
}

} // namespace ZPByteWriter
