#include "ZPDeflateOutputStream.h"

#include "files/Posix.h"

#include <algorithm>
#include <cerrno>
#include <limits>

ZPDeflateOutputStream::ZPDeflateOutputStream(ZPChannelOutput& channelOutput, std::int64_t compressionLevel)
    : m_channelOutput(channelOutput), m_compressionLevel(compressionLevel)
{
}

ZPDeflateOutputStream::~ZPDeflateOutputStream() { endDeflate(); }

void ZPDeflateOutputStream::open()
{
    if (deflateInit2(&m_stream, int(m_compressionLevel), Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        fail(posixError(EINVAL, QStringLiteral("start deflating at level"), QString::number(m_compressionLevel)));
        return;
    }
    m_deflating = true;
    OutputStream::open();
}

void ZPDeflateOutputStream::close()
{
    if (streamStatus() == Open)
        deflateInput(Z_FINISH);
    endDeflate();
    OutputStream::close();
}

void ZPDeflateOutputStream::endDeflate()
{
    if (m_deflating)
        deflateEnd(&m_stream);
    m_deflating = false;
}

bool ZPDeflateOutputStream::deflateInput(int flush)
{
    for (;;) {
        m_stream.next_out = m_buffer.data();
        m_stream.avail_out = uInt(m_buffer.size());
        const int result = deflate(&m_stream, flush);
        const std::size_t produced = m_buffer.size() - m_stream.avail_out;
        Error error;
        if (produced > 0
            && !m_channelOutput.writeData(std::as_bytes(std::span(m_buffer.data(), produced)), &error)) {
            fail(error);
            return false;
        }
        if (result == Z_STREAM_END || (result == Z_OK && m_stream.avail_out > 0 && flush == Z_NO_FLUSH)
            || result == Z_BUF_ERROR)
            return true;
        if (result != Z_OK) {
            fail(posixError(EIO, QStringLiteral("deflate"), QString::number(result)));
            return false;
        }
    }
}

std::int64_t ZPDeflateOutputStream::writeBytes(std::span<const std::byte> bytes)
{
    // zlib counts input in 32-bit pieces.
    constexpr std::size_t piece = std::numeric_limits<uInt>::max();
    for (std::size_t taken = 0; taken < bytes.size();) {
        const auto chunk = bytes.subspan(taken, std::min(piece, bytes.size() - taken));
        m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(chunk.data()));
        m_stream.avail_in = uInt(chunk.size());
        if (!deflateInput(Z_NO_FLUSH))
            return -1;
        m_crc32 = std::uint32_t(::crc32_z(m_crc32, reinterpret_cast<const Bytef*>(chunk.data()), chunk.size()));
        taken += chunk.size();
    }
    return std::int64_t(bytes.size());
}
