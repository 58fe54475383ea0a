#pragma once

#include "Error.h"

#include <QByteArray>
#include <QString>

#include <functional>

// Saving a file so that a reader sees either the old bytes or the new ones,
// never a mixture: the data goes to a temporary file in the same folder, is
// flushed to disk and renamed over the target. A file that was there keeps its
// permissions and its creation date. On any failure the temporary is removed
// and the old file is left as it was. A symbolic link is written through to
// its target. The folder must exist; an empty path is refused.
namespace AtomicFile {

// flushFolder also flushes the folder itself, so the rename survives a crash
// (used for note text files).
bool write(const QString& path, const QByteArray& data, Error* error = nullptr, bool flushFolder = false);
// The same for a new file: fails with EEXIST, and leaves the entry alone,
// when the name is taken, even by an entry that appears meanwhile.
bool create(const QString& path, const QByteArray& data, Error* error = nullptr, bool flushFolder = false);
// The same replacement for a cache the program can make again, without
// waiting for the disk: after a crash the file may be empty, and its readers
// take a record they cannot read for a missing one. A new cache file is the
// user's alone (0600).
bool writeCache(const QString& path, const QByteArray& data, Error* error = nullptr);
// The same for a new cache file named by path inside the folder open as
// folder, every name resolved from there: 0 when written, else the errno,
// EEXIST when the name is taken (the entry is left alone).
int createCacheAt(int folder, const QString& path, const QByteArray& data);

// True when path is a regular file holding exactly data (read through a
// symbolic link): saving the same bytes again then needs only their dates,
// and spares the disk a flush. False where a save would be refused.
bool holds(const QString& path, const QByteArray& data);

// Where a disk cannot be filled or made read-only (tests without mount
// rights), a check answers the errno a save of the path fails with, before
// anything is written; 0 lets it run. An empty check removes it.
void setFaultCheck(std::function<int(const QString& path)> check);

} // namespace AtomicFile
