#include "ZPAESKeystream.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

const EVP_CIPHER* ecbCipher(std::size_t keyLength)
{
    switch (keyLength) {
    case 16:
        return EVP_aes_128_ecb();
    case 24:
        return EVP_aes_192_ecb();
    case 32:
        return EVP_aes_256_ecb();
    }
    throw std::invalid_argument("AES key of a length other than 16, 24 or 32 bytes");
}

void xorInto(std::byte* data, const std::byte* keystream, std::size_t length)
{
    std::size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word, key;
        std::memcpy(&word, data + i, 8);
        std::memcpy(&key, keystream + i, 8);
        word ^= key;
        std::memcpy(data + i, &word, 8);
    }
    for (; i < length; ++i)
        data[i] ^= keystream[i];
}

} // namespace

ZPAESKeystream::ZPAESKeystream(std::span<const std::byte> key) : m_aes(EVP_CIPHER_CTX_new())
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(key.data());
    if (!m_aes || EVP_EncryptInit_ex(m_aes, ecbCipher(key.size()), nullptr, bytes, nullptr) != 1) {
        EVP_CIPHER_CTX_free(m_aes);
        throw std::runtime_error("AES could not be set up");
    }
    EVP_CIPHER_CTX_set_padding(m_aes, 0);
}

ZPAESKeystream::~ZPAESKeystream() { EVP_CIPHER_CTX_free(m_aes); }

void ZPAESKeystream::apply(std::span<std::byte> data)
{
    while (!data.empty()) {
        if (m_position == m_keystream.size())
            refill();
        const std::size_t count = std::min(data.size(), m_keystream.size() - m_position);
        xorInto(data.data(), m_keystream.data() + m_position, count);
        m_position += count;
        data = data.subspan(count);
    }
}

void ZPAESKeystream::refill()
{
    for (std::size_t block = 0; block < blocksPerRefill; ++block) {
        const std::uint32_t counter = ++m_counter;
        const unsigned char little[4] = {std::uint8_t(counter), std::uint8_t(counter >> 8),
                                         std::uint8_t(counter >> 16), std::uint8_t(counter >> 24)};
        std::memcpy(m_counterBlocks.data() + block * blockSize, little, 4);
    }
    int written = 0;
    EVP_EncryptUpdate(m_aes, reinterpret_cast<unsigned char*>(m_keystream.data()), &written,
                      reinterpret_cast<const unsigned char*>(m_counterBlocks.data()), int(m_counterBlocks.size()));
    m_position = 0;
}
