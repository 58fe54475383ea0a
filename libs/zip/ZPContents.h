#pragma once

#include "Error.h"

#include <QByteArray>

#include <cstddef>
#include <memory>
#include <span>

// The whole archive as loaded: a read-only file mapping or a byte array. Entries
// and the views they hand out share it, so no view outlives its bytes.
class ZPContents {
public:
    // Keeps an implicitly shared copy, so later changes to the caller's array
    // detach from it instead of moving the bytes under a view.
    static std::shared_ptr<const ZPContents> fromByteArray(const QByteArray& data);
    // Takes over a mapping made by mmap and unmaps it when the last holder goes.
    static std::shared_ptr<const ZPContents> fromMapping(void* address, std::size_t length);

    ~ZPContents();
    ZPContents(const ZPContents&) = delete;
    ZPContents& operator=(const ZPContents&) = delete;

    std::span<const std::byte> bytes() const { return m_bytes; }
    // Copies a mapping's pages from the offset on into private memory, in
    // place, so the bytes stay as they are while the file under them is
    // rewritten or cut. Byte arrays are their own copy already.
    bool keepInMemoryFrom(std::size_t offset, Error* error = nullptr) const;

private:
    ZPContents() = default;

    QByteArray m_array;
    void* m_mapping = nullptr;
    std::span<const std::byte> m_bytes;
};

// Bytes inside loaded contents, keeping the contents alive.
struct ZPByteView {
    std::shared_ptr<const ZPContents> owner;
    std::span<const std::byte> bytes;
};
