#include "BinaryWriter.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

template <typename T>
void appendLittleEndian(QByteArray& data, T value)
{
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if constexpr (std::endian::native == std::endian::big)
        std::reverse(bytes, bytes + sizeof(T));
    data.append(reinterpret_cast<const char*>(bytes), qsizetype(sizeof(T)));
}

} // namespace

BinaryWriter::BinaryWriter() : data_(std::make_shared<QByteArray>()) {}

BinaryWriter::BinaryWriter(std::shared_ptr<QByteArray> data)
    : data_(data ? std::move(data) : std::make_shared<QByteArray>())
{
}

void BinaryWriter::setData(std::shared_ptr<QByteArray> data)
{
    data_ = data ? std::move(data) : std::make_shared<QByteArray>();
}

void BinaryWriter::writeByte(uint8_t value) { appendLittleEndian(*data_, value); }
void BinaryWriter::writeWord(uint16_t value) { appendLittleEndian(*data_, value); }
void BinaryWriter::writeDoubleWord(uint32_t value) { appendLittleEndian(*data_, value); }
void BinaryWriter::writeInt(int32_t value) { appendLittleEndian(*data_, value); }
void BinaryWriter::writeFloat(float value) { appendLittleEndian(*data_, std::bit_cast<uint32_t>(value)); }
void BinaryWriter::writeLong(uint64_t value) { appendLittleEndian(*data_, value); }

void BinaryWriter::writeBytes(const void* bytes, int32_t length)
{
    if (length > 0 && bytes)
        data_->append(static_cast<const char*>(bytes), length);
}

void BinaryWriter::writeString(const QString& string, int32_t length)
{
    if (length < 1)
        return;
    const QByteArray utf8 = string.toUtf8();
    data_->append(utf8.constData(), qMin<qsizetype>(length, utf8.size()));
}

void BinaryWriter::writeText(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    const auto count = uint32_t(utf8.size());
    writeDoubleWord(count);
    if (count != 0)
        data_->append(utf8);
}

bool BinaryWriter::writeToFile(const QString& path, bool atomically) const
{
    if (path.isEmpty())
        return false;
    if (atomically) {
        // Written beside the target, flushed, then renamed over it.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        if (file.write(*data_) != data_->size()) {
            file.cancelWriting();
            return false;
        }
        return file.commit();
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(*data_) == data_->size() && file.flush();
}
