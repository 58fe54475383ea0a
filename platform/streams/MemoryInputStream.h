#pragma once

#include "InputStream.h"

#include <memory>

// A stream over bytes that someone else owns; the owner handle keeps them alive.
class MemoryInputStream : public InputStream {
public:
    explicit MemoryInputStream(std::span<const std::byte> bytes, std::shared_ptr<const void> owner = {});

protected:
    std::int64_t readBytes(std::span<std::byte> buffer) override;

private:
    std::shared_ptr<const void> m_owner;
    std::span<const std::byte> m_remaining;
};
