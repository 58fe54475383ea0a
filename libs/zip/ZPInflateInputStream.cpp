#include "ZPInflateInputStream.h"

#include <algorithm>
#include <limits>

ZPInflateInputStream::ZPInflateInputStream(std::unique_ptr<InputStream> upstream)
    : ZPFilterInputStream(std::move(upstream))
{
}

ZPInflateInputStream::~ZPInflateInputStream() { endInflate(); }

void ZPInflateInputStream::open()
{
    ZPFilterInputStream::open();
    if (streamStatus() != Open)
        return;
    m_inflating = inflateInit2(&m_stream, -MAX_WBITS) == Z_OK;
    if (!m_inflating)
        failCorrupt();
}

void ZPInflateInputStream::close()
{
    endInflate();
    ZPFilterInputStream::close();
}

void ZPInflateInputStream::endInflate()
{
    if (m_inflating)
        inflateEnd(&m_stream);
    m_inflating = false;
}

// False when the upstream failed; at its end no input is added.
bool ZPInflateInputStream::fillInput()
{
    if (m_stream.avail_in > 0 || m_upstreamEnded)
        return true;
    const std::int64_t count = upstream().read(m_readBuffer);
    if (count < 0)
        return false;
    m_upstreamEnded = count == 0;
    m_stream.next_in = reinterpret_cast<Bytef*>(m_readBuffer.data());
    m_stream.avail_in = uInt(count);
    return true;
}

std::int64_t ZPInflateInputStream::readBytes(std::span<std::byte> buffer)
{
    const uInt capacity = uInt(std::min<std::size_t>(buffer.size(), std::numeric_limits<uInt>::max()));
    m_stream.next_out = reinterpret_cast<Bytef*>(buffer.data());
    m_stream.avail_out = capacity;
    // Zero means the end to readers, so inflate until something comes out.
    while (m_stream.avail_out == capacity) {
        if (!fillInput())
            return failFromUpstream();
        const int result = inflate(&m_stream, Z_NO_FLUSH);
        if (result == Z_STREAM_END)
            return finishUpstream(capacity - m_stream.avail_out);
        const bool starved = result == Z_BUF_ERROR && m_stream.avail_in == 0 && m_upstreamEnded;
        if (starved || (result != Z_OK && result != Z_BUF_ERROR))
            return failCorrupt();
    }
    return capacity - m_stream.avail_out;
}

std::int64_t ZPInflateInputStream::finishUpstream(std::int64_t produced)
{
    while (!m_upstreamEnded) {
        m_stream.avail_in = 0;
        if (!fillInput())
            return failFromUpstream();
    }
    finish();
    return produced;
}

std::optional<QByteArray> ZPInflateInputStream::decompressData(std::span<const std::byte> data,
                                                               std::uint64_t uncompressedSize)
{
    // One pass means zlib's 32-bit counts must hold both lengths.
    constexpr std::uint64_t passLimit = std::numeric_limits<uInt>::max();
    if (uncompressedSize > maximumInflatedSize(data.size()) || uncompressedSize > passLimit || data.size() > passLimit)
        return std::nullopt;
    QByteArray output(qsizetype(uncompressedSize), Qt::Uninitialized);
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(output.data());
    stream.avail_out = uInt(uncompressedSize);
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    // Ending early would leave the rest of the buffer unwritten; a stream that
    // goes on past the size does not reach its end here.
    if (result != Z_STREAM_END || stream.avail_out != 0)
        return std::nullopt;
    return output;
}
