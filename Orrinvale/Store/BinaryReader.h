#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// Walks the primitives that BinaryWriter appended, in the same order. A read
// past the end of the data yields zero bytes (a null text) and leaves the
// cursor at the end, so a short or empty file reads as version 0.
class BinaryReader {
public:
    explicit BinaryReader(const QByteArray& data = QByteArray());
    // The whole file, or no data when it cannot be read.
    static BinaryReader readerWithContentsOfFile(const QString& path);

    uint8_t readByte();
    uint16_t readWord();
    uint32_t readDoubleWord();
    int32_t readInt();
    float readFloat();
    uint64_t readLong();
    void readBytes(void* destination, int32_t length);
    // Null for a length below 1 (cursor unmoved) and for bytes that are not UTF-8.
    QString readString(int32_t length);
    // Null for a count of 0; an empty text never comes back.
    QString readText();

    int32_t cursor() const { return cursor_; }
    void setCursor(int32_t cursor) { cursor_ = cursor; }
    const QByteArray& data() const { return data_; }
    void setData(const QByteArray& data) { data_ = data; }

private:
    template <typename T>
    T readValue();

    int32_t cursor_ = 0;
    QByteArray data_;
};
