#include "MemoryInputStream.h"

#include <algorithm>
#include <cstring>

MemoryInputStream::MemoryInputStream(std::span<const std::byte> bytes, std::shared_ptr<const void> owner)
    : m_owner(std::move(owner)), m_remaining(bytes)
{
}

std::int64_t MemoryInputStream::readBytes(std::span<std::byte> buffer)
{
    const std::size_t count = std::min(buffer.size(), m_remaining.size());
    if (count == 0)
        return finish();
    std::memcpy(buffer.data(), m_remaining.data(), count);
    m_remaining = m_remaining.subspan(count);
    return std::int64_t(count);
}
