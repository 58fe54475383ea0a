#pragma once

#include "Error.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// A pull stream of bytes: open, read until 0 (the end) or -1 (an error, which
// the stream keeps), close. An error status stays through open and close.
class InputStream {
public:
    enum Status : std::uint64_t { NotOpen = 0, Opening = 1, Open = 2, AtEnd = 5, Closed = 6, Failed = 7 };

    virtual ~InputStream() = default;

    virtual void open();
    virtual void close();
    // Bytes read into the buffer, at most its size; 0 at the end or for an empty
    // buffer; -1 on error or when the stream is not open.
    std::int64_t read(std::span<std::byte> buffer);

    Status streamStatus() const { return m_status; }
    const std::optional<Error>& streamError() const { return m_error; }

protected:
    // Called only while open, with a buffer that is not empty.
    virtual std::int64_t readBytes(std::span<std::byte> buffer) = 0;

    // Marks the end and returns 0, for readBytes to hand on.
    std::int64_t finish();
    // Keeps the error, marks the stream failed and returns -1.
    std::int64_t fail(const Error& error);

private:
    Status m_status = NotOpen;
    std::optional<Error> m_error;
};
