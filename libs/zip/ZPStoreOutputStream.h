#pragma once

#include "ZPChannelOutput.h"
#include "streams/OutputStream.h"

#include <cstdint>

// Bytes written to a channel output as they come, with their CRC-32 and count.
class ZPStoreOutputStream : public OutputStream {
public:
    explicit ZPStoreOutputStream(ZPChannelOutput& channelOutput) : m_channelOutput(channelOutput) {}

    std::uint32_t crc32() const { return m_crc32; }
    std::uint64_t size() const { return m_size; }

protected:
    std::int64_t writeBytes(std::span<const std::byte> bytes) override;

private:
    ZPChannelOutput& m_channelOutput;
    std::uint32_t m_crc32 = 0;
    std::uint64_t m_size = 0;
};
