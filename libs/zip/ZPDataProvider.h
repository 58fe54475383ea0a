#pragma once

#include "streams/InputStream.h"
#include "streams/SequentialDataProvider.h"

#include <functional>
#include <memory>

// A sequential data provider over streams from a maker: the first request makes
// and opens one, a rewind drops it so the next request starts afresh.
class ZPDataProvider {
public:
    // Returns a new unopened stream, or none.
    using StreamMaker = std::function<std::unique_ptr<InputStream>()>;

    static std::unique_ptr<SequentialDataProvider> create(StreamMaker makeStream);

    explicit ZPDataProvider(StreamMaker makeStream) : m_makeStream(std::move(makeStream)) {}

    std::size_t getBytes(std::span<std::byte> buffer);
    std::int64_t skipForward(std::int64_t count);
    void rewind();
    void release();

private:
    InputStream* stream();

    StreamMaker m_makeStream;
    std::unique_ptr<InputStream> m_stream;
};
