// Loads any bytes as an archive and asks every entry for everything a reader
// can: metadata, name, the local header check, the support check, the data
// view, whose bytes are all touched, and the data itself with no password and
// with the fixtures' one, whole and in small stream reads. Then one entry is
// appended to a writable copy: success must reload with the new entry readable,
// failure must leave the bytes as they were.
#include "ZPMutableArchive.h"
#include "ZPNewArchiveEntry.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace {

// Enough entries for every data path; an archive can name one bomb many times.
constexpr qsizetype entriesRead = 8;

unsigned readData(const ZPOldArchiveEntry& entry)
{
    unsigned sum = 0;
    for (const QString& password : {QString(), QStringLiteral("secret")}) {
        if (const auto data = entry.newData(password))
            sum += unsigned(data->size());
        const auto stream = entry.newStream(password);
        if (!stream)
            continue;
        stream->open();
        std::array<std::byte, 7> piece;
        while (stream->read(piece) > 0)
            sum += static_cast<unsigned>(piece[0]);
        stream->close();
    }
    return sum;
}

void checkAppend(const QByteArray& original)
{
    const auto bytes = std::make_shared<QByteArray>(original);
    ZPMutableArchive archive(bytes);
    const auto loaded = archive.entries();
    if (!loaded)
        return;
    ZPMutableArchive::NewEntries entries(loaded->begin(), loaded->end());
    entries.append(ZPArchiveEntry::archiveEntryWithFileName(
        QStringLiteral("added"), true, [](Error*) { return std::optional(QByteArray("added")); }));
    if (!archive.updateEntries(entries)) {
        if (*bytes != original)
            __builtin_trap();
        return;
    }
    const auto reloaded = archive.entries();
    if (!reloaded || reloaded->size() != entries.size() || reloaded->last()->newData() != "added")
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto bytes = std::make_shared<const QByteArray>(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const ZPStringEncoding encoding : {ZPStringEncoding::UTF8, ZPStringEncoding::CP437}) {
        ZPArchive archive(bytes, encoding);
        const auto entries = archive.entries();
        if (!entries)
            return 0;
        unsigned sum = 0;
        for (const auto& entry : *entries) {
            sum += entry->fileName().value_or(QString()).size() + entry->fileMode() + entry->compressed();
            sum += entry->lastModified().isValid() + entry->check() + entry->checkEncryptionAndCompression();
            if (const auto view = entry->fileData()) {
                for (const std::byte byte : view->bytes)
                    sum += static_cast<unsigned>(byte);
            }
        }
        if (encoding == ZPStringEncoding::UTF8) {
            for (const auto& entry : entries->mid(0, entriesRead))
                sum += readData(*entry);
        }
        volatile unsigned sink = sum;
        (void)sink;
    }
    checkAppend(*bytes);
    return 0;
}
