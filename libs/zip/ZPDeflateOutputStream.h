#pragma once

#include "ZPChannelOutput.h"
#include "streams/OutputStream.h"

#include <zlib.h>

#include <array>
#include <cstdint>

// Raw deflate (window bits -15, memory level 8, default strategy) written to a
// channel output through one reused 64 KiB buffer. A write takes every byte it
// is given or fails; close finishes the deflate stream and keeps the failed
// status when the last bytes could not be written.
class ZPDeflateOutputStream : public OutputStream {
public:
    static constexpr std::size_t bufferSize = 64 * 1024;

    // Level -1 is zlib's default, 1 to 9 its levels.
    ZPDeflateOutputStream(ZPChannelOutput& channelOutput, std::int64_t compressionLevel);
    ~ZPDeflateOutputStream() override;

    void open() override;
    void close() override;

    std::uint32_t crc32() const { return m_crc32; }
    // Totals, which a caller checks against the 32-bit fields of the records.
    std::uint64_t compressedSize() const { return m_stream.total_out; }
    std::uint64_t uncompressedSize() const { return m_stream.total_in; }

protected:
    std::int64_t writeBytes(std::span<const std::byte> bytes) override;

private:
    // Deflates what is in the input until zlib needs more (or, finishing, until
    // the stream ends), writing every full or last buffer out.
    bool deflateInput(int flush);
    void endDeflate();

    ZPChannelOutput& m_channelOutput;
    std::int64_t m_compressionLevel;
    std::uint32_t m_crc32 = 0;
    z_stream m_stream{};
    bool m_deflating = false;
    std::array<Bytef, bufferSize> m_buffer;
};
