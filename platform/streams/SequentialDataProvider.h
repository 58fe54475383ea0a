#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

// A pull-style byte source for consumers that read a document front to back:
// get bytes, skip forward, rewind to the start. Its release callback runs once,
// when the provider goes away.
class SequentialDataProvider {
public:
    struct Callbacks {
        // Bytes written into the buffer; fewer than its size only at the end.
        std::function<std::size_t(std::span<std::byte>)> getBytes;
        // Bytes passed over, at most the count asked for.
        std::function<std::int64_t(std::int64_t)> skipForward;
        std::function<void()> rewind;
        std::function<void()> release;
    };

    explicit SequentialDataProvider(Callbacks callbacks);
    ~SequentialDataProvider();
    SequentialDataProvider(const SequentialDataProvider&) = delete;
    SequentialDataProvider& operator=(const SequentialDataProvider&) = delete;

    // A provider over its own copy of the bytes.
    static std::unique_ptr<SequentialDataProvider> withData(QByteArray data);

    std::size_t getBytes(std::span<std::byte> buffer) { return m_callbacks.getBytes(buffer); }
    std::int64_t skipForward(std::int64_t count) { return m_callbacks.skipForward(count); }
    void rewind() { m_callbacks.rewind(); }

private:
    Callbacks m_callbacks;
};
