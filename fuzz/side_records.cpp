// The meta and header readers on any bytes: they never read past the data,
// and what they read is written back to the same record.
#include "FuzzText.h"

#include "Store/NoteHeaderFile.h"
#include "Store/NoteMetaFile.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    NoteMetaFile meta;
    if (meta.read(bytes)) {
        NoteMetaFile again;
        FUZZ_CHECK(again.read(meta.data()));
        FUZZ_CHECK(again.data() == meta.data());
    }
    NoteHeaderFile header;
    if (header.read(bytes)) {
        NoteHeaderFile again;
        FUZZ_CHECK(again.read(header.data()));
        FUZZ_CHECK(again.title == header.title && again.summary == header.summary);
    }
    return 0;
}
