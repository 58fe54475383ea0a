// The note record's reader on any bytes: a text field of either era decodes
// or refuses without crashing, never inflates past its cap, and a decoded text
// encodes back to itself; a record name maps to a note only when the note's
// own name for it splits the same way (a name too long for a record is cut, and the cut one stays).
#include "FuzzText.h"

#include "Cloud/NoteRecord.h"
#include "Store/Note.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto inflated = NoteRecord::gzipInflate(bytes);
    FUZZ_CHECK(!inflated || size_t(inflated->size()) <= NoteRecord::MaximumInflatedSize);
    for (const int64_t version : {int64_t(9), NoteRecord::Version}) {
        const auto text = NoteRecord::stringFromData(bytes, version);
        if (text)
            FUZZ_CHECK(NoteRecord::stringFromData(NoteRecord::dataFromString(*text), NoteRecord::Version).value_or(*text)
                       == *text);
    }
    const auto name = NoteRecord::splitName(QString::fromUtf8(bytes));
    if (name.storage != 0) {
        // A key too long for a record name is cut in it; the cut name then names itself.
        const QString made = NoteRecord::recordName(name.storage, name.key);
        const auto again = NoteRecord::splitName(made);
        FUZZ_CHECK(again.storage == name.storage && NoteRecord::recordName(again.storage, again.key) == made);
        FUZZ_CHECK(name.key.toUtf8().size() > Note::LongestKeyBytes || again.key == name.key);
    }
    return 0;
}
