#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The three keys of traditional zip encryption.
class ZPStandardCryptoEngine {
public:
    void initKeys(std::span<const std::byte> password);
    void updateKeys(std::uint8_t plain);
    // One cipher byte to plain, the keys advanced over the result.
    std::uint8_t decrypt(std::uint8_t cipher);

private:
    std::array<std::uint32_t, 3> m_keys{};
};
