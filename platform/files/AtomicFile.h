#pragma once

#include "Error.h"

#include <QByteArray>
#include <QString>

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

} // namespace AtomicFile
