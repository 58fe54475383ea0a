#include "ZipTestArchive.h"

#include <QDataStream>
#include <QIODevice>

#include <zlib.h>

namespace ZipTest {

namespace {

struct Writer {
    explicit Writer(QByteArray& bytes) : stream(&bytes, QIODevice::WriteOnly | QIODevice::Append)
    {
        stream.setByteOrder(QDataStream::LittleEndian);
    }
    Writer& raw(const QByteArray& bytes)
    {
        stream.writeRawData(bytes.constData(), int(bytes.size()));
        return *this;
    }
    template <typename T>
    Writer& operator<<(T value)
    {
        stream << value;
        return *this;
    }
    QDataStream stream;
};

quint32 declaredSize(const Entry& entry)
{
    return quint32(entry.size < 0 ? entry.data.size() : entry.size);
}

void appendLocal(QByteArray& out, const Entry& entry)
{
    const bool descriptor = entry.flags & 0x0008;
    const quint32 size = descriptor ? 0 : quint32(entry.data.size());
    Writer(out) << quint32(0x04034b50) << entry.version << entry.flags << entry.method << entry.time << entry.date
                << (descriptor ? 0 : entry.crc) << size << (descriptor ? 0 : declaredSize(entry))
                << quint16(entry.name.size())
                << quint16(entry.localExtra.size());
    Writer(out).raw(entry.name).raw(entry.localExtra).raw(entry.data);
    if (!descriptor)
        return;
    Writer(out) << quint32(0x08074b50) << entry.crc;
    for (const quint32 value : {quint32(entry.data.size()), declaredSize(entry)}) {
        if (entry.wideDescriptor)
            Writer(out) << quint64(value);
        else
            Writer(out) << value;
    }
}

void appendCentral(QByteArray& out, const Entry& entry, int localOffset)
{
    Writer(out) << quint32(0x02014b50) << quint8(30) << entry.host << entry.version << entry.flags << entry.method << entry.time << entry.date << entry.crc
                << quint32(entry.data.size()) << declaredSize(entry) << quint16(entry.name.size())
                << quint16(entry.centralExtra.size()) << quint16(0) << quint16(0) << quint16(0)
                << entry.externalAttributes << quint32(localOffset);
    Writer(out).raw(entry.name).raw(entry.centralExtra);
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
    const int endOffset = archive.bytes.size();
    Writer(archive.bytes) << quint32(0x06054b50) << quint32(0) << quint16(entries.size()) << quint16(entries.size())
                          << quint32(endOffset - centralStart) << quint32(centralStart)
                          << quint16(comment.size());
    archive.bytes.append(comment);
    return archive;
}

QByteArray extraField(std::uint16_t id, const QByteArray& data)
{
    QByteArray field;
    Writer(field) << id << quint16(data.size());
    return field + data;
}

QByteArray aesField(std::uint8_t strength, std::uint16_t method)
{
    QByteArray data;
    Writer(data) << quint16(2);
    Writer(data.append("AE")) << strength << method;
    return extraField(0x9901, data);
}

QByteArray deflated(const QByteArray& data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

StreamRead readStream(InputStream& stream, std::size_t piece)
{
    StreamRead read;
    QByteArray buffer(qsizetype(piece), '\0');
    stream.open();
    while ((read.last = stream.read(std::as_writable_bytes(std::span(buffer.data(), piece)))) > 0)
        read.bytes.append(buffer.constData(), qsizetype(read.last));
    read.status = stream.streamStatus();
    read.code = stream.streamError() ? stream.streamError()->code : -1;
    stream.close();
    return read;
}

QByteArray readProvider(SequentialDataProvider& provider, qsizetype count)
{
    QByteArray buffer(count, '\0');
    buffer.truncate(qsizetype(provider.getBytes(std::as_writable_bytes(std::span(buffer.data(), std::size_t(count))))));
    return buffer;
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

Loaded load(const QByteArray& bytes, ZPStringEncoding encoding)
{
    ZPArchive archive(std::make_shared<const QByteArray>(bytes), encoding);
    Loaded loaded;
    if (archive.load(&loaded.error))
        loaded.entries = archive.entries();
    return loaded;
}

} // namespace ZipTest
