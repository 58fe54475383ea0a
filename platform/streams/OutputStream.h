#pragma once

#include "Error.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// A push stream of bytes: open, write (each write says how many bytes it took,
// or -1 on an error, which the stream keeps), close. An error status stays
// through close, so a writer can tell a stream that failed while finishing.
class OutputStream {
public:
    enum Status : std::uint64_t { NotOpen = 0, Open = 2, Closed = 6, Failed = 7 };

    virtual ~OutputStream() = default;

    virtual void open();
    virtual void close();
    // Bytes taken from the buffer; -1 on error or when the stream is not open.
    std::int64_t write(std::span<const std::byte> bytes);

    Status streamStatus() const { return m_status; }
    const std::optional<Error>& streamError() const { return m_error; }

protected:
    // Called only while open.
    virtual std::int64_t writeBytes(std::span<const std::byte> bytes) = 0;
    // Keeps the error, marks the stream failed and returns -1.
    std::int64_t fail(const Error& error);

private:
    Status m_status = NotOpen;
    std::optional<Error> m_error;
};
