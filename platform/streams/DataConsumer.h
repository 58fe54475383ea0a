#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

// A sink that producers hand bytes to through one callback, which answers the
// count it took or -1 on failure.
class DataConsumer {
public:
    using PutBytes = std::function<std::int64_t(std::span<const std::byte>)>;

    explicit DataConsumer(PutBytes putBytes) : m_putBytes(std::move(putBytes)) {}

    std::int64_t putBytes(std::span<const std::byte> bytes) { return m_putBytes(bytes); }

private:
    PutBytes m_putBytes;
};
