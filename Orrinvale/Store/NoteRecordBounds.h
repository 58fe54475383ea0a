#pragma once

#include "BinaryReader.h"

// BinaryReader pads a short record with zeros; the side-file readers check
// first and read a field only when all of it is there.
namespace NoteRecordBounds {

inline bool fits(const BinaryReader& reader, qsizetype bytes)
{
    return reader.data().size() - reader.cursor() >= bytes;
}

// A text: its 32-bit byte count and that many bytes.
inline bool fitsText(const BinaryReader& reader)
{
    if (!fits(reader, 4))
        return false;
    const uint32_t count = BinaryReader(reader.data().mid(reader.cursor(), 4)).readDoubleWord();
    return fits(reader, 4 + qsizetype(count));
}

} // namespace NoteRecordBounds
