#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

// WinZip AES in counter mode: counter blocks whose first 32-bit word counts up
// little-endian from 1 (the rest zero), encrypted 256 at a time, xored into the
// data. The position carries over from one call to the next.
class ZPAESKeystream {
public:
    // A key of 16, 24 or 32 bytes.
    explicit ZPAESKeystream(std::span<const std::byte> key);
    ~ZPAESKeystream();
    ZPAESKeystream(const ZPAESKeystream&) = delete;
    ZPAESKeystream& operator=(const ZPAESKeystream&) = delete;

    void apply(std::span<std::byte> data);

private:
    static constexpr std::size_t blockSize = 16;
    static constexpr std::size_t blocksPerRefill = 256;
    void refill();

    EVP_CIPHER_CTX* m_aes = nullptr;
    std::uint32_t m_counter = 0;
    std::array<std::byte, blockSize * blocksPerRefill> m_counterBlocks{};
    std::array<std::byte, blockSize * blocksPerRefill> m_keystream{};
    std::size_t m_position = blockSize * blocksPerRefill;
};
