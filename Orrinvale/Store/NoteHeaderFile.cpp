#include "NoteHeaderFile.h"

#include "BinaryWriter.h"
#include "NoteRecordBounds.h"

using NoteRecordBounds::fitsText;

QByteArray NoteHeaderFile::data() const
{
    BinaryWriter writer;
    writer.writeDoubleWord(Version);
    writer.writeText(title);
    writer.writeText(summary);
    return writer.data();
}

bool NoteHeaderFile::read(const QByteArray& data)
{
    BinaryReader reader(data);
    if (data.size() < 4 || reader.readInt() <= 0)
        return false;
    if (!fitsText(reader))
        return true;
    title = reader.readText();
    if (fitsText(reader))
        summary = reader.readText();
    return true;
}
