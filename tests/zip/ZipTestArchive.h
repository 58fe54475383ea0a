#pragma once

#include "ZPArchive.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <span>

// Builds small archives byte by byte, so tests can bend any field.
namespace ZipTest {

struct Entry {
    QByteArray name = "note.txt";
    QByteArray data = "hello";
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t version = 20;
    std::uint16_t time = 0x6DAF;
    std::uint16_t date = 0x5D85;
    std::uint8_t host = 3;
    std::uint32_t externalAttributes = 0100644u << 16;
    std::uint32_t crc = 0x3610A686;
    QByteArray localExtra = {};
    QByteArray centralExtra = {};
    // With flag bit 3: 24-byte descriptor with 8-byte sizes instead of 16 bytes.
    bool wideDescriptor = false;
    // The uncompressed size declared; -1: the data's length.
    qint64 size = -1;
};

struct Archive {
    QByteArray bytes;
    QList<int> localOffsets;
    QList<int> centralOffsets;
};

Archive build(const QList<Entry>& entries, const QByteArray& comment = {});

// A WinZip AES extra field of the strength, announcing the real method.
QByteArray aesField(std::uint8_t strength, std::uint16_t method);
QByteArray extraField(std::uint16_t id, const QByteArray& data);

// Loads the bytes as read-only data: the entries, or the error and nothing.
struct Loaded {
    std::optional<ZPArchive::Entries> entries;
    Error error;
};
Loaded load(const QByteArray& bytes, ZPStringEncoding encoding = ZPStringEncoding::UTF8);

// Raw deflate data, as zip stores it.
QByteArray deflated(const QByteArray& data);

// A stream read to its end or first failure in pieces of the given size.
struct StreamRead {
    QByteArray bytes;
    std::int64_t last = 0; // the read that ended it: 0 or -1
    InputStream::Status status = InputStream::NotOpen;
    int code = -1; // of the stream's error, if any
};
StreamRead readStream(InputStream& stream, std::size_t piece);
// What a provider gives when asked for up to count bytes.
QByteArray readProvider(SequentialDataProvider& provider, qsizetype count);

// The data as the byte span the library's interfaces take.
inline std::span<const std::byte> bytesOf(const QByteArray& data)
{
    return std::as_bytes(std::span(data.constData(), std::size_t(data.size())));
}

// Hands the data to put in pieces; false once a piece is not taken whole.
template <typename Put>
bool inPieces(const QByteArray& data, qsizetype piece, Put put)
{
    for (qsizetype at = 0; at < data.size(); at += piece) {
        const QByteArray part = data.mid(at, piece);
        if (put(bytesOf(part)) != std::int64_t(part.size()))
            return false;
    }
    return true;
}

void put16(QByteArray& bytes, int at, std::uint16_t value);
void put32(QByteArray& bytes, int at, std::uint32_t value);

} // namespace ZipTest
