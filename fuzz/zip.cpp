// Loads any bytes as an archive and asks every entry for everything a reader
// can: metadata, name, the local header check, the support check and the data
// view, whose bytes are all touched.
#include "ZPArchive.h"

#include <cstddef>
#include <cstdint>

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
        volatile unsigned sink = sum;
        (void)sink;
    }
    return 0;
}
