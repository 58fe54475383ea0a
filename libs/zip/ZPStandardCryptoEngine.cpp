#include "ZPStandardCryptoEngine.h"

#include <zlib.h>

namespace {

std::uint32_t crc(std::uint32_t key, std::uint8_t byte)
{
    static const z_crc_t* const table = get_crc_table();
    return (key >> 8) ^ std::uint32_t(table[(key ^ byte) & 0xFF]);
}

} // namespace

void ZPStandardCryptoEngine::initKeys(std::span<const std::byte> password)
{
    m_keys = {0x12345678, 0x23456789, 0x34567890};
    for (const std::byte byte : password)
        updateKeys(std::uint8_t(byte));
}

void ZPStandardCryptoEngine::updateKeys(std::uint8_t plain)
{
    m_keys[0] = crc(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813u + 1;
    m_keys[2] = crc(m_keys[2], std::uint8_t(m_keys[1] >> 24));
}

std::uint8_t ZPStandardCryptoEngine::decrypt(std::uint8_t cipher)
{
    const std::uint32_t t = m_keys[2] | 2;
    const auto plain = std::uint8_t(cipher ^ ((t * (t ^ 1)) >> 8));
    updateKeys(plain);
    return plain;
}
