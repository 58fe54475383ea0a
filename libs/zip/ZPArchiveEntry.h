#pragma once

#include "Error.h"
#include "streams/InputStream.h"
#include "streams/SequentialDataProvider.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// What every entry reports, whether read from an archive or made for writing.
class ZPArchiveEntry {
public:
    virtual ~ZPArchiveEntry() = default;

    virtual bool compressed() const = 0;
    virtual bool encrypted() const = 0;
    virtual QDateTime lastModified() const = 0;
    virtual std::uint64_t crc32() const = 0;
    virtual std::uint64_t compressedSize() const = 0;
    virtual std::uint64_t uncompressedSize() const = 0;
    virtual std::uint16_t fileMode() const = 0;
    // Nothing when the name's bytes are invalid in its encoding.
    virtual std::optional<QString> fileName() const = 0;
    virtual bool check(Error* error = nullptr) const = 0;

    // The entry's bytes as an unopened stream, one buffer, or a provider; no
    // password is the empty one. Entries without readable data give none.
    virtual std::unique_ptr<InputStream> newStream(const QString& password = {}, Error* error = nullptr) const;
    virtual std::optional<QByteArray> newData(const QString& password = {}, Error* error = nullptr) const;
    virtual std::unique_ptr<SequentialDataProvider> newDataProvider(const QString& password = {},
                                                                    Error* error = nullptr) const;
};
