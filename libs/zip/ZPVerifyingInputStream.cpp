#include "ZPVerifyingInputStream.h"

#include <zlib.h>

#include <algorithm>

ZPVerifyingInputStream::ZPVerifyingInputStream(std::unique_ptr<InputStream> upstream, std::uint64_t size,
                                               std::optional<std::uint32_t> crc32)
    : ZPFilterInputStream(std::move(upstream)), m_remaining(size), m_expectedCRC(crc32), m_crc(::crc32(0, nullptr, 0))
{
}

std::int64_t ZPVerifyingInputStream::readBytes(std::span<std::byte> buffer)
{
    if (m_remaining == 0)
        return finishAtSize();
    const auto wanted = buffer.first(std::size_t(std::min<std::uint64_t>(buffer.size(), m_remaining)));
    const std::int64_t count = upstream().read(wanted);
    if (count < 0)
        return failFromUpstream();
    if (count == 0)
        return failCorrupt();
    m_crc = ::crc32_z(m_crc, reinterpret_cast<const Bytef*>(wanted.data()), std::size_t(count));
    m_remaining -= std::uint64_t(count);
    return count;
}

// The upstream must end here: one more byte means the entry is longer than it says.
std::int64_t ZPVerifyingInputStream::finishAtSize()
{
    std::byte probe;
    const std::int64_t count = upstream().read({&probe, 1});
    if (count < 0)
        return failFromUpstream();
    if (count > 0 || (m_expectedCRC && *m_expectedCRC != m_crc))
        return failCorrupt();
    return finish();
}
