#include "ZPStoreOutputStream.h"

#include <zlib.h>

std::int64_t ZPStoreOutputStream::writeBytes(std::span<const std::byte> bytes)
{
    Error error;
    if (!m_channelOutput.writeData(bytes, &error))
        return fail(error);
    m_crc32 = std::uint32_t(::crc32_z(m_crc32, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
    m_size += bytes.size();
    return std::int64_t(bytes.size());
}
