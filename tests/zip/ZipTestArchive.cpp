#include "ZipTestArchive.h"

namespace ZipTest {

namespace {

void append16(QByteArray& bytes, std::uint16_t value)
{
    bytes.append(char(value & 0xFF)).append(char(value >> 8));
}

void append32(QByteArray& bytes, std::uint32_t value)
{
    append16(bytes, value & 0xFFFF);
    append16(bytes, value >> 16);
}

void appendLocal(QByteArray& out, const Entry& entry)
{
    const bool descriptor = entry.flags & 0x0008;
    append32(out, 0x04034b50);
    append16(out, entry.version);
    append16(out, entry.flags);
    append16(out, entry.method);
    append16(out, entry.time);
    append16(out, entry.date);
    append32(out, descriptor ? 0 : entry.crc);
    append32(out, descriptor ? 0 : entry.data.size());
    append32(out, descriptor ? 0 : entry.data.size());
    append16(out, entry.name.size());
    append16(out, entry.localExtra.size());
    out.append(entry.name).append(entry.localExtra).append(entry.data);
    if (!descriptor)
        return;
    append32(out, 0x08074b50);
    append32(out, entry.crc);
    for (int size = 0; size < 2; ++size) {
        append32(out, entry.data.size());
        if (entry.wideDescriptor)
            append32(out, 0);
    }
}

void appendCentral(QByteArray& out, const Entry& entry, int localOffset)
{
    append32(out, 0x02014b50);
    out.append(char(30)).append(char(entry.host));
    append16(out, entry.version);
    append16(out, entry.flags);
    append16(out, entry.method);
    append16(out, entry.time);
    append16(out, entry.date);
    append32(out, entry.crc);
    append32(out, entry.data.size());
    append32(out, entry.data.size());
    append16(out, entry.name.size());
    append16(out, entry.centralExtra.size());
    append16(out, 0);
    append16(out, 0);
    append16(out, 0);
    append32(out, entry.externalAttributes);
    append32(out, localOffset);
    out.append(entry.name).append(entry.centralExtra);
}

} // namespace

Archive build(const QList<Entry>& entries, const QByteArray& comment)
{
    Archive archive;
    for (const Entry& entry : entries) {
        archive.localOffsets.append(archive.bytes.size());
        appendLocal(archive.bytes, entry);
    }
    const int centralStart = archive.bytes.size();
    for (int i = 0; i < entries.size(); ++i) {
        archive.centralOffsets.append(archive.bytes.size());
        appendCentral(archive.bytes, entries[i], archive.localOffsets[i]);
    }
    archive.endOffset = archive.bytes.size();
    append32(archive.bytes, 0x06054b50);
    append32(archive.bytes, 0);
    append16(archive.bytes, entries.size());
    append16(archive.bytes, entries.size());
    append32(archive.bytes, archive.endOffset - centralStart);
    append32(archive.bytes, centralStart);
    append16(archive.bytes, comment.size());
    archive.bytes.append(comment);
    return archive;
}

QByteArray extraField(std::uint16_t id, const QByteArray& data)
{
    QByteArray field;
    append16(field, id);
    append16(field, data.size());
    return field + data;
}

QByteArray aesField(std::uint8_t strength, std::uint16_t method)
{
    QByteArray data;
    append16(data, 2);
    data.append("AE").append(char(strength));
    append16(data, method);
    return extraField(0x9901, data);
}

Loaded load(const QByteArray& bytes, ZPStringEncoding encoding)
{
    ZPArchive archive(std::make_shared<const QByteArray>(bytes), encoding);
    Loaded loaded;
    if (archive.load(&loaded.error))
        loaded.entries = archive.entries();
    return loaded;
}

void put16(QByteArray& bytes, int at, std::uint16_t value)
{
    bytes[at] = char(value & 0xFF);
    bytes[at + 1] = char(value >> 8);
}

void put32(QByteArray& bytes, int at, std::uint32_t value)
{
    put16(bytes, at, value & 0xFFFF);
    put16(bytes, at + 2, value >> 16);
}

} // namespace ZipTest
