#include "ZPAESDecryptInputStream.h"

#include "ZPError.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

namespace {

constexpr int iterations = 1000;

// A derivation costs about a millisecond, and a provider derives again at every
// rewind, so each thread keeps its last few.
std::vector<std::byte> deriveKeys(std::span<const std::byte> password, std::span<const std::byte> salt,
                                  std::size_t length)
{
    struct Derivation {
        std::vector<std::byte> password, salt, keys;
    };
    thread_local std::array<Derivation, 16> recent;
    thread_local std::size_t next = 0;
    for (const Derivation& kept : recent) {
        if (kept.keys.size() == length && std::ranges::equal(kept.password, password)
            && std::ranges::equal(kept.salt, salt))
            return kept.keys;
    }
    std::vector<std::byte> derived(length);
    const bool done = PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(password.data()), int(password.size()),
                                             reinterpret_cast<const unsigned char*>(salt.data()), int(salt.size()),
                                             iterations, int(length), reinterpret_cast<unsigned char*>(derived.data()));
    if (!done)
        throw std::runtime_error("PBKDF2 failed");
    recent[next] = {{password.begin(), password.end()}, {salt.begin(), salt.end()}, derived};
    next = (next + 1) % recent.size();
    return derived;
}

EVP_MAC_CTX* hmacSHA1(std::span<const std::byte> key)
{
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* context = mac ? EVP_MAC_CTX_new(mac) : nullptr;
    EVP_MAC_free(mac);
    char digest[] = "SHA1";
    const OSSL_PARAM parameters[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                     OSSL_PARAM_construct_end()};
    if (!context
        || !EVP_MAC_init(context, reinterpret_cast<const unsigned char*>(key.data()), key.size(), parameters)) {
        EVP_MAC_CTX_free(context);
        throw std::runtime_error("HMAC-SHA1 could not be set up");
    }
    return context;
}

} // namespace

ZPAESDecryptInputStream::ZPAESDecryptInputStream(std::unique_ptr<InputStream> upstream,
                                                 std::span<const std::byte> password,
                                                 std::span<const std::byte> header, std::uint8_t strength,
                                                 std::span<const std::byte, authenticationCodeSize> authenticationCode)
    : ZPFilterInputStream(std::move(upstream))
{
    std::ranges::copy(authenticationCode, m_authenticationCode.begin());
    const std::size_t keyLength = 8 + 8 * std::size_t(strength);
    const std::size_t salt = header.size() - verifierSize;
    const auto derived = deriveKeys(password, header.first(salt), 2 * keyLength + verifierSize);
    const auto keys = std::span(derived);
    if (!std::ranges::equal(keys.subspan(2 * keyLength), header.subspan(salt, verifierSize))) {
        fail(ZPError::make(ZPError::WrongPassword));
        return;
    }
    m_keystream.emplace(keys.first(keyLength));
    m_mac = hmacSHA1(keys.subspan(keyLength, keyLength));
}

ZPAESDecryptInputStream::~ZPAESDecryptInputStream() { EVP_MAC_CTX_free(m_mac); }

std::int64_t ZPAESDecryptInputStream::readBytes(std::span<std::byte> buffer)
{
    const std::int64_t count = upstream().read(buffer);
    if (count < 0)
        return failFromUpstream();
    if (count == 0)
        return verifyAtEnd();
    const auto cipher = buffer.first(std::size_t(count));
    EVP_MAC_update(m_mac, reinterpret_cast<const unsigned char*>(cipher.data()), cipher.size());
    m_keystream->apply(cipher);
    return count;
}

std::int64_t ZPAESDecryptInputStream::verifyAtEnd()
{
    unsigned char code[EVP_MAX_MD_SIZE];
    std::size_t length = 0;
    const bool computed = EVP_MAC_final(m_mac, code, &length, sizeof code) && length >= authenticationCodeSize;
    if (!computed || CRYPTO_memcmp(code, m_authenticationCode.data(), authenticationCodeSize) != 0)
        return failCorrupt();
    return finish();
}
