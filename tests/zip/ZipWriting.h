#pragma once

#include "ZPNewArchiveEntry.h"
#include "ZipTestArchive.h"

#include <QFile>

#include <sys/stat.h>

// New entries and what tests read back from the archives they make.
namespace ZipWriting {

inline std::uint32_t u32At(const QByteArray& bytes, qsizetype at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | uchar(bytes[at + i]);
    return value;
}

// Repeats slowly enough to deflate to something, unlike random bytes.
inline QByteArray pattern(qsizetype size)
{
    QByteArray data(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 7919) % 251 + (i / 4096) % 3);
    return data;
}

// Writes the data in pieces, failing when a write does not take a whole piece.
inline ZPArchiveEntry::StreamBlock piecesOf(const QByteArray& data, qsizetype piece)
{
    return [data, piece](OutputStream& stream, Error*) {
        return ZipTest::inPieces(data, piece, [&](auto part) { return stream.write(part); });
    };
}

inline std::shared_ptr<ZPArchiveEntry> entry(const QString& name, std::int64_t level,
                                             std::optional<QByteArray> data = std::nullopt,
                                             ZPArchiveEntry::StreamBlock stream = {})
{
    ZPArchiveEntry::DataBlock block;
    if (data)
        block = [data](Error*) { return data; };
    return ZPArchiveEntry::archiveEntryWithFileName(name, 0100644, QDateTime(QDate(2026, 12, 5), QTime(13, 45, 31)),
                                                    level, block, std::move(stream), {});
}

inline ino_t inodeOf(const QString& path)
{
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_ino;
}

} // namespace ZipWriting
