#pragma once

#include "streams/InputStream.h"

#include <memory>

// A stream that reads another one: opens and closes it along with itself and
// takes over its error.
class ZPFilterInputStream : public InputStream {
public:
    void open() override;
    void close() override;

protected:
    explicit ZPFilterInputStream(std::unique_ptr<InputStream> upstream) : m_upstream(std::move(upstream)) {}

    InputStream& upstream() { return *m_upstream; }
    // The upstream's error, or corrupt data when it gave none.
    std::int64_t failFromUpstream();
    // Code 11: the data does not decode, is cut short or fails its check.
    std::int64_t failCorrupt();

private:
    std::unique_ptr<InputStream> m_upstream;
};
