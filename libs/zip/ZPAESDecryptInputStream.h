#pragma once

#include "ZPAESKeystream.h"
#include "ZPFilterInputStream.h"

#include <memory>
#include <optional>

typedef struct evp_mac_ctx_st EVP_MAC_CTX;

// WinZip AES decrypted in the reader's buffer. A password whose verification
// value does not match leaves the stream in error from the start (code 12); at
// the end of the data the HMAC-SHA1 of the ciphertext must match the entry's
// authentication code (code 11).
class ZPAESDecryptInputStream : public ZPFilterInputStream {
public:
    static constexpr std::size_t verifierSize = 2;
    static constexpr std::size_t authenticationCodeSize = 10;

    // The header is the salt followed by the verification value; strength is 1 to 3.
    ZPAESDecryptInputStream(std::unique_ptr<InputStream> upstream, std::span<const std::byte> password,
                            std::span<const std::byte> header, std::uint8_t strength,
                            std::span<const std::byte, authenticationCodeSize> authenticationCode);
    ~ZPAESDecryptInputStream() override;

protected:
    std::int64_t readBytes(std::span<std::byte> buffer) override;

private:
    std::int64_t verifyAtEnd();

    std::optional<ZPAESKeystream> m_keystream;
    EVP_MAC_CTX* m_mac = nullptr;
    std::array<std::byte, authenticationCodeSize> m_authenticationCode;
};
