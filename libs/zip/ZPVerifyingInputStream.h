#pragma once

#include "ZPFilterInputStream.h"

#include <optional>

// An entry's bytes as they leave the stack: never more than the declared size,
// and at the end exactly that many with the expected CRC-32 (when there is one);
// anything else fails with code 11.
class ZPVerifyingInputStream : public ZPFilterInputStream {
public:
    ZPVerifyingInputStream(std::unique_ptr<InputStream> upstream, std::uint64_t size, std::optional<std::uint32_t> crc32);

protected:
    std::int64_t readBytes(std::span<std::byte> buffer) override;

private:
    std::int64_t finishAtSize();

    std::uint64_t m_remaining;
    std::optional<std::uint32_t> m_expectedCRC;
    std::uint32_t m_crc;
};
