#include "BinaryReader.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <bit>
#include <cstring>

BinaryReader::BinaryReader(const QByteArray& data) : data_(data) {}

BinaryReader BinaryReader::readerWithContentsOfFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return BinaryReader();
    return BinaryReader(file.readAll());
}

namespace {

// The bytes the cursor may take without leaving the data; 0 once outside it.
qint64 available(const QByteArray& data, int32_t cursor)
{
    if (cursor < 0 || cursor > data.size())
        return 0;
    return data.size() - cursor;
}

} // namespace

template <typename T>
T BinaryReader::readValue()
{
    unsigned char bytes[sizeof(T)] = {};
    readBytes(bytes, int32_t(sizeof(T)));
    if constexpr (std::endian::native == std::endian::big)
        std::reverse(bytes, bytes + sizeof(T));
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return value;
}

uint8_t BinaryReader::readByte() { return readValue<uint8_t>(); }
uint16_t BinaryReader::readWord() { return readValue<uint16_t>(); }
uint32_t BinaryReader::readDoubleWord() { return readValue<uint32_t>(); }
int32_t BinaryReader::readInt() { return readValue<int32_t>(); }
float BinaryReader::readFloat() { return std::bit_cast<float>(readValue<uint32_t>()); }
uint64_t BinaryReader::readLong() { return readValue<uint64_t>(); }

void BinaryReader::readBytes(void* destination, int32_t length)
{
    if (length <= 0)
        return;
    if (available(data_, cursor_) < length) {
        // A short record: zeros instead of whatever lies beyond the data.
        std::memset(destination, 0, size_t(length));
        cursor_ = int32_t(data_.size());
        return;
    }
    std::memcpy(destination, data_.constData() + cursor_, size_t(length));
    cursor_ += length;
}

QString BinaryReader::readString(int32_t length)
{
    if (length <= 0)
        return QString();
    if (available(data_, cursor_) < length) {
        cursor_ = int32_t(data_.size());
        return QString();
    }
    const QByteArrayView bytes(data_.constData() + cursor_, length);
    cursor_ += length;
    // A leading byte-order mark is part of the text, not a marker to drop.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString string = decoder.decode(bytes);
    if (decoder.hasError())
        return QString();
    return string;
}

QString BinaryReader::readText()
{
    return readString(int32_t(readDoubleWord()));
}
