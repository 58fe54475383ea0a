#pragma once

#include "Error.h"
#include "ZPArchiveEntryWriter.h"
#include "streams/DataConsumer.h"
#include "streams/InputStream.h"
#include "streams/OutputStream.h"
#include "streams/SequentialDataProvider.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class ZPNewArchiveEntry;

// What every entry reports, whether read from an archive or made for writing.
class ZPArchiveEntry {
public:
    // The three ways a new entry's data is made: all at once, written into a
    // stream, or handed to a consumer. Failure: nothing or false, with the error.
    using DataBlock = std::function<std::optional<QByteArray>(Error* error)>;
    using StreamBlock = std::function<bool(OutputStream& stream, Error* error)>;
    using DataConsumerBlock = std::function<bool(DataConsumer& consumer, Error* error)>;

    // New entries of mode 0o100644 modified now, deflated at zlib's default
    // level or stored; a directory of mode 0o40755, stored and empty. Names go
    // into the headers unchanged (nothing is added to a directory's).
    static std::shared_ptr<ZPNewArchiveEntry> archiveEntryWithFileName(const QString& fileName, bool compress,
                                                                       DataBlock dataBlock);
    static std::shared_ptr<ZPNewArchiveEntry> archiveEntryWithFileName(const QString& fileName, bool compress,
                                                                       StreamBlock streamBlock);
    static std::shared_ptr<ZPNewArchiveEntry> archiveEntryWithFileName(const QString& fileName, bool compress,
                                                                       DataConsumerBlock dataConsumerBlock);
    static std::shared_ptr<ZPNewArchiveEntry> archiveEntryWithDirectoryName(const QString& directoryName);
    // Level 0 stores, -1 to 9 deflate; the first block given makes the data.
    static std::shared_ptr<ZPNewArchiveEntry> archiveEntryWithFileName(const QString& fileName, std::uint16_t fileMode,
                                                                       const QDateTime& lastModified,
                                                                       std::int64_t compressionLevel,
                                                                       DataBlock dataBlock, StreamBlock streamBlock,
                                                                       DataConsumerBlock dataConsumerBlock);

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
    // Writes the entry into a rebuilt archive; the flag lets an entry of the
    // archive being rebuilt leave its local record where it is.
    virtual std::unique_ptr<ZPArchiveEntryWriter> newWriter(bool canSkipLocalFile) const = 0;
};
