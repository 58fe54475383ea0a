#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

// Appends little-endian primitives to a byte buffer; the record layout belongs
// to the caller. A text is a 32-bit UTF-8 byte count followed by the bytes.
class BinaryWriter {
public:
    BinaryWriter();
    // Appends to the given buffer, which stays shared with the caller.
    explicit BinaryWriter(std::shared_ptr<QByteArray> data);

    void writeByte(uint8_t value);
    void writeWord(uint16_t value);
    void writeDoubleWord(uint32_t value);
    void writeInt(int32_t value);
    void writeFloat(float value);
    void writeLong(uint64_t value);
    void writeBytes(const void* bytes, int32_t length);
    // The first `length` bytes of the UTF-8 form; nothing for a length below 1.
    void writeString(const QString& string, int32_t length);
    // A null or empty string is written as a count of 0.
    void writeText(const QString& text);

    // Replaces the file whole when atomically is set. An empty path is refused.
    bool writeToFile(const QString& path, bool atomically) const;

    const QByteArray& data() const { return *data_; }
    void setData(std::shared_ptr<QByteArray> data);

private:
    std::shared_ptr<QByteArray> data_;
};
