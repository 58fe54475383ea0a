#pragma once

#include "ZPFilterInputStream.h"

#include <zlib.h>

#include <QByteArray>

#include <array>
#include <optional>

// Raw deflate data inflated as it is read, 16 KiB of compressed bytes at a time.
// Bad data or data that ends before the deflate stream does fail with code 11.
class ZPInflateInputStream : public ZPFilterInputStream {
public:
    explicit ZPInflateInputStream(std::unique_ptr<InputStream> upstream);
    ~ZPInflateInputStream() override;

    // Deflate spends at least two bits on 258 bytes, so data of this length can
    // never inflate to more.
    static std::uint64_t maximumInflatedSize(std::uint64_t compressedLength) { return 1032 * compressedLength; }
    // The whole raw deflate data inflated in one pass: exactly uncompressedSize
    // bytes ending the deflate stream, else nothing. A size the data cannot back
    // is refused before anything is allocated.
    static std::optional<QByteArray> decompressData(std::span<const std::byte> data, std::uint64_t uncompressedSize);

    void open() override;
    void close() override;

protected:
    std::int64_t readBytes(std::span<std::byte> buffer) override;

private:
    bool fillInput();
    // At the end of the deflate stream the upstream is read to its own end, so
    // that the streams below can check what follows the data.
    std::int64_t finishUpstream(std::int64_t produced);
    void endInflate();

    std::array<std::byte, 16384> m_readBuffer;
    z_stream m_stream{};
    bool m_inflating = false;
    bool m_upstreamEnded = false;
};
