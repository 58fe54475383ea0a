#include "NoteMetaFile.h"

#include "BinaryWriter.h"
#include "NoteRecordBounds.h"

using NoteRecordBounds::fits;

QByteArray NoteMetaFile::data() const
{
    BinaryWriter writer;
    writer.writeDoubleWord(Version);
    writer.writeInt(int32_t(scrollCaret));
    writer.writeFloat(float(scrollCaretOffset));
    writer.writeInt(int32_t(selectedCaret));
    writer.writeWord(0);
    writer.writeWord(0);
    writer.writeLong(uint64_t(createdOn));
    writer.writeLong(uint64_t(updatedOn));
    writer.writeText(branchSignature);
    return writer.data();
}

bool NoteMetaFile::read(const QByteArray& data)
{
    BinaryReader reader(data);
    if (!fits(reader, 4))
        return false;
    const int32_t version = reader.readInt();
    if (version <= 0)
        return false;
    if (version < 6)
        selectedCaret = 0;

    if (!fits(reader, 4))
        return true;
    scrollCaret = reader.readInt();
    if (!fits(reader, 4))
        return true;
    scrollCaretOffset = reader.readFloat();
    if (version >= 6) {
        if (!fits(reader, 4))
            return true;
        selectedCaret = reader.readInt();
    }
    const int reservedWords = version == 1 ? 1 : 2;
    if (!fits(reader, 2 * reservedWords))
        return true;
    for (int i = 0; i < reservedWords; ++i)
        reader.readWord();
    if (!fits(reader, 8))
        return true;
    createdOn = int64_t(reader.readLong());
    if (!fits(reader, 8))
        return true;
    updatedOn = int64_t(reader.readLong());
    if (version >= 4 && NoteRecordBounds::fitsText(reader))
        branchSignature = reader.readText();
    return true;
}
