#pragma once

#include "ZPFilterInputStream.h"
#include "ZPStandardCryptoEngine.h"

// Traditional zip encryption, decrypted in the reader's buffer. The last byte of
// the 12-byte header must decrypt to the check byte, else the stream is in
// error from the start (code 12).
class ZPStandardDecryptInputStream : public ZPFilterInputStream {
public:
    static constexpr std::size_t headerSize = 12;

    ZPStandardDecryptInputStream(std::unique_ptr<InputStream> upstream, std::span<const std::byte> password,
                                 std::span<const std::byte, headerSize> header, std::uint8_t checkByte);

protected:
    std::int64_t readBytes(std::span<std::byte> buffer) override;

private:
    ZPStandardCryptoEngine m_crypto;
};
