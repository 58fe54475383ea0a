#pragma once

#include <QString>

#include <cstdint>

// A note's index marker records what was indexed: its length is the text
// file's size and its modification time the text file's, to the nanosecond.
// The text file written or edited since gives a marker that no longer
// matches, and the note is indexed again. The marker is sparse: it holds no
// data, only those two attributes.
namespace NoteIndexMarker {

struct Stamp {
    int64_t size = -1;
    int64_t seconds = 0;
    int64_t nanoseconds = 0;
    bool regular = false;

    // The whole second a note's record takes from its file: a date with a
    // fraction (another program's) counts as the next second, so the record
    // is never older than the file, and the sync's repair of such a file,
    // which dates it so, finds the record already right.
    int64_t recordSeconds() const { return seconds + (nanoseconds > 0 ? 1 : 0); }

    bool operator==(const Stamp&) const = default;
};

// The file as a link leads to it; size -1 when nothing is there. A marker
// matches its note when both stamps are equal.
Stamp stampOf(const QString& path);
// The same for a name inside an open folder: no path to resolve.
Stamp stampAt(int folder, const char* name);
// A stamp with the file's inode: what a note last read or wrote. An atomic
// replace that keeps size and time still gives another inode.
struct Identity {
    Stamp stamp;
    uint64_t inode = 0;

    bool operator==(const Identity&) const = default;
};
Identity identityOf(const QString& path);
Identity identityAt(int folder, const char* name);
// Marks the text file at documentPath as indexed; false when it is no
// regular file or the marker cannot be written.
bool write(const QString& markerPath, const QString& documentPath);
// The same with the stamp the text file had when it was indexed.
bool write(const QString& markerPath, const Stamp& document);
// Marks a note indexed with the stamp its text file had when it was read,
// the marker named inside an open folder.
bool writeAt(int folder, const char* name, const Stamp& document);

} // namespace NoteIndexMarker
