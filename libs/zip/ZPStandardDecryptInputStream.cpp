#include "ZPStandardDecryptInputStream.h"

#include "ZPError.h"

ZPStandardDecryptInputStream::ZPStandardDecryptInputStream(std::unique_ptr<InputStream> upstream,
                                                           std::span<const std::byte> password,
                                                           std::span<const std::byte, headerSize> header,
                                                           std::uint8_t checkByte)
    : ZPFilterInputStream(std::move(upstream))
{
    m_crypto.initKeys(password);
    std::uint8_t last = 0;
    for (const std::byte byte : header)
        last = m_crypto.decrypt(std::uint8_t(byte));
    if (last != checkByte)
        fail(ZPError::make(ZPError::WrongPassword));
}

std::int64_t ZPStandardDecryptInputStream::readBytes(std::span<std::byte> buffer)
{
    const std::int64_t count = upstream().read(buffer);
    if (count < 0)
        return failFromUpstream();
    if (count == 0)
        return finish();
    for (std::byte& byte : buffer.first(std::size_t(count)))
        byte = std::byte(m_crypto.decrypt(std::uint8_t(byte)));
    return count;
}
